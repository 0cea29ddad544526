#pragma once

#include "patrol/DesktopEvent.h"

#include <QString>
#include <QStringList>

#include <array>
#include <functional>

class Browser;
class QLabel;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QTimer;
class QWidget;

// The controls of the main window that hold the patrol's state and show its work. The patrol
// never includes the window itself, so tests can hand in bare widgets and a scripted browser.
struct PatrolWidgets
{
    QWidget *window = nullptr;
    Browser *browser = nullptr;
    QListWidget *ListURL = nullptr;
    QListWidget *ListKeyWord = nullptr;
    QListWidget *List1 = nullptr;
    QListWidget *List3 = nullptr;
    QLabel *LaStatus = nullptr;
    QLabel *LaCountDown = nullptr;
    QPlainTextEdit *Text1 = nullptr;
    QPushButton *cmdRun = nullptr;
    std::array<QPushButton *, 2> cmd動作制御 {};
    QTimer *Timer1 = nullptr;
    // The folder of the settings file, asked at every use.
    std::function<QString()> settingsFolder;
    // Makes what the patrol has learned (history, target health) last: with wait, it is on disk
    // when this returns, window messages running meanwhile; without, soon. Absent: kept nowhere.
    std::function<void(bool wait)> persist;
    // Asked before a mail goes out with its lines; answers what records them, which the mail's
    // worker runs the moment the server takes the mail, before the window hears of it. What it
    // answers must not touch the window's objects; it tells whether the lines are on disk.
    std::function<std::function<bool()>(const QStringList &lines)> journal;
    // What the status strip says instead of "巡回完了" while something outside the patrol is
    // wrong, such as a settings file that cannot be written; empty when nothing is.
    std::function<QString()> standingTrouble;
    // Hears of every page with new hits and every alert and recovery of a target; it must not
    // wait. Absent: nobody is told beyond the window and the mail.
    std::function<void(const DesktopEvent &)> tellDesktop;
};
