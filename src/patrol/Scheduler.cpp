#include "patrol/Scheduler.h"

#include "patrol/Patrol.h"
#include "patrol/TargetHealth.h"
#include "platform/VbNumber.h"
#include "settings/SettingKeys.h"
#include "settings/clINI.h"

#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>

using namespace Qt::StringLiterals;

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
    const Choice next = choose();
    if (next.slot >= 0)
        return examine(next.slot, follow, next.scheduled);
    if (next.nextAt > 0)
        m_w.LaStatus->setText(nothingDueText(QDateTime::fromMSecsSinceEpoch(next.nextAt)));
    m_w.cmdRun->setEnabled(true);
}

Scheduler::Choice Scheduler::choose() const
{
    int s = selectedTarget() + 1;
    if (s > kSlots - 1)
        s = 0;
    // The order of the rows from the one after the selection on, as if the list were a ring.
    QList<int> order;
    for (int i = s; i <= kSlots - 1; ++i)
        order.append(i);
    for (int i = 0; i <= s; ++i)
        order.append(i);
    Choice best;
    int plain = -1;
    qint64 overdueBy = -1;
    const qint64 now = m_patrol.timetable().now();
    const auto later = [&best](qint64 at) {
        if (at > 0 && (best.nextAt == 0 || at < best.nextAt))
            best.nextAt = at;
    };
    for (int i : std::as_const(order)) {
        const QListWidgetItem *item = m_w.ListURL->item(i);
        if (!item || item->text().isEmpty())
            continue;
        const QString address = item->text();
        if (const qint64 rest = m_patrol.pace().restingUntil(HostPace::hostOf(address)); rest > 0) {
            later(rest);
            continue;
        }
        const Timetable::Standing st = m_patrol.timetable().standing(address);
        if (!st.scheduled) {
            if (plain < 0)
                plain = i;
            continue;
        }
        if (!st.due) {
            later(st.at);
            continue;
        }
        // The most overdue of the targets that have their own time goes first.
        if (now - st.at > overdueBy) {
            overdueBy = now - st.at;
            best.slot = i;
            best.scheduled = true;
        }
    }
    if (best.slot < 0 && plain >= 0) {
        best.slot = plain;
        best.scheduled = false;
    }
    return best;
}

QString Scheduler::nothingDueText(const QDateTime &next)
{
    return u"巡回する対象はありません。次の巡回は %1 の予定です"_s.arg(next.toString(u"MM/dd HH:mm:ss"_s));
}

void Scheduler::examine(int slot, bool followLinks, bool scheduled)
{
    const QString address = m_w.ListURL->item(slot)->text();
    m_patrol.CheckPage(address);
    if (followLinks)
        m_patrol.FollowLinks();
    if (m_patrol.abandoned())
        return;
    // The list may have been edited meanwhile, but it always keeps its 100 rows. A target on its
    // own time leaves the place of the others in the ring where it was.
    if (!scheduled && slot < m_w.ListURL->count())
        m_w.ListURL->setCurrentRow(slot);
    m_patrol.health().repaint(address);
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
