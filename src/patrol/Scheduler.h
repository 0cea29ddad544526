#pragma once

#include "patrol/PatrolWidgets.h"

#include <QObject>

class Patrol;

// When and which target is examined. Its state lives in the controls: the countdown is the caption
// of LaCountDown, the position is the selection of ListURL, and a step runs while cmdRun is
// disabled, which is the only guard against a second step started from a tick or a click.
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

private:
    int selectedTarget() const;
    void examine(int slot, bool followLinks);

    PatrolWidgets m_w;
    Patrol &m_patrol;
};
