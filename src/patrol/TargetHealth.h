#pragma once

#include "patrol/DesktopEvent.h"
#include "patrol/HealthStore.h"
#include "patrol/Visit.h"

#include <QDateTime>
#include <QHash>
#include <QObject>

#include <functional>
#include <optional>

class HealthPainter;
class QListWidget;

// Which targets work and which fail, as the visits end. When the user asks for it (ERRORMAIL),
// one alert mail goes out when a target has failed that many visits in a row, and one more when
// it works again; what that needs survives a restart (HealthStore). The rows of the target list
// show it (HealthPainter).
class TargetHealth : public QObject
{
    Q_OBJECT
public:
    // What survives a restart: the run of failures under way and a recovery not told yet.
    using Saved = HealthStore::Entry;

    struct State
    {
        Saved saved;
        bool visited = false;
        bool working = false;
        QDateTime lastVisit;
        QString lastOutcome;
        int lines = 0;
        int newHits = 0;
        // The desktop was told of this run of failures, so it hears of the recovery too.
        bool told = false;
        // Whether the last working visit of this run showed a password field; unknown before one.
        std::optional<bool> passwordWhenWorking;
    };

    TargetHealth(QListWidget *targets, std::function<QString()> settingsFolder, QObject *parent = nullptr);

    // Told of each alert and recovery as it happens, whether or not its mail goes out.
    void setTellDesktop(std::function<void(const DesktopEvent &)> tell) { m_tellDesktop = std::move(tell); }

    // A target's visit has ended. May send an alert or a recovery mail, waiting for it the way a
    // hit mail is waited for; goOn false ends that wait. True when what saved() gives changed.
    bool record(const Visit &visit, const std::function<bool()> &goOn);

    QList<Saved> saved() const;
    // At start-up, before any visit.
    void restore(const QList<Saved> &entries);

    State state(const QString &address) const { return m_states.value(address); }

    // More lines for the rows' tooltips, asked whenever a row is painted.
    void setTooltipMore(std::function<QString(const QString &address)> more);
    void repaint(const QString &address);

    // A page that shows a password field where the target's last working visit showed none
    // means that its session has run out. A target that always shows one (a login page, a
    // sidebar with a login box) is never taken for that, nor one not seen working in this run.
    bool loginLost(const QString &address, bool passwordField) const;

    // ERRORMAIL: the number of failed visits in a row that brings an alert, 0 when alerts are off.
    static int alertThreshold(const QString &text);

private:
    bool sendAlertMail(const QString &subject, const QString &body, const std::function<bool()> &goOn);

    QListWidget *m_targets;
    std::function<QString()> m_settingsFolder;
    std::function<void(const DesktopEvent &)> m_tellDesktop;
    QHash<QString, State> m_states;
    HealthPainter *m_painter;
};
