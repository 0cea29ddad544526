#include "patrol/TargetHealth.h"

#include "mail/Module1.h"
#include "mail/Redact.h"
#include "platform/Log.h"
#include "settings/SettingKeys.h"
#include "settings/clINI.h"

#include <QListWidget>
#include <QSet>

#include <algorithm>

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
    applog::write(failure.isEmpty() ? applog::Priority::Notice : applog::Priority::Error, line);
    return failure.isEmpty();
}

bool TargetHealth::record(const Visit &visit, const std::function<bool()> &goOn)
{
    const QList<Saved> before = saved();
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
        // A recovery not told yet stays for the next working visit, whatever fails meanwhile.
        if (s.failures == 0)
            s.firstFailure = visit.when;
        ++s.failures;
        showOn(visit.address);
        if (threshold > 0 && s.failures >= threshold && !s.told) {
            s.told = true;
            if (m_tellDesktop)
                m_tellDesktop({DesktopEvent::Kind::Alert, visit.address, QString(),
                    {s.lastOutcome,
                        u"%1回連続で失敗（最初の失敗 %2）"_s.arg(s.failures)
                            .arg(sinceText(s.firstFailure, visit.when))},
                    0});
        }
        if (threshold > 0 && s.failures >= threshold && !s.alerted) {
            const State at = s;
            if (sendAlertMail(alertSubject(visit.address),
                    alertBody(visit.address, at.lastOutcome, at.firstFailure, at.failures), goOn))
                m_states[visit.address].alerted = true;
        }
        return saved() != before;
    }
    if (s.failures > 0 && s.alerted) {
        s.recoveryPending = true;
        s.failedSince = s.firstFailure;
        s.failedVisits = s.failures;
        s.worksAgain = visit.when;
    }
    if (s.failures > 0 && s.told && m_tellDesktop)
        m_tellDesktop({DesktopEvent::Kind::Recovery, visit.address, QString(),
            {u"回復しました（失敗していた期間: %1、%2回連続）"_s.arg(spanText(s.firstFailure.secsTo(visit.when)))
                    .arg(s.failures)},
            0});
    s.told = false;
    s.failures = 0;
    s.alerted = false;
    showOn(visit.address);
    if (s.recoveryPending) {
        const State at = s;
        // Told even when alerts have been switched off since: the alert went out.
        if (sendAlertMail(recoverySubject(visit.address),
                recoveryBody(visit.address, at.failedSince, at.failedVisits, at.worksAgain), goOn))
            m_states[visit.address].recoveryPending = false;
    }
    return saved() != before;
}

QList<TargetHealth::Saved> TargetHealth::saved() const
{
    // Only targets still on the list: an address edited away is never visited again.
    QSet<QString> listed;
    for (int row = 0; row < m_targets->count(); ++row)
        listed.insert(m_targets->item(row)->text());
    QList<Saved> out;
    for (auto it = m_states.cbegin(); it != m_states.cend(); ++it) {
        const State &s = it.value();
        if ((s.failures > 0 || s.recoveryPending) && listed.contains(it.key()))
            out.append({it.key(), s.failures, s.firstFailure, s.alerted, s.recoveryPending, s.failedSince,
                s.failedVisits, s.worksAgain});
    }
    std::sort(out.begin(), out.end(), [](const Saved &a, const Saved &b) { return a.address < b.address; });
    return out;
}

void TargetHealth::restore(const QList<Saved> &entries)
{
    for (const Saved &e : entries) {
        State &s = m_states[e.address];
        s.failures = e.failures;
        s.firstFailure = e.firstFailure;
        s.alerted = e.alerted;
        s.recoveryPending = e.recoveryPending;
        s.failedSince = e.failedSince;
        s.failedVisits = e.failedVisits;
        s.worksAgain = e.worksAgain;
        // An alert that went out before the restart was seen; its recovery is told as well.
        s.told = e.alerted;
    }
}

namespace {

const QString kHealthSection = u"HEALTH"_s;
const QString kHealthCount = u"COUNT"_s;

QString healthKey(qsizetype i)
{
    return u"T"_s + QString::number(i);
}

QString stamp(const QDateTime &t)
{
    return t.isValid() ? t.toString(Qt::ISODate) : QString();
}

} // namespace

// One value per target: the numbers and times first, the address last, since it may hold any
// character, the separator included.
void TargetHealth::write(clINI &ini, const QList<Saved> &entries)
{
    const int before = qMax(0, ini.GetSetting(kHealthSection, kHealthCount, QString()).toInt());
    if (entries.isEmpty() && before == 0)
        return;
    ini.SaveSetting(kHealthSection, kHealthCount, QString::number(entries.size()));
    for (qsizetype i = 0; i < entries.size(); ++i) {
        const Saved &e = entries[i];
        const QStringList fields {QString::number(e.failures), stamp(e.firstFailure), e.alerted ? u"1"_s : u"0"_s,
            e.recoveryPending ? u"1"_s : u"0"_s, stamp(e.failedSince), QString::number(e.failedVisits),
            stamp(e.worksAgain), e.address};
        ini.SaveSetting(kHealthSection, healthKey(i), fields.join(u'|'));
    }
    for (qsizetype i = entries.size(); i < before; ++i)
        ini.SaveSetting(kHealthSection, healthKey(i), QString());
}

QList<TargetHealth::Saved> TargetHealth::read(clINI &ini)
{
    QList<Saved> out;
    const int count = qBound(0, ini.GetSetting(kHealthSection, kHealthCount, QString()).toInt(), 1000);
    for (int i = 0; i < count; ++i) {
        const QString value = ini.GetSetting(kHealthSection, healthKey(i), QString());
        const QStringList f = value.split(u'|');
        if (f.size() < 8)
            continue;
        Saved e;
        e.failures = qMax(0, f[0].toInt());
        e.firstFailure = QDateTime::fromString(f[1], Qt::ISODate);
        e.alerted = f[2] == u"1";
        e.recoveryPending = f[3] == u"1";
        e.failedSince = QDateTime::fromString(f[4], Qt::ISODate);
        e.failedVisits = qMax(0, f[5].toInt());
        e.worksAgain = QDateTime::fromString(f[6], Qt::ISODate);
        e.address = f.mid(7).join(u'|');
        if (!e.address.isEmpty() && (e.failures > 0 || e.recoveryPending))
            out.append(e);
    }
    return out;
}
