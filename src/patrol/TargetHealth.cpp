#include "patrol/TargetHealth.h"

#include "mail/Module1.h"
#include "mail/Redact.h"
#include "settings/SettingKeys.h"
#include "settings/clINI.h"

#include <QListWidget>

#include <algorithm>
#include <cstdio>

using namespace Qt::StringLiterals;

namespace {

const QColor kWorking(0, 128, 0);
const QColor kFailing(200, 0, 0);

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

TargetHealth::TargetHealth(QListWidget *targets, std::function<QString()> settingsFolder, QObject *parent)
    : QObject(parent)
    , m_targets(targets)
    , m_settingsFolder(std::move(settingsFolder))
{
    // A row given another address shows what is known of that one, or nothing.
    connect(targets->model(), &QAbstractItemModel::dataChanged, this,
        [this](const QModelIndex &from, const QModelIndex &to, const QList<int> &roles) {
            if (m_decorating || (!roles.isEmpty() && !roles.contains(Qt::DisplayRole)))
                return;
            for (int row = from.row(); row <= to.row(); ++row) {
                if (QListWidgetItem *item = m_targets->item(row))
                    showOn(item);
            }
        });
}

int TargetHealth::alertThreshold(const QString &text)
{
    return Keys::errorMailThreshold(text);
}

QString TargetHealth::alertSubject(const QString &address)
{
    return u"[KVS] 巡回エラー "_s + mail::withoutPassword(address);
}

QString TargetHealth::recoverySubject(const QString &address)
{
    return u"[KVS] 巡回回復 "_s + mail::withoutPassword(address);
}

QString TargetHealth::alertBody(const QString &address, const QString &reason, const QDateTime &firstFailure, int count)
{
    return u"対象: "_s + mail::withoutPassword(address) + u"\r\n理由: "_s + reason + u"\r\n最初の失敗: "_s
        + firstFailure.toString(u"yyyy/MM/dd HH:mm:ss"_s) + u"\r\n連続失敗: %1回\r\n"_s.arg(count);
}

QString TargetHealth::recoveryBody(
    const QString &address, const QDateTime &failedSince, int failedVisits, const QDateTime &worksAgain)
{
    return u"対象: "_s + mail::withoutPassword(address) + u"\r\n回復: "_s
        + worksAgain.toString(u"yyyy/MM/dd HH:mm:ss"_s) + u"\r\n失敗していた期間: "_s
        + spanText(failedSince.secsTo(worksAgain)) + u"（%1回連続、最初の失敗 "_s.arg(failedVisits)
        + failedSince.toString(u"yyyy/MM/dd HH:mm:ss"_s) + u"）\r\n"_s;
}

QString TargetHealth::tooltip(const State &s)
{
    if (!s.visited)
        return QString();
    if (s.working)
        return u"最終巡回 %1 %2 %3行 新着%4件"_s.arg(shortTime(s.lastVisit), s.lastOutcome).arg(s.lines).arg(s.newHits);
    const QString run = s.failures > 1
        ? u"（%1回連続、初回 %2）"_s.arg(s.failures).arg(sinceText(s.firstFailure, s.lastVisit))
        : u"（1回目）"_s;
    return shortTime(s.lastVisit) + u' ' + s.lastOutcome + run;
}

void TargetHealth::showOn(QListWidgetItem *item)
{
    m_decorating = true;
    const auto found = m_states.constFind(item->text());
    if (item->text().isEmpty() || found == m_states.constEnd() || !found->visited) {
        item->setData(Qt::ForegroundRole, QVariant());
        item->setToolTip(QString());
    } else {
        item->setForeground(found->working ? kWorking : kFailing);
        item->setToolTip(tooltip(*found));
    }
    m_decorating = false;
}

void TargetHealth::showOn(const QString &address)
{
    for (int row = 0; row < m_targets->count(); ++row) {
        QListWidgetItem *item = m_targets->item(row);
        if (item->text() == address)
            showOn(item);
    }
}

bool TargetHealth::sendAlertMail(const QString &subject, const QString &body, const std::function<bool()> &goOn)
{
    bool popFirst = false;
    {
        clINI ini(m_settingsFolder ? m_settingsFolder() : QString());
        popFirst = ini.GetSetting(Keys::Check2) == u"1";
    }
    if (goOn && !goOn())
        return false;
    const QString failure = Module1::Send(body, subject, {.popFirst = popFirst, .goOn = goOn}).failure;
    const QString now = QDateTime::currentDateTime().toString(Qt::ISODate);
    const QString line = now + (failure.isEmpty() ? u" alert-sent "_s : u" alert-failed "_s) + subject;
    std::fprintf(stderr, "korvani: %s\n", line.toLocal8Bit().constData());
    return failure.isEmpty();
}

void TargetHealth::record(const Visit &visit, const std::function<bool()> &goOn)
{
    State &s = m_states[visit.address];
    s.visited = true;
    s.lastVisit = visit.when;
    s.lastOutcome = Visit::outcomeText(visit.load);
    s.lines = visit.lines;
    s.newHits = visit.newHits;
    s.working = visit.works();
    int threshold = 0;
    {
        clINI ini(m_settingsFolder ? m_settingsFolder() : QString());
        threshold = alertThreshold(ini.GetSetting(Keys::ErrorMail));
    }
    if (!s.working) {
        if (s.failures == 0) {
            s.firstFailure = visit.when;
            // A new run of failures: the recovery of the last one is moot now.
            s.recoveryPending = false;
        }
        ++s.failures;
        showOn(visit.address);
        if (threshold > 0 && s.failures >= threshold && !s.alerted) {
            const State at = s;
            if (sendAlertMail(alertSubject(visit.address),
                    alertBody(visit.address, at.lastOutcome, at.firstFailure, at.failures), goOn))
                m_states[visit.address].alerted = true;
        }
        return;
    }
    if (s.failures > 0 && s.alerted) {
        s.recoveryPending = true;
        s.failedSince = s.firstFailure;
        s.failedVisits = s.failures;
    }
    s.failures = 0;
    s.alerted = false;
    showOn(visit.address);
    if (s.recoveryPending) {
        const State at = s;
        // Told even when alerts have been switched off since: the alert went out.
        if (sendAlertMail(recoverySubject(visit.address),
                recoveryBody(visit.address, at.failedSince, at.failedVisits, visit.when), goOn))
            m_states[visit.address].recoveryPending = false;
    }
}
