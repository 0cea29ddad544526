#pragma once

#include "patrol/DesktopEvent.h"
#include "patrol/Visit.h"

#include <QDateTime>
#include <QHash>
#include <QObject>

#include <functional>

class QListWidget;
class clINI;
class QListWidgetItem;

// Which targets work and which fail. Each row of the target list shows it by its colour and its
// tooltip. When the user asks for it (ERRORMAIL), one alert mail goes out when a target has
// failed that many visits in a row, and one more when it works again; what that needs survives a
// restart in a section of the settings file of its own.
class TargetHealth : public QObject
{
    Q_OBJECT
public:
    struct State
    {
        bool visited = false;
        bool working = false;
        QDateTime lastVisit;
        QString lastOutcome;
        int lines = 0;
        int newHits = 0;
        // The run of failed visits under way: how many, since when, and whether it was told.
        int failures = 0;
        QDateTime firstFailure;
        bool alerted = false;
        // A recovery mail that could not be sent yet, for the run of failures that ended.
        bool recoveryPending = false;
        QDateTime failedSince;
        int failedVisits = 0;
        QDateTime worksAgain;
        // The desktop was told of this run of failures, so it hears of the recovery too.
        bool told = false;
    };

    // What survives a restart: the run of failures under way and a recovery not told yet.
    struct Saved
    {
        QString address;
        int failures = 0;
        QDateTime firstFailure;
        bool alerted = false;
        bool recoveryPending = false;
        QDateTime failedSince;
        int failedVisits = 0;
        QDateTime worksAgain;
        friend bool operator==(const Saved &, const Saved &) = default;
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
    // The section "HEALTH" of the settings file, which a Windows copy does not know.
    static void write(clINI &ini, const QList<Saved> &entries);
    static QList<Saved> read(clINI &ini);

    State state(const QString &address) const { return m_states.value(address); }

    // ERRORMAIL: the number of failed visits in a row that brings an alert, 0 when alerts are off.
    static int alertThreshold(const QString &text);

    static QString alertSubject(const QString &address);
    static QString recoverySubject(const QString &address);
    static QString alertBody(const QString &address, const QString &reason, const QDateTime &firstFailure, int count);
    static QString recoveryBody(
        const QString &address, const QDateTime &failedSince, int failedVisits, const QDateTime &worksAgain);
    // The tooltip of a target's row.
    static QString tooltip(const State &s);

private:
    bool sendAlertMail(const QString &subject, const QString &body, const std::function<bool()> &goOn);
    void showOn(const QString &address);
    void showOn(QListWidgetItem *item);

    QListWidget *m_targets;
    std::function<QString()> m_settingsFolder;
    std::function<void(const DesktopEvent &)> m_tellDesktop;
    QHash<QString, State> m_states;
    bool m_decorating = false;
};
