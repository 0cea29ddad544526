#include "app/LoginCommands.h"

#include "app/Form1.h"
#include "app/LoginWindow.h"
#include "app/ScheduleCommands.h"
#include "patrol/BrowserProfile.h"
#include "platform/ui/MessageBox.h"

#include <QAction>
#include <QListWidget>
#include <QMenu>
#include <QScreen>

using namespace Qt::StringLiterals;

LoginCommands::LoginCommands(Form1 &form, QMenu *menu)
    : QObject(&form)
    , m_form(form)
    , m_login(menu->addAction(u"ログイン…"_s))
    , m_clear(menu->addAction(u"ログイン情報を消去"_s))
{
    m_login->setObjectName(u"menuLogin"_s);
    m_clear->setObjectName(u"menuLoginClear"_s);
    m_login->setShortcut(QKeySequence(u"Ctrl+L"_s));
    m_login->setShortcutContext(Qt::WindowShortcut);
    m_login->setEnabled(false);
    m_clear->setEnabled(false);
    connect(m_login, &QAction::triggered, this, [this] { openLogin(chosenTarget()); });
    connect(m_clear, &QAction::triggered, this, &LoginCommands::clearLogins);
    m_form.ListURL->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_form.ListURL, &QWidget::customContextMenuRequested, this, &LoginCommands::showTargetMenu);
}

LoginWindow *LoginCommands::window() const
{
    return m_window;
}

void LoginCommands::setProfile(BrowserProfile *profile)
{
    m_profile = profile;
    m_login->setEnabled(profile);
    m_clear->setEnabled(profile);
}

QString LoginCommands::chosenTarget() const
{
    const QListWidget *targets = m_form.ListURL;
    if (const QListWidgetItem *current = targets->currentItem(); current && !current->text().trimmed().isEmpty())
        return current->text();
    for (int row = 0; row < targets->count(); ++row) {
        if (!targets->item(row)->text().trimmed().isEmpty())
            return targets->item(row)->text();
    }
    return QString();
}

void LoginCommands::openLogin(const QString &address)
{
    if (!m_profile)
        return;
    if (!m_window) {
        m_window = new LoginWindow(m_profile->profile(), &m_form);
        m_window->setWindowIcon(m_form.windowIcon());
    }
    // Full size also where no window manager maximises it.
    if (const QScreen *screen = m_form.screen())
        m_window->setGeometry(screen->availableGeometry());
    m_window->showMaximized();
    m_window->raise();
    m_window->activateWindow();
    m_window->open(address);
}

QString LoginCommands::clearQuestion()
{
    return u"ログイン情報（クッキー、サイトが保存したデータ、キャッシュ）をすべて消去しますか？\r\n"
           u"ログインが必要なページは、もう一度ログインするまで巡回できなくなります。"_s;
}

void LoginCommands::clearLogins()
{
    if (!m_profile)
        return;
    if (Ui::msgBox(clearQuestion(), Ui::Buttons::OkCancel, Ui::Icon::Question, &m_form) != Ui::Answer::Ok)
        return;
    // Its page belongs to the profile that is going.
    delete m_window;
    m_profile->clear();
}

void LoginCommands::showTargetMenu(const QPoint &at)
{
    QListWidget *targets = m_form.ListURL;
    const QListWidgetItem *item = targets->itemAt(at);
    if (!item)
        return;
    const QString address = item->text();
    QMenu menu(targets);
    QAction *login = menu.addAction(u"ログイン…"_s);
    login->setEnabled(m_profile && !address.trimmed().isEmpty());
    QAction *schedule = menu.addAction(u"巡回の予定… (Ctrl+T)"_s);
    schedule->setEnabled(!address.trimmed().isEmpty());
    QAction *chosen = menu.exec(targets->viewport()->mapToGlobal(at));
    if (chosen == login)
        openLogin(address);
    else if (chosen == schedule)
        m_form.scheduleCommands()->edit(address);
}
