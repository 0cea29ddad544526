#pragma once

#include "patrol/Schedule.h"

#include <QHash>

#include <functional>

// The targets' own schedules and when each is due next. A target without a schedule is due at
// every step. Times are milliseconds of the wall clock; the windows are in local time.
class Timetable
{
public:
    using Clock = std::function<qint64()>;
    // Uniform in [-1, 1]: where within its jitter a visit lands.
    using Random = std::function<double()>;
    explicit Timetable(Clock clock = {}, Random random = {});

    // The schedules as the file holds them; not a change of the user's.
    void restore(const QList<TargetSchedule> &schedules);
    // The user set or removed a target's schedule.
    void set(const QString &address, const std::optional<TargetSchedule> &schedule);
    std::optional<TargetSchedule> find(const QString &address) const;
    // What to keep for these targets, in their order; whether the user changed anything.
    QList<TargetSchedule> listed(const QStringList &addresses) const;
    bool changed() const { return m_changed; }

    struct Standing
    {
        bool scheduled = false;
        // Due now (an unscheduled target always is).
        bool due = true;
        // Since when it is due, or when it will be: its next time or its window's next start.
        qint64 at = 0;
    };
    Standing standing(const QString &address) const;
    // A visit of the target starts now: its next one is an interval away, give or take its jitter.
    void visited(const QString &address);

    qint64 now() const { return m_clock(); }
    // For the tooltip: "予定: 10分ごと 1-5 09:00-18:00 ±10%、次回 12/09 14:03"; empty without one.
    QString describe(const QString &address) const;

private:
    Clock m_clock;
    Random m_random;
    QHash<QString, TargetSchedule> m_schedules;
    QHash<QString, qint64> m_nextDue;
    bool m_changed = false;
};
