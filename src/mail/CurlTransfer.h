#pragma once

#include "mail/MailServer.h"
#include "mail/TransferControl.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QStringList>

#include <curl/curl.h>

#include <memory>

// What the SMTP and the POP3 transfers share: the curl set-up with its limits, the transfer loop
// that a TransferControl can end, and the failure texts. Only the mail component includes this.
namespace mail::transfer {

// What the client was doing when the exchange ended; it names the failure.
enum class Phase { Connect, Tls, Auth, Sender, Recipient, Body, Command };

struct Exchange
{
    Protocol protocol = Protocol::Smtp;
    TransferControl *control = nullptr;
    Phase phase = Phase::Connect;
    QByteArray lastReply;
    // The last refusal and what it refused. Replies after QUIT are not kept: curl quits after a
    // failure, and its "221 Bye" must not hide the refusal.
    QByteArray errorReply;
    Phase errorPhase = Phase::Connect;
    bool quitting = false;
    QByteArray payload;
    qsizetype sent = 0;
    // The server's verdict on the message or the command, and since when it is known: the
    // goodbye after it gets kGoodbyeMs.
    bool verdict = false;
    QElapsedTimer sinceVerdict;
    QByteArray verdictReply;
    char error[CURL_ERROR_SIZE] = {};
};

struct CurlDeleter
{
    void operator()(CURL *c) const { curl_easy_cleanup(c); }
};
struct ListDeleter
{
    void operator()(curl_slist *l) const { curl_slist_free_all(l); }
};
using CurlHandle = std::unique_ptr<CURL, CurlDeleter>;
using CurlList = std::unique_ptr<curl_slist, ListDeleter>;

void append(CurlList &list, const QByteArray &item);

// The options both protocols share: limits, certificates, and TLS whenever it can be had.
void setCommonOptions(
    CURL *curl, Exchange &ex, const MailServer &server, bool sendsPassword, CurlList &resolve, const QByteArray &url);

// Runs the transfer in a loop that cancel() can wake at once. A transfer that ended before the
// cancel keeps its own result.
CURLcode perform(CURL *curl, TransferControl *given, Exchange &ex);

// The short Japanese sentence for a transfer that failed, with the server's reply when it gave one.
QString failureText(CURLcode code, const Exchange &ex);

// "+OK count size" as the values of a successful STAT.
QStringList statValues(const QByteArray &reply);

} // namespace mail::transfer
