#include "patrol/Scheduler.h"

#include "patrol/Patrol.h"
#include "platform/VbNumber.h"
#include "settings/SettingKeys.h"
#include "settings/clINI.h"

#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>

namespace {

constexpr int kSlots = 100;

} // namespace

Scheduler::Scheduler(const PatrolWidgets &widgets, Patrol &patrol, QObject *parent)
    : QObject(parent)
    , m_w(widgets)
    , m_patrol(patrol)
{ }

int Scheduler::seconds(const QString &text)
{
    const vb::WholeNumber n = vb::toInt16(text);
    return n.ok() ? n.value : kFallbackSeconds;
}

bool Scheduler::linkFollowingOn(const QString &text)
{
    const std::optional<double> n = vb::parseNumber(text);
    return !n || *n != 0;
}

void Scheduler::Timer1_Timer()
{
    int n = seconds(m_w.LaCountDown->text()) - 1;
    if (n < 1) {
        cmdRun_Click();
        if (m_patrol.abandoned())
            return;
        clINI ini(m_w.settingsFolder());
        n = seconds(ini.GetSetting(Keys::TimerTime));
    }
    m_w.LaCountDown->setText(QString::number(n));
}

int Scheduler::selectedTarget() const
{
    const QModelIndexList rows = m_w.ListURL->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.front().row();
}

void Scheduler::cmdRun_Click()
{
    if (!m_w.cmdRun->isEnabled() || m_patrol.abandoned())
        return;
    bool follow = true;
    {
        clINI ini(m_w.settingsFolder());
        follow = linkFollowingOn(ini.GetSetting(Keys::Check1));
    }
    m_w.cmdRun->setEnabled(false);
    int s = selectedTarget() + 1;
    if (s > kSlots - 1)
        s = 0;
    auto filled = [this](int i) {
        const QListWidgetItem *item = m_w.ListURL->item(i);
        return item && !item->text().isEmpty();
    };
    for (int i = s; i <= kSlots - 1; ++i) {
        if (filled(i))
            return examine(i, follow);
    }
    for (int i = 0; i <= s; ++i) {
        if (filled(i))
            return examine(i, follow);
    }
    m_w.cmdRun->setEnabled(true);
}

void Scheduler::examine(int slot, bool followLinks)
{
    m_patrol.CheckPage(m_w.ListURL->item(slot)->text());
    if (followLinks)
        m_patrol.FollowLinks();
    if (m_patrol.abandoned())
        return;
    // The list may have been edited meanwhile, but it always keeps its 100 rows.
    if (slot < m_w.ListURL->count())
        m_w.ListURL->setCurrentRow(slot);
    m_w.cmdRun->setEnabled(true);
}

void Scheduler::cmd_Click(int index)
{
    const bool start = index == 0;
    m_w.cmd動作制御[0]->setEnabled(!start);
    m_w.cmd動作制御[1]->setEnabled(start);
    if (start)
        m_w.Timer1->start();
    else
        m_w.Timer1->stop();
}
