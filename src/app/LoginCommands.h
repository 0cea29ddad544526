#pragma once

#include <QObject>
#include <QPointer>

class BrowserProfile;
class Form1;
class LoginWindow;
class QAction;
class QMenu;

// The user's commands on the patrol's logins: a window to log in on the selected target (menu
// ログイン… and the target list's context menu), and forgetting every login. Without a profile
// (a window made by a test with a browser of its own) both are off.
class LoginCommands : public QObject
{
    Q_OBJECT
public:
    LoginCommands(Form1 &form, QMenu *menu);

    void setProfile(BrowserProfile *profile);

    // Opens the login window, or brings it forward, on the address.
    void openLogin(const QString &address);
    // Asks first, then clears cookies, storage and cache.
    void clearLogins();

    // The address the login window opens on: the selected target, else the first one.
    QString chosenTarget() const;

    static QString clearQuestion();

    QAction *loginAction() const { return m_login; }
    QAction *clearAction() const { return m_clear; }
    LoginWindow *window() const;

private:
    void showTargetMenu(const QPoint &at);

    Form1 &m_form;
    BrowserProfile *m_profile = nullptr;
    QAction *m_login;
    QAction *m_clear;
    QPointer<LoginWindow> m_window;
};
