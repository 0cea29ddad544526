#include "patrol/Timetable.h"

#include <QRandomGenerator>

#include <cmath>

using namespace Qt::StringLiterals;

Timetable::Timetable(Clock clock, Random random)
    : m_clock(clock ? std::move(clock) : [] { return QDateTime::currentMSecsSinceEpoch(); })
    , m_random(random ? std::move(random) : [] { return QRandomGenerator::global()->generateDouble() * 2 - 1; })
{ }

void Timetable::restore(const QList<TargetSchedule> &schedules)
{
    for (const TargetSchedule &s : schedules)
        m_schedules.insert(s.address, s);
}

void Timetable::set(const QString &address, const std::optional<TargetSchedule> &schedule)
{
    if (schedule) {
        TargetSchedule s = *schedule;
        s.address = address;
        m_schedules.insert(address, s);
    } else {
        m_schedules.remove(address);
    }
    // A new interval counts from now, not from a visit made under the old one.
    m_nextDue.remove(address);
    m_changed = true;
}

std::optional<TargetSchedule> Timetable::find(const QString &address) const
{
    const auto found = m_schedules.constFind(address);
    return found == m_schedules.constEnd() ? std::nullopt : std::optional<TargetSchedule>(*found);
}

QList<TargetSchedule> Timetable::listed(const QStringList &addresses) const
{
    QList<TargetSchedule> out;
    QSet<QString> seen;
    for (const QString &a : addresses) {
        if (const auto found = m_schedules.constFind(a); found != m_schedules.constEnd() && !seen.contains(a)) {
            out.append(*found);
            seen.insert(a);
        }
    }
    return out;
}

Timetable::Standing Timetable::standing(const QString &address) const
{
    const auto found = m_schedules.constFind(address);
    if (found == m_schedules.constEnd())
        return {};
    const TargetSchedule &s = *found;
    const qint64 t = m_clock();
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(t);
    Standing st;
    st.scheduled = true;
    if (!s.window.contains(local)) {
        const QDateTime opens = s.window.nextStart(local);
        st.due = false;
        st.at = opens.isValid() ? opens.toMSecsSinceEpoch() : t + 24LL * 3600 * 1000;
        return st;
    }
    qint64 due = m_nextDue.value(address, 0);
    // A clock set back must not put a visit off by more than one interval.
    const qint64 longest = s.intervalSeconds * 1000 * (100 + s.jitterPercent) / 100;
    if (due > t + longest)
        due = t;
    st.due = due <= t;
    st.at = due;
    return st;
}

void Timetable::visited(const QString &address)
{
    const auto found = m_schedules.constFind(address);
    if (found == m_schedules.constEnd())
        return;
    const double spread = found->jitterPercent / 100.0 * qBound(-1.0, m_random(), 1.0);
    m_nextDue.insert(address, m_clock() + qint64(std::llround(double(found->intervalSeconds) * 1000 * (1 + spread))));
}

QString Timetable::describe(const QString &address) const
{
    const std::optional<TargetSchedule> s = find(address);
    if (!s)
        return QString();
    const qint64 sec = s->intervalSeconds;
    QString every = sec % 3600 == 0 ? u"%1時間"_s.arg(sec / 3600)
        : sec % 60 == 0             ? u"%1分"_s.arg(sec / 60)
                                    : u"%1秒"_s.arg(sec);
    QString text = u"予定: "_s + every + u"ごと"_s;
    if (!s->window.always())
        text += u' ' + s->window.text();
    if (s->jitterPercent > 0)
        text += u" ±%1%"_s.arg(s->jitterPercent);
    const Standing st = standing(address);
    const QString next = st.due ? u"次回 次のステップ"_s
                                : u"次回 "_s + QDateTime::fromMSecsSinceEpoch(st.at).toString(u"MM/dd HH:mm"_s);
    return text + u"、"_s + next;
}
