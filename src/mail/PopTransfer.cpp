#include "mail/CurlTransfer.h"
#include "mail/MailClient.h"
#include "mail/MailMessage.h"
#include "mail/Redact.h"

using namespace Qt::Literals::StringLiterals;

namespace mail {

using namespace transfer;

QStringList transfer::statValues(const QByteArray &reply)
{
    const QList<QByteArray> fields = reply.simplified().split(' ');
    QStringList values;
    for (qsizetype i = 1; i < fields.size(); ++i)
        values.append(QString::fromLatin1(fields[i]));
    return values;
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

    initialize();
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

} // namespace mail
