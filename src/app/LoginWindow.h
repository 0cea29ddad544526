#pragma once

#include <QMainWindow>

class QAction;
class QLineEdit;
class QWebEnginePage;
class QWebEngineProfile;
class QWebEngineView;

// A browser window for the user on the patrol's profile: the user logs in to a site here by
// hand, and the patrol's page then sees the site as the logged-in user. It shows pictures and
// answers dialogs like any browser; the patrol's own page goes on meanwhile.
class LoginWindow : public QMainWindow
{
    Q_OBJECT
public:
    explicit LoginWindow(QWebEngineProfile *profile, QWidget *parent = nullptr);
    ~LoginWindow() override;

    // Loads the address as a browser's address bar would; an empty one, or one that is no web
    // page, leaves the page blank with the address bar ready for typing.
    void open(const QString &address);

    // The web address that typed text stands for; invalid unless it is http or https.
    static QUrl webAddress(const QString &typed);

private:
    QWebEnginePage *m_page;
    QWebEngineView *m_view;
    QLineEdit *m_address;
    QAction *m_back;
    QAction *m_reload;
};
