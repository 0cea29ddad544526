#include "mail/MailClient.h"

#include "mail/MailMessage.h"
#include "mail/MailServer.h"
#include "mail/Redact.h"
#include "platform/Socket.h"

#include <QByteArrayList>
#include <QDateTime>
#include <QElapsedTimer>
#include <QStringList>

#include <curl/curl.h>

#include <cstring>
#include <memory>
#include <mutex>

using namespace Qt::Literals::StringLiterals;

namespace mail {

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

void initCurlOnce()
{
    initialize();
}

// What the client was doing when the exchange ended; it names the failure.
enum class Phase { Connect, Tls, Auth, Sender, Recipient, Body, Command };

struct PhaseTexts
{
    QString rejected;
    QString dropped;
};

PhaseTexts textsFor(Phase phase)
{
    switch (phase) {
    case Phase::Connect:
        return {u"サーバーが接続を受け付けませんでした。"_s, u"サーバーとの接続が切れました。"_s};
    case Phase::Tls:
        return {u"サーバーがTLSの開始を拒否しました。"_s, u"TLSの開始中に接続が切れました。"_s};
    case Phase::Auth:
        return {u"認証に失敗しました。"_s, u"認証中に接続が切れました。"_s};
    case Phase::Sender:
        return {u"送信者アドレスがサーバーに拒否されました。"_s, u"送信者の指定中に接続が切れました。"_s};
    case Phase::Recipient:
        return {u"宛先アドレスがサーバーに拒否されました。"_s, u"宛先の指定中に接続が切れました。"_s};
    case Phase::Body:
        return {u"本文がサーバーに拒否されました。"_s, u"本文の送信中に接続が切れました。"_s};
    case Phase::Command:
        return {u"POPコマンドがサーバーに拒否されました。"_s, u"POPコマンドの実行中に接続が切れました。"_s};
    }
    return {};
}

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

// "+OK count size" as the values of a successful STAT.
QStringList statValues(const QByteArray &reply)
{
    const QList<QByteArray> fields = reply.simplified().split(' ');
    QStringList values;
    for (qsizetype i = 1; i < fields.size(); ++i)
        values.append(QString::fromLatin1(fields[i]));
    return values;
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

size_t onRead(char *buffer, size_t size, size_t count, void *user)
{
    auto &ex = *static_cast<Exchange *>(user);
    const qsizetype room = qsizetype(size * count);
    const qsizetype n = std::min(room, ex.payload.size() - ex.sent);
    std::memcpy(buffer, ex.payload.constData() + ex.sent, size_t(n));
    ex.sent += n;
    return size_t(n);
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

// Runs the transfer in a loop that cancel() can wake at once. A transfer that ended before the
// cancel keeps its own result.
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

QString replyText(const QByteArray &reply)
{
    QString text = QString::fromUtf8(reply);
    for (QChar &c : text) {
        if (c.unicode() < 0x20) {
            c = u' ';
        }
    }
    return text;
}

QString withDetail(const QString &sentence, const QString &detail)
{
    return detail.isEmpty() ? sentence : sentence + u' ' + detail;
}

QString failureText(CURLcode code, const Exchange &ex)
{
    const QString reply = replyText(ex.errorReply);
    switch (code) {
    case CURLE_ABORTED_BY_CALLBACK:
        return cancelledText();
    case CURLE_COULDNT_RESOLVE_HOST:
        return u"サーバー名が見つかりませんでした。"_s;
    case CURLE_COULDNT_CONNECT:
        return u"サーバーに接続できませんでした。"_s;
    case CURLE_OPERATION_TIMEDOUT:
        return u"サーバーの応答が時間切れになりました。"_s;
    case CURLE_USE_SSL_FAILED:
        // Only asked for when a password would otherwise cross the network in the clear.
        return withDetail(u"サーバーがTLSに対応していないため、パスワードを送りませんでした。"_s, reply);
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
        return withDetail(u"TLSの接続に失敗しました。"_s, QString::fromUtf8(ex.error));
    case CURLE_LOGIN_DENIED:
        return withDetail(u"認証に失敗しました。"_s, reply);
    default:
        break;
    }
    const PhaseTexts texts = textsFor(reply.isEmpty() ? ex.phase : ex.errorPhase);
    return reply.isEmpty() ? texts.dropped : withDetail(texts.rejected, reply);
}

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

void append(CurlList &list, const QByteArray &item)
{
    curl_slist *grown = curl_slist_append(list.get(), item.constData());
    if (grown) {
        (void)list.release();
        list.reset(grown);
    }
}

// The options both protocols share: limits, certificates, and TLS whenever it can be had.
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

} // namespace

void initialize()
{
    static std::once_flag flag;
    std::call_once(flag, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

void TransferControl::cancel()
{
    const std::lock_guard lock(m_mutex);
    m_cancelled.store(true);
    if (m_multi)
        curl_multi_wakeup(static_cast<CURLM *>(m_multi));
}

void TransferControl::setVerdict(const QVariant &answer)
{
    {
        const std::lock_guard lock(m_mutex);
        if (m_verdict)
            return;
        m_verdict = answer;
    }
    if (m_onVerdict)
        m_onVerdict();
}

std::optional<QVariant> TransferControl::verdict() const
{
    const std::lock_guard lock(m_mutex);
    return m_verdict;
}

bool TransferControl::attach(void *multi)
{
    const std::lock_guard lock(m_mutex);
    if (m_cancelled.load())
        return false;
    m_multi = multi;
    return true;
}

void TransferControl::detach()
{
    // Under the lock: cancel() must never wake a loop that has been taken down.
    const std::lock_guard lock(m_mutex);
    m_multi = nullptr;
}

void TransferControl::socketOpened(qintptr socket)
{
    const std::lock_guard lock(m_mutex);
    m_socket = socket;
}

void TransferControl::socketClosing(qintptr socket)
{
    // The number is free for others once closed, so it is forgotten first, under the lock that
    // cutLine() takes.
    const std::lock_guard lock(m_mutex);
    if (m_socket == socket)
        m_socket = -1;
    net::closeSocket(socket);
}

void TransferControl::cutLine()
{
    const std::lock_guard lock(m_mutex);
    if (m_socket >= 0)
        net::shutdownBoth(m_socket);
}

QString cancelledText()
{
    return u"終了のため中断しました。"_s;
}

QString SendMail(const QString &server, const QString &recipients, const QString &sender, const QString &subject,
    const QString &body, const QString &reserved, TransferControl *control)
{
    Q_UNUSED(reserved);
    if (server.trimmed().isEmpty()) {
        return u"SMTPサーバーが設定されていません。"_s;
    }
    const std::optional<MailServer> target = parseMailServer(server, Protocol::Smtp);
    if (!target) {
        return u"SMTPサーバーの指定が正しくありません。 "_s + withoutLineBreaks(withoutPassword(server));
    }
    const QString from = sender.trimmed();
    if (from.isEmpty()) {
        return u"送信者アドレスが設定されていません。"_s;
    }
    if (!isUsableAddress(from)) {
        return u"送信者アドレスが正しくありません。 "_s + withoutLineBreaks(from);
    }
    const QStringList to = splitRecipients(recipients);
    if (to.isEmpty()) {
        return u"宛先アドレスが設定されていません。"_s;
    }
    for (const QString &address : to) {
        if (!isUsableAddress(address)) {
            return u"宛先アドレスが正しくありません。 "_s + withoutLineBreaks(address);
        }
    }

    initCurlOnce();
    Exchange ex;
    ex.payload = composeMessage({from, to, subject, body, QDateTime::currentDateTime(), newMessageId(from)});

    CurlList rcpt;
    for (const QString &address : to) {
        append(rcpt, '<' + address.toUtf8() + '>');
    }
    CurlList resolve;
    const QByteArray url = target->url().toUtf8();
    const QByteArray mailFrom = '<' + from.toUtf8() + '>';
    const QByteArray user = target->user.toUtf8();
    const QByteArray password = target->password.toUtf8();

    CurlHandle curl(curl_easy_init());
    if (!curl) {
        return u"メール送信の準備に失敗しました。"_s;
    }
    CURL *c = curl.get();
    setCommonOptions(c, ex, *target, target->hasUser, resolve, url);
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "smtp,smtps");
    curl_easy_setopt(c, CURLOPT_MAIL_FROM, mailFrom.constData());
    curl_easy_setopt(c, CURLOPT_MAIL_RCPT, rcpt.get());
    curl_easy_setopt(c, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(c, CURLOPT_READFUNCTION, onRead);
    curl_easy_setopt(c, CURLOPT_READDATA, &ex);
    curl_easy_setopt(c, CURLOPT_INFILESIZE_LARGE, curl_off_t(ex.payload.size()));
    if (target->hasUser) {
        curl_easy_setopt(c, CURLOPT_USERNAME, user.constData());
        curl_easy_setopt(c, CURLOPT_PASSWORD, password.constData());
    }

    const CURLcode code = perform(c, control, ex);
    // Taken is taken: what the goodbye brings after it changes nothing.
    return code == CURLE_OK || ex.verdict ? QString() : failureText(code, ex);
}

QVariant RcvMail(const QString &server, const QString &account, const QString &password, const QString &command,
    const QString &workingFolder, TransferControl *control)
{
    Q_UNUSED(workingFolder);
    if (server.trimmed().isEmpty()) {
        return u"POPサーバーが設定されていません。"_s;
    }
    std::optional<MailServer> target = parseMailServer(server, Protocol::Pop3);
    if (!target) {
        return QString(u"POPサーバーの指定が正しくありません。 "_s + withoutLineBreaks(withoutPassword(server)));
    }
    if (command.trimmed().compare(u"STAT"_s, Qt::CaseInsensitive) != 0) {
        return QString(u"このPOPコマンドには対応していません。 "_s + withoutLineBreaks(command));
    }
    if (!account.isEmpty()) {
        target->user = account;
        target->password = password;
        target->hasUser = true;
    }
    if (!target->hasUser || target->user.isEmpty()) {
        return u"POPのアカウントが設定されていません。"_s;
    }

    initCurlOnce();
    Exchange ex;
    ex.protocol = Protocol::Pop3;
    CurlList resolve;
    const QByteArray url = target->url().toUtf8();
    const QByteArray user = target->user.toUtf8();
    const QByteArray pass = target->password.toUtf8();

    CURLcode code = CURLE_OK;
    {
        CurlHandle curl(curl_easy_init());
        if (!curl) {
            return u"POPの準備に失敗しました。"_s;
        }
        CURL *c = curl.get();
        setCommonOptions(c, ex, *target, true, resolve, url);
        curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "pop3,pop3s");
        curl_easy_setopt(c, CURLOPT_USERNAME, user.constData());
        curl_easy_setopt(c, CURLOPT_PASSWORD, pass.constData());
        curl_easy_setopt(c, CURLOPT_CUSTOMREQUEST, "STAT");
        // STAT answers on one line; without this curl would wait for a multi-line listing.
        curl_easy_setopt(c, CURLOPT_NOBODY, 1L);
        code = perform(c, control, ex);
    }
    if (ex.verdict) {
        return statValues(ex.verdictReply);
    }
    if (code != CURLE_OK) {
        return failureText(code, ex);
    }
    return statValues(ex.lastReply);
}

namespace testing {

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
