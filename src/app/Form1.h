#pragma once

#include "patrol/Browser.h"

#include <QMainWindow>

#include <array>
#include <memory>

class BrowserProfile;
class DesktopNotifier;
class ExtentListWidget;
class LearnedKeeper;
class ListCommands;
class LoginCommands;
class ScheduleCommands;
class Patrol;
class Scheduler;
class QAction;
class QLabel;
class QListWidget;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QTimer;
class SortedListBox;
class TrayIcon;

// The main window. It owns the three lists that the program keeps between runs and the controls
// that hold the patrol's state; the work behind its handlers lives elsewhere.
class Form1 : public QMainWindow
{
    Q_OBJECT
public:
    // The browser is made by the caller so that tests can hand in a scripted one; the window takes
    // ownership. With none, the Qt WebEngine browser is made.
    explicit Form1(std::unique_ptr<Browser> browser = nullptr, QWidget *parent = nullptr);
    ~Form1() override;

    // The settings folder is SettingsLocation's unless a test names another, before showing; the
    // notice says why the file beside the program was passed over, once at start-up.
    void setSettingsFolder(const QString &folder, const QString &notice = QString())
    {
        m_settingsFolder = folder;
        m_settingsNotice = notice;
    }
    QString settingsFolder() const;

    // The profile that the browser was made on, for the login window and forgetting the logins;
    // before showing. Without one, both are off.
    void setBrowserProfile(BrowserProfile *profile);

    // Start-up sequence; runs once, before the window is first shown.
    void Form_Load();

    // Shut-down sequence; runs once, whatever closes the window. False when the lists could not
    // be written.
    bool Form_Unload();
    bool unloaded() const { return m_unloaded; }
    // The desktop session ends: the shut-down sequence runs, its failure goes to standard error.
    void endSession();

    // Shows the window, hidden or minimised, in front of the others.
    void comeForward();
    // Ends the program with the shut-down sequence, also while the tray keeps the window hidden.
    void quit();

    // A list was edited: it reaches the file within a second.
    void listsEdited();

    // Message shown at start-up when the settings file could not be written.
    static QString cannotSaveText(const QString &path);

    std::array<QPushButton *, 2> cmd動作制御 {};
    QPushButton *cmdRun = nullptr;
    QLabel *Label5 = nullptr;
    QLabel *Label7 = nullptr;
    QLabel *LaCountDown = nullptr;
    QLabel *Label3 = nullptr;
    QPushButton *cmdList3Clear = nullptr;
    Browser *WebBrowser1 = nullptr;
    QListWidget *ListURL = nullptr;
    QLabel *Label2 = nullptr;
    ExtentListWidget *List1 = nullptr;
    QLabel *Label1 = nullptr;
    QPlainTextEdit *Text1 = nullptr;
    QLabel *Label4 = nullptr;
    QListWidget *ListKeyWord = nullptr;
    QListWidget *List3 = nullptr;
    QWidget *Picture1 = nullptr;
    QLabel *LaStatus = nullptr;
    SortedListBox *List4 = nullptr;
    QTimer *Timer1 = nullptr;

    QAction *menuSetting = nullptr;
    QMenu *menuLogin = nullptr;
    QMenu *menuHelp = nullptr;
    QAction *menuアンケート = nullptr;
    QAction *menuORBELLWEB = nullptr;

    void SetHitListExtent();

    // The page check and, later, the scheduler that work on these controls.
    Patrol *patrol() const { return m_patrol.get(); }
    Scheduler *scheduler() const { return m_scheduler.get(); }
    DesktopNotifier *notifier() const { return m_notifier; }
    TrayIcon *tray() const { return m_tray; }
    LoginCommands *loginCommands() const { return m_loginCommands; }
    ScheduleCommands *scheduleCommands() const { return m_scheduleCommands; }

protected:
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildControls();
    void buildMenus();
    void Timer1_Timer();
    void onQuitSignal(int signalNumber);

    std::unique_ptr<Browser> m_browser;
    std::unique_ptr<Patrol> m_patrol;
    std::unique_ptr<Scheduler> m_scheduler;
    ListCommands *m_listCommands = nullptr;
    LoginCommands *m_loginCommands = nullptr;
    ScheduleCommands *m_scheduleCommands = nullptr;
    BrowserProfile *m_profile = nullptr;
    LearnedKeeper *m_keeper = nullptr;
    DesktopNotifier *m_notifier = nullptr;
    TrayIcon *m_tray = nullptr;
    // Notifications are on but cannot be shown: the status strip says so instead of "巡回完了".
    QString m_notifyTrouble;
    QString m_settingsFolder;
    QString m_settingsNotice;
    bool m_loaded = false;
    bool m_unloaded = false;
    bool m_closedBySignal = false;
    bool m_quitting = false;
};
