#include "app/TrayIcon.h"

#include "app/DesktopNotifier.h"
#include "app/Form1.h"
#include "app/KeyboardAccess.h"
#include "patrol/Patrol.h"
#include "patrol/TargetHealth.h"
#include "platform/AppTitle.h"

#include <QAction>
#include <QApplication>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QSet>
#include <QSystemTrayIcon>

using namespace Qt::StringLiterals;

namespace {

std::optional<bool> g_availableForTesting;

bool trayAvailable()
{
    return g_availableForTesting ? *g_availableForTesting : QSystemTrayIcon::isSystemTrayAvailable();
}

constexpr int kUpdateMs = 1000;

} // namespace

void TrayIcon::setAvailableForTesting(std::optional<bool> available)
{
    g_availableForTesting = available;
}

TrayIcon::TrayIcon(Form1 &form, const DesktopNotifier &notifier)
    : QObject(&form)
    , m_form(form)
    , m_notifier(notifier)
{
    m_updates.setInterval(kUpdateMs);
    connect(&m_updates, &QTimer::timeout, this, &TrayIcon::update);
    // Connected after the command that opens the settings dialog, so this runs once it has closed.
    connect(form.menuSetting, &QAction::triggered, this, &TrayIcon::refresh);
}

TrayIcon::~TrayIcon()
{
    delete m_menu;
}

void TrayIcon::refresh()
{
    if (!m_form.unloaded() && DesktopNotifier::enabled(m_form.settingsFolder()) && trayAvailable()) {
        if (!m_icon) {
            m_menu = new QMenu;
            m_menu->setObjectName(u"trayMenu"_s);
            showAction = m_menu->addAction(u"表示"_s, &m_form, &Form1::comeForward);
            runAction = m_menu->addAction(u"強制実行"_s, m_form.cmdRun, &QPushButton::click);
            runAction->setShortcut(KeyboardAccess::runNowKey());
            startAction = m_menu->addAction(u"▶ 開始"_s, m_form.cmd動作制御[0], &QPushButton::click);
            startAction->setShortcut(KeyboardAccess::startStopKey());
            stopAction = m_menu->addAction(u"■ 停止"_s, m_form.cmd動作制御[1], &QPushButton::click);
            stopAction->setShortcut(KeyboardAccess::startStopKey());
            m_menu->addSeparator();
            quitAction = m_menu->addAction(u"終了"_s, &m_form, &Form1::quit);
            // The keys work in the window; here they are only shown.
            for (QAction *a : m_menu->actions())
                a->setShortcutContext(Qt::WidgetShortcut);
            connect(m_menu, &QMenu::aboutToShow, this, &TrayIcon::update);
            m_icon = new QSystemTrayIcon(m_form.windowIcon(), this);
            m_icon->setContextMenu(m_menu);
            connect(m_icon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason why) {
                if (why == QSystemTrayIcon::Trigger || why == QSystemTrayIcon::DoubleClick)
                    m_form.comeForward();
            });
        }
        update();
        m_icon->show();
        m_updates.start();
        m_shown = true;
        // The window may be hidden now; only the shut-down sequence ends the program.
        qApp->setQuitOnLastWindowClosed(false);
        return;
    }
    remove();
}

void TrayIcon::remove()
{
    if (m_icon)
        m_icon->hide();
    m_updates.stop();
    m_shown = false;
    qApp->setQuitOnLastWindowClosed(true);
}

int TrayIcon::failingTargets() const
{
    QSet<QString> failing;
    for (int row = 0; row < m_form.ListURL->count(); ++row) {
        const QString address = m_form.ListURL->item(row)->text();
        if (address.isEmpty())
            continue;
        const TargetHealth::State s = m_form.patrol()->health().state(address);
        if (s.visited && !s.working)
            failing.insert(address);
    }
    return int(failing.size());
}

QString TrayIcon::toolTipText(bool patrolling, int failingTargets, const QDateTime &lastHit)
{
    QStringList lines {
        AppTitle::get(), patrolling ? u"巡回中"_s : u"停止中"_s, u"失敗中の対象: %1 件"_s.arg(failingTargets)};
    lines.append(u"最後の新着: "_s + (lastHit.isValid() ? lastHit.toString(u"MM/dd HH:mm"_s) : u"なし"_s));
    return lines.join(u'\n');
}

QString TrayIcon::toolTip() const
{
    return toolTipText(m_form.Timer1->isActive(), failingTargets(), m_notifier.lastHit());
}

void TrayIcon::update()
{
    if (!m_icon)
        return;
    // Set only when it changes: each change travels to the desktop's tray.
    const QString text = toolTip();
    if (m_icon->toolTip() != text)
        m_icon->setToolTip(text);
    runAction->setEnabled(m_form.cmdRun->isEnabled());
    startAction->setEnabled(m_form.cmd動作制御[0]->isEnabled());
    stopAction->setEnabled(m_form.cmd動作制御[1]->isEnabled());
}
