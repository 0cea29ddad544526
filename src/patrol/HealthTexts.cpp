#include "patrol/HealthTexts.h"

#include "mail/Redact.h"

#include <algorithm>

using namespace Qt::StringLiterals;

namespace HealthTexts {

namespace {

QString shortTime(const QDateTime &t)
{
    return t.toString(u"MM/dd HH:mm"_s);
}

// The time of day alone when it is the same day, so that the tooltip stays short.
QString sinceText(const QDateTime &since, const QDateTime &now)
{
    return since.date() == now.date() ? since.toString(u"HH:mm"_s) : shortTime(since);
}

QString spanText(qint64 seconds)
{
    const qint64 minutes = std::max<qint64>(0, seconds) / 60;
    if (minutes < 60)
        return u"%1分"_s.arg(minutes);
    if (minutes < 24 * 60)
        return u"%1時間%2分"_s.arg(minutes / 60).arg(minutes % 60);
    return u"%1日%2時間"_s.arg(minutes / (24 * 60)).arg(minutes / 60 % 24);
}

} // namespace

QString alertSubject(const QString &address)
{
    return u"[KVS] 巡回エラー "_s + mail::withoutPassword(address);
}

QString loginLostSubject(const QString &address)
{
    return u"[KVS] ログイン切れ "_s + mail::withoutPassword(address);
}

QString loginLostNote()
{
    return u"メニューの「ログイン…」でログインし直してください"_s;
}

QString recoverySubject(const QString &address)
{
    return u"[KVS] 巡回回復 "_s + mail::withoutPassword(address);
}

QString alertBody(const QString &address, const QString &reason, const QDateTime &firstFailure, int count)
{
    return u"対象: "_s + mail::withoutPassword(address) + u"\r\n理由: "_s + reason + u"\r\n最初の失敗: "_s
        + firstFailure.toString(u"yyyy/MM/dd HH:mm:ss"_s) + u"\r\n連続失敗: %1回\r\n"_s.arg(count);
}

QString recoveryBody(
    const QString &address, const QDateTime &failedSince, int failedVisits, const QDateTime &worksAgain)
{
    return u"対象: "_s + mail::withoutPassword(address) + u"\r\n回復: "_s
        + worksAgain.toString(u"yyyy/MM/dd HH:mm:ss"_s) + u"\r\n失敗していた期間: "_s
        + spanText(failedSince.secsTo(worksAgain)) + u"（%1回連続、最初の失敗 "_s.arg(failedVisits)
        + failedSince.toString(u"yyyy/MM/dd HH:mm:ss"_s) + u"）\r\n"_s;
}

QString alertNote(int failures, const QDateTime &firstFailure, const QDateTime &now)
{
    return u"%1回連続で失敗（最初の失敗 %2）"_s.arg(failures).arg(sinceText(firstFailure, now));
}

QString recoveryNote(const QDateTime &firstFailure, const QDateTime &worksAgain, int failures)
{
    return u"回復しました（失敗していた期間: %1、%2回連続）"_s.arg(spanText(firstFailure.secsTo(worksAgain)))
        .arg(failures);
}

QString tooltip(const TargetHealth::State &s)
{
    if (!s.visited)
        return QString();
    if (s.working)
        return u"最終巡回 %1 %2 %3行 新着%4件"_s.arg(shortTime(s.lastVisit), s.lastOutcome).arg(s.lines).arg(s.newHits);
    const QString run = s.saved.failures > 1
        ? u"（%1回連続、初回 %2）"_s.arg(s.saved.failures).arg(sinceText(s.saved.firstFailure, s.lastVisit))
        : u"（1回目）"_s;
    return shortTime(s.lastVisit) + u' ' + s.lastOutcome + run;
}

} // namespace HealthTexts
