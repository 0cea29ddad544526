#include "patrol/TargetHealth.h"

#include "mail/Module1.h"
#include "patrol/HealthPainter.h"
#include "patrol/HealthTexts.h"
#include "platform/Log.h"
#include "settings/SettingKeys.h"
#include "settings/clINI.h"

#include <QListWidget>
#include <QSet>

#include <algorithm>

using namespace Qt::StringLiterals;

TargetHealth::TargetHealth(QListWidget *targets, std::function<QString()> settingsFolder, QObject *parent)
    : QObject(parent)
    , m_targets(targets)
    , m_settingsFolder(std::move(settingsFolder))
    , m_painter(new HealthPainter(
          targets,
          [this](const QString &address) -> const State * {
              const auto found = m_states.constFind(address);
              return found == m_states.constEnd() ? nullptr : &found.value();
          },
          this))
{ }

int TargetHealth::alertThreshold(const QString &text)
{
    return Keys::errorMailThreshold(text);
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
    Saved &run = s.saved;
    s.visited = true;
    s.lastVisit = visit.when;
    s.lastOutcome = visit.outcome();
    s.lines = visit.lines;
    s.newHits = visit.newHits;
    s.working = visit.works();
    if (s.working)
        s.passwordWhenWorking = visit.passwordField;
    int threshold = 0;
    {
        clINI ini(m_settingsFolder ? m_settingsFolder() : QString());
        threshold = alertThreshold(ini.GetSetting(Keys::ErrorMail));
    }
    if (!s.working) {
        // A recovery not told yet stays for the next working visit, whatever fails meanwhile.
        if (run.failures == 0)
            run.firstFailure = visit.when;
        ++run.failures;
        m_painter->paint(visit.address);
        // The user must act on this one, so the desktop hears of it whether alerts are on or not.
        if (visit.loginRequired && !s.told) {
            s.told = true;
            if (m_tellDesktop)
                m_tellDesktop({DesktopEvent::Kind::LoginLost, visit.address, QString(),
                    {s.lastOutcome, HealthTexts::loginLostNote()}, 0});
        }
        if (threshold > 0 && run.failures >= threshold && !s.told) {
            s.told = true;
            if (m_tellDesktop)
                m_tellDesktop({DesktopEvent::Kind::Alert, visit.address, QString(),
                    {s.lastOutcome, HealthTexts::alertNote(run.failures, run.firstFailure, visit.when)}, 0});
        }
        if (threshold > 0 && run.failures >= threshold && !run.alerted) {
            const State at = s;
            const QString subject = visit.loginRequired ? HealthTexts::loginLostSubject(visit.address)
                                                        : HealthTexts::alertSubject(visit.address);
            if (sendAlertMail(subject,
                    HealthTexts::alertBody(visit.address, at.lastOutcome, at.saved.firstFailure, at.saved.failures),
                    goOn))
                m_states[visit.address].saved.alerted = true;
        }
        return saved() != before;
    }
    if (run.failures > 0 && run.alerted) {
        run.recoveryPending = true;
        run.failedSince = run.firstFailure;
        run.failedVisits = run.failures;
        run.worksAgain = visit.when;
    }
    if (run.failures > 0 && s.told && m_tellDesktop)
        m_tellDesktop({DesktopEvent::Kind::Recovery, visit.address, QString(),
            {HealthTexts::recoveryNote(run.firstFailure, visit.when, run.failures)}, 0});
    s.told = false;
    run.failures = 0;
    run.alerted = false;
    m_painter->paint(visit.address);
    if (run.recoveryPending) {
        const Saved at = run;
        // Told even when alerts have been switched off since: the alert went out.
        if (sendAlertMail(HealthTexts::recoverySubject(visit.address),
                HealthTexts::recoveryBody(visit.address, at.failedSince, at.failedVisits, at.worksAgain), goOn))
            m_states[visit.address].saved.recoveryPending = false;
    }
    return saved() != before;
}

void TargetHealth::setTooltipMore(std::function<QString(const QString &address)> more)
{
    m_painter->setMore(std::move(more));
}

void TargetHealth::repaint(const QString &address)
{
    m_painter->paint(address);
}

bool TargetHealth::loginLost(const QString &address, bool passwordField) const
{
    const auto found = m_states.constFind(address);
    return passwordField && found != m_states.constEnd() && found->passwordWhenWorking == false;
}

QList<TargetHealth::Saved> TargetHealth::saved() const
{
    // Only targets still on the list: an address edited away is never visited again.
    QSet<QString> listed;
    for (int row = 0; row < m_targets->count(); ++row)
        listed.insert(m_targets->item(row)->text());
    QList<Saved> out;
    for (auto it = m_states.cbegin(); it != m_states.cend(); ++it) {
        const Saved &run = it.value().saved;
        if ((run.failures > 0 || run.recoveryPending) && listed.contains(it.key())) {
            Saved entry = run;
            entry.address = it.key();
            out.append(entry);
        }
    }
    std::sort(out.begin(), out.end(), [](const Saved &a, const Saved &b) { return a.address < b.address; });
    return out;
}

void TargetHealth::restore(const QList<Saved> &entries)
{
    for (const Saved &e : entries) {
        State &s = m_states[e.address];
        s.saved = e;
        // An alert that went out before the restart was seen; its recovery is told as well.
        s.told = e.alerted;
    }
}
