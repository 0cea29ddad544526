#include "mail/CurlTransfer.h"

#include "mail/MailClient.h"
#include "mail/MailClientTesting.h"
#include "platform/Socket.h"

#include <QByteArrayList>

#include <mutex>

namespace mail {

namespace transfer {

namespace {

struct Limits
{
    int connectMs = kConnectTimeoutMs;
    int totalMs = kTotalTimeoutMs;
    QByteArray caFile;
    QByteArrayList resolve;
};

Limits &limits()
{
    static Limits l;
    return l;
}

bool isErrorReply(const QByteArray &reply)
{
    return reply.startsWith('4') || reply.startsWith('5') || reply.startsWith("-ERR");
}

void noteCommand(Exchange &ex, const QByteArray &line)
{
    // A command alone on its line ("QUIT", "STAT") has no space after its verb.
    const qsizetype space = line.indexOf(' ');
    const QByteArray verb = (space < 0 ? line : line.left(space)).trimmed().toUpper();
    if (verb == "QUIT") {
        ex.quitting = true;
    } else if (verb == "STARTTLS" || verb == "STLS") {
        ex.phase = Phase::Tls;
    } else if (verb == "AUTH" || verb == "USER" || verb == "PASS" || verb == "APOP") {
        ex.phase = Phase::Auth;
    } else if (verb == "MAIL") {
        ex.phase = Phase::Sender;
    } else if (verb == "RCPT") {
        ex.phase = Phase::Recipient;
    } else if (verb == "DATA") {
        ex.phase = Phase::Body;
    } else if (verb == "STAT") {
        ex.phase = Phase::Command;
    }
    // Anything else (EHLO, CAPA, the lines of an AUTH LOGIN) leaves the phase as it is.
}

// A reply line that ends a reply: "250 OK", not "250-PIPELINING".
bool isFinalLine(const QByteArray &line)
{
    return line.size() < 4 || line[3] != '-';
}

// The reply that decides the transfer: the message taken (2xx to the end of its data), or the
// POP command answered. What follows is only the goodbye.
void noteVerdict(Exchange &ex, const QByteArray &line)
{
    if (ex.verdict)
        return;
    bool decided = false;
    if (ex.protocol == Protocol::Smtp)
        decided = ex.phase == Phase::Body && !ex.payload.isEmpty() && ex.sent == ex.payload.size()
            && line.startsWith('2') && isFinalLine(line);
    else
        decided = ex.phase == Phase::Command && line.startsWith("+OK");
    if (!decided)
        return;
    ex.verdict = true;
    ex.verdictReply = line;
    ex.sinceVerdict.start();
    if (ex.control)
        ex.control->setVerdict(ex.protocol == Protocol::Smtp ? QVariant(QString()) : QVariant(statValues(line)));
}

int onDebug(CURL *, curl_infotype type, char *data, size_t size, void *user)
{
    auto &ex = *static_cast<Exchange *>(user);
    const QByteArray text(data, qsizetype(size));
    if (type == CURLINFO_HEADER_IN && !ex.quitting) {
        for (const QByteArray &line : text.split('\n')) {
            const QByteArray trimmed = line.trimmed();
            if (!trimmed.isEmpty()) {
                ex.lastReply = trimmed;
                if (isErrorReply(trimmed)) {
                    ex.errorReply = trimmed;
                    ex.errorPhase = ex.phase;
                }
                noteVerdict(ex, trimmed);
            }
        }
    } else if (type == CURLINFO_HEADER_OUT) {
        noteCommand(ex, text);
    } else if (type == CURLINFO_DATA_OUT) {
        ex.phase = Phase::Body;
    }
    return 0;
}

// curl's sockets pass through these, so that a cancel cuts the one open now and never a
// number that an earlier connection had and somebody else may have been given since.
curl_socket_t onOpenSocket(void *user, curlsocktype, curl_sockaddr *address)
{
    const qintptr s = net::openSocket(address->family, address->socktype, address->protocol);
    if (s < 0)
        return CURL_SOCKET_BAD;
    static_cast<TransferControl *>(user)->socketOpened(s);
    return curl_socket_t(s);
}

int onCloseSocket(void *user, curl_socket_t socket)
{
    if (user)
        static_cast<TransferControl *>(user)->socketClosing(qintptr(socket));
    else
        net::closeSocket(qintptr(socket));
    return 0;
}

// How long a cancelled mail still waits for the server's verdict once its whole message is out:
// the server may have taken it, and a mail counted as not sent would go out twice.
constexpr int kVerdictGraceMs = 1000;

// When a transfer stops before curl is done with it: a cancelled one at once, unless its whole
// message is out and only the server's verdict is missing (then a little later); and once the
// verdict is in, nothing waits long for the goodbye.
class StopCheck
{
public:
    StopCheck(const TransferControl &control, const Exchange &ex)
        : m_control(control)
        , m_ex(ex)
    { }

    bool stop()
    {
        if (m_ex.verdict) {
            // curl asks about once a second while it waits for the answer to QUIT, so stopping
            // after a second keeps the whole goodbye within kGoodbyeMs.
            return m_control.cancelled() || m_ex.sinceVerdict.hasExpired(kGoodbyeMs - 1000);
        }
        if (!m_control.cancelled())
            return false;
        if (m_ex.payload.isEmpty() || m_ex.sent < m_ex.payload.size())
            return true;
        if (!m_grace.isValid())
            m_grace.start();
        return m_grace.hasExpired(kVerdictGraceMs);
    }
    bool waiting() const { return m_grace.isValid(); }

private:
    const TransferControl &m_control;
    const Exchange &m_ex;
    QElapsedTimer m_grace;
};

// curl waits for the verdict on a message, and for the answer to QUIT, inside one call, asking
// this about once a second.
int onProgress(void *user, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    return static_cast<StopCheck *>(user)->stop() ? 1 : 0;
}

} // namespace

CURLcode perform(CURL *curl, TransferControl *given, Exchange &ex)
{
    TransferControl own;
    TransferControl &control = given ? *given : own;
    ex.control = &control;
    StopCheck check(control, ex);
    // Each transfer says goodbye on its own connection, inside the transfer, where the check
    // above bounds it; a connection left to the cache would say it at clean-up, where curl waits
    // up to two minutes for an answer and nothing can cut it short.
    curl_easy_setopt(curl, CURLOPT_FORBID_REUSE, 1L);
    curl_easy_setopt(curl, CURLOPT_OPENSOCKETFUNCTION, onOpenSocket);
    curl_easy_setopt(curl, CURLOPT_OPENSOCKETDATA, &control);
    curl_easy_setopt(curl, CURLOPT_CLOSESOCKETFUNCTION, onCloseSocket);
    curl_easy_setopt(curl, CURLOPT_CLOSESOCKETDATA, &control);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, onProgress);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &check);
    CURLM *multi = curl_multi_init();
    if (!multi)
        return CURLE_OUT_OF_MEMORY;
    curl_multi_add_handle(multi, curl);
    CURLcode result = CURLE_ABORTED_BY_CALLBACK;
    bool done = false;
    if (control.attach(multi)) {
        for (;;) {
            int running = 0;
            if (curl_multi_perform(multi, &running) != CURLM_OK) {
                result = CURLE_FAILED_INIT;
                break;
            }
            int left = 0;
            while (CURLMsg *msg = curl_multi_info_read(multi, &left)) {
                if (msg->msg == CURLMSG_DONE) {
                    result = msg->data.result;
                    done = true;
                }
            }
            if (done || check.stop())
                break;
            // A cancel wakes the poll; while waiting for a verdict it would wake it at once again.
            curl_multi_poll(multi, nullptr, 0, check.waiting() ? 20 : 1000, nullptr);
        }
        control.detach();
    }
    // Taking out a transfer that is not done may still try to talk on its line: cut it first, so
    // that nothing is waited for.
    if (!done)
        control.cutLine();
    curl_multi_remove_handle(multi, curl);
    curl_multi_cleanup(multi);
    // The handle outlives this call; nothing of it may point here any more.
    curl_easy_setopt(curl, CURLOPT_CLOSESOCKETDATA, nullptr);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 1L);
    ex.control = nullptr;
    return done || !control.cancelled() ? result : CURLE_ABORTED_BY_CALLBACK;
}

void append(CurlList &list, const QByteArray &item)
{
    curl_slist *grown = curl_slist_append(list.get(), item.constData());
    if (grown) {
        (void)list.release();
        list.reset(grown);
    }
}

void setCommonOptions(
    CURL *curl, Exchange &ex, const MailServer &server, bool sendsPassword, CurlList &resolve, const QByteArray &url)
{
    const Limits &l = limits();
    curl_easy_setopt(curl, CURLOPT_URL, url.constData());
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, long(l.connectMs));
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, long(l.totalMs));
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, ex.error);
    curl_easy_setopt(curl, CURLOPT_VERBOSE, 1L);
    curl_easy_setopt(curl, CURLOPT_DEBUGFUNCTION, onDebug);
    curl_easy_setopt(curl, CURLOPT_DEBUGDATA, &ex);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
    const bool mustEncrypt = sendsPassword && !server.implicitTls && !isLoopbackHost(server.host);
    curl_easy_setopt(curl, CURLOPT_USE_SSL, mustEncrypt ? long(CURLUSESSL_ALL) : long(CURLUSESSL_TRY));
    if (!l.caFile.isEmpty()) {
        curl_easy_setopt(curl, CURLOPT_CAINFO, l.caFile.constData());
    }
    for (const QByteArray &entry : l.resolve) {
        append(resolve, entry);
    }
    if (resolve) {
        curl_easy_setopt(curl, CURLOPT_RESOLVE, resolve.get());
    }
}

} // namespace transfer

void initialize()
{
    static std::once_flag flag;
    std::call_once(flag, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

namespace testing {

using transfer::limits;
using transfer::Limits;

void setTimeouts(int connectMs, int totalMs)
{
    limits().connectMs = connectMs;
    limits().totalMs = totalMs;
}

void setCaFile(const QString &path)
{
    limits().caFile = path.toLocal8Bit();
}

void setResolve(const QStringList &entries)
{
    limits().resolve.clear();
    for (const QString &e : entries) {
        limits().resolve.append(e.toUtf8());
    }
}

void reset()
{
    limits() = Limits {};
}

} // namespace testing

} // namespace mail
