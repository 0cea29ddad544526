#pragma once

#include "patrol/PatrolWidgets.h"

#include <QDateTime>
#include <QObject>

class Patrol;

// When and which target is examined. Its state lives in the controls: the countdown is the caption
// of LaCountDown, the position is the selection of ListURL, and a step runs while cmdRun is
// disabled, which is the only guard against a second step started from a tick or a click. Targets
// with a schedule of their own (Timetable) and hosts at rest (HostPace) are asked at each step.
class Scheduler : public QObject
{
    Q_OBJECT
public:
    Scheduler(const PatrolWidgets &widgets, Patrol &patrol, QObject *parent = nullptr);

    void Timer1_Timer();
    void cmdRun_Click();
    void cmd_Click(int index);

    // What a countdown or interval counts as when it is no whole number in the 16-bit range.
    static constexpr int kFallbackSeconds = 60;
    static int seconds(const QString &text);
    // CHECK1: a number other than zero is on, zero is off, anything else is on.
    static bool linkFollowingOn(const QString &text);

    // What the status strip says when no target is due at a step.
    static QString nothingDueText(const QDateTime &next);

private:
    struct Choice
    {
        int slot = -1;
        bool scheduled = false;
        // When nothing is due: when something will be, 0 when nothing ever is.
        qint64 nextAt = 0;
    };
    int selectedTarget() const;
    // The targets with a schedule of their own that are due, most overdue first; then the others
    // in the order of the list, after the selection. A host at rest has none of its targets due.
    Choice choose() const;
    void examine(int slot, bool followLinks, bool scheduled);

    PatrolWidgets m_w;
    Patrol &m_patrol;
};
