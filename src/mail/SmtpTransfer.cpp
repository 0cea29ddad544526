#include "mail/CurlTransfer.h"
#include "mail/MailClient.h"
#include "mail/MailMessage.h"
#include "mail/Redact.h"

#include <QDateTime>

#include <cstring>

using namespace Qt::Literals::StringLiterals;

namespace mail {

using namespace transfer;

namespace {

size_t onRead(char *buffer, size_t size, size_t count, void *user)
{
    auto &ex = *static_cast<Exchange *>(user);
    const qsizetype room = qsizetype(size * count);
    const qsizetype n = std::min(room, ex.payload.size() - ex.sent);
    std::memcpy(buffer, ex.payload.constData() + ex.sent, size_t(n));
    ex.sent += n;
    return size_t(n);
}

} // namespace

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

    initialize();
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

} // namespace mail
