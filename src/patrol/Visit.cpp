#include "patrol/Visit.h"

#include "platform/Clip.h"

#include "mail/Redact.h"

using namespace Qt::StringLiterals;

namespace {

// Text from outside (an address, a server's answer) on one line of the log.
QString oneLine(QString text, qsizetype limit)
{
    for (QChar &c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F || c == QChar::LineSeparator || c == QChar::ParagraphSeparator)
            c = u' ';
    }
    return clipped(text, limit);
}

} // namespace

QString Visit::outcomeText(const LoadResult &load)
{
    using F = LoadResult::Failure;
    switch (load.failure) {
    case F::None:
        if (load.httpStatus == 403)
            return u"アクセスが拒否されました（HTTP 403）"_s;
        if (load.httpStatus == 404 || load.httpStatus == 410)
            return u"ページが見つかりません（HTTP %1）"_s.arg(load.httpStatus);
        if (load.httpStatus == 429)
            return u"アクセスが多すぎると断られました（HTTP 429）"_s;
        if (load.httpStatus >= 500)
            return u"サーバーの障害です（HTTP %1）"_s.arg(load.httpStatus);
        return load.httpStatus >= 400 ? u"HTTPエラー %1"_s.arg(load.httpStatus) : u"正常"_s;
    case F::Refused:
        return u"読み込めないアドレスです"_s;
    case F::NameNotResolved:
        return u"サーバー名が見つかりません"_s;
    case F::ConnectionFailed:
        return u"接続できません"_s;
    case F::Certificate:
        return u"TLS証明書が拒否されました"_s;
    case F::NoDocument:
        return u"ページが届きません（ダウンロードまたは空の応答）"_s;
    case F::TimedOut:
        return u"応答がありません"_s;
    case F::RendererEnded:
        return u"ページの表示処理が終了しました"_s;
    case F::Other:
        break;
    }
    return u"読み込みに失敗しました（%1）"_s.arg(load.engineCode);
}

QString Visit::loginRequiredText()
{
    return u"ログインが必要です"_s;
}

QString Visit::outcome() const
{
    if (loginRequired)
        return loginRequiredText();
    if (challenge)
        return u"ボット確認のページです（HTTP %1）"_s.arg(load.httpStatus);
    QString text = outcomeText(load);
    if (retryAt > 0)
        text += u"、%1 まで待ちます"_s.arg(QDateTime::fromMSecsSinceEpoch(retryAt).toString(u"MM/dd HH:mm:ss"_s));
    return text;
}

bool Visit::hostFailed() const
{
    using F = LoadResult::Failure;
    const F f = load.failure;
    return f == F::NameNotResolved || f == F::ConnectionFailed || f == F::TimedOut
        || (f == F::None && (load.httpStatus == 429 || load.httpStatus >= 500));
}

QString Visit::logLine() const
{
    QString line = when.toString(Qt::ISODate) + (target ? u" target "_s : u" link "_s)
        + oneLine(mail::withoutPassword(address), 300) + u" ["_s + (interrupted ? u"中断"_s : outcome()) + u"]"_s;
    if (!interrupted && load.documentArrived() && !load.complete)
        line += u" unfinished"_s;
    line += u" lines=%1 new=%2"_s.arg(lines).arg(newHits);
    switch (mail) {
    case Mail::None:
        line += u" mail=none"_s;
        break;
    case Mail::Sent:
        line += u" mail=sent"_s;
        break;
    case Mail::Failed:
        line += u" mail=failed("_s + oneLine(mailFailure, 120) + u")"_s;
        break;
    }
    if (!popFailure.isEmpty())
        line += u" pop=failed("_s + oneLine(popFailure, 120) + u")"_s;
    if (cost.ms >= 0)
        line += u" ms=%1"_s.arg(cost.ms);
    if (cost.bytes >= 0)
        line += u" bytes=%1"_s.arg(cost.bytes);
    if (cost.residentBytes >= 0)
        line += u" rss=%1M"_s.arg((cost.residentBytes + (1 << 19)) >> 20);
    return line;
}

applog::Priority Visit::priority() const
{
    if (interrupted)
        return applog::Priority::Notice;
    if (!works() || mail == Mail::Failed || !popFailure.isEmpty())
        return applog::Priority::Warning;
    return applog::Priority::Info;
}
