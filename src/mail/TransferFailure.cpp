#include "mail/CurlTransfer.h"
#include "mail/MailClient.h"

using namespace Qt::Literals::StringLiterals;

namespace mail {

namespace transfer {

namespace {

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

} // namespace

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

} // namespace transfer

QString cancelledText()
{
    return u"終了のため中断しました。"_s;
}

} // namespace mail
