#pragma once

#include <QDateTime>
#include <QObject>
#include <QTimer>

#include <optional>

class DesktopNotifier;
class Form1;
class QAction;
class QMenu;
class QSystemTrayIcon;
class TestForm1;

// The icon in the desktop's tray, where it has one and notifications are on. It tells whether the
// patrol runs, how many targets fail and when the last hit came; its menu shows the window, runs
// a step, starts or stops the countdown, and ends the program. While it is there, closing the
// window only hides it.
class TrayIcon : public QObject
{
    Q_OBJECT
public:
    TrayIcon(Form1 &form, const DesktopNotifier &notifier);
    ~TrayIcon() override;

    // Shows or removes the icon after NOTIFY and the desktop: at start-up and after the settings
    // dialog.
    void refresh();
    void remove();
    bool shown() const { return m_shown; }

    QString toolTip() const;
    static QString toolTipText(bool patrolling, int failingTargets, const QDateTime &lastHit);
    int failingTargets() const;

    QMenu *menu() const { return m_menu; }
    QAction *showAction = nullptr;
    QAction *runAction = nullptr;
    QAction *startAction = nullptr;
    QAction *stopAction = nullptr;
    QAction *quitAction = nullptr;

private:
    // Its test says whether the desktop offers a tray, instead of asking it.
    friend class ::TestForm1;
    static void setAvailableForTesting(std::optional<bool> available);

    void update();

    Form1 &m_form;
    const DesktopNotifier &m_notifier;
    QMenu *m_menu = nullptr;
    QSystemTrayIcon *m_icon = nullptr;
    QTimer m_updates;
    bool m_shown = false;
};
