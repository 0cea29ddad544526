#include "patrol/Schedule.h"

#include "settings/clINI.h"

#include <QRegularExpression>
#include <QStringList>
#include <QTimeZone>

using namespace Qt::StringLiterals;

namespace {

const QString kSection = u"SCHEDULE"_s;
const QString kCount = u"COUNT"_s;
// Far more than a hundred targets need: a file that claims more is read this far.
constexpr int kMaxEntries = 1000;

QString key(qsizetype i)
{
    return u"S"_s + QString::number(i);
}

std::optional<int> minutesOf(const QString &hhmm)
{
    static const QRegularExpression form(u"^([0-9]{1,2}):([0-9]{2})$"_s);
    const QRegularExpressionMatch m = form.match(hhmm);
    if (!m.hasMatch())
        return std::nullopt;
    const int h = m.captured(1).toInt();
    const int min = m.captured(2).toInt();
    if (min > 59 || h > 24 || (h == 24 && min != 0))
        return std::nullopt;
    return h * 60 + min;
}

QString hhmm(int minutes)
{
    return u"%1:%2"_s.arg(minutes / 60, 2, 10, QChar(u'0')).arg(minutes % 60, 2, 10, QChar(u'0'));
}

std::optional<quint8> daysOf(const QString &text)
{
    quint8 days = 0;
    for (const QString &item : text.split(u',')) {
        const QStringList ends = item.split(u'-');
        bool ok1 = false;
        bool ok2 = false;
        const int a = ends.value(0).toInt(&ok1);
        const int b = ends.size() == 2 ? ends[1].toInt(&ok2) : a;
        if (!ok1 || (ends.size() == 2 && !ok2) || ends.size() > 2 || a < 1 || a > 7 || b < 1 || b > 7)
            return std::nullopt;
        // Written backwards ("5-1"), the days run on over the weekend.
        for (int d = a;; d = d % 7 + 1) {
            days |= quint8(1u << (d - 1));
            if (d == b)
                break;
        }
    }
    return days;
}

QString daysText(quint8 days)
{
    QStringList parts;
    for (int d = 1; d <= 7;) {
        if (!(days & (1u << (d - 1)))) {
            ++d;
            continue;
        }
        int e = d;
        while (e < 7 && (days & (1u << e)))
            ++e;
        parts.append(e - d >= 2 ? u"%1-%2"_s.arg(d).arg(e) : e == d ? QString::number(d) : u"%1,%2"_s.arg(d).arg(e));
        d = e + 1;
    }
    return parts.join(u',');
}

} // namespace

bool TargetSchedule::Window::contains(const QDateTime &local) const
{
    const auto dayIn = [this](int d) { return days == 0 || (days & (1u << (d - 1))); };
    const int d = local.date().dayOfWeek();
    const int m = local.time().hour() * 60 + local.time().minute();
    if (from < 0)
        return dayIn(d);
    if (from < to)
        return dayIn(d) && m >= from && m < to;
    const int previous = d == 1 ? 7 : d - 1;
    return (dayIn(d) && m >= from) || (dayIn(previous) && m < to);
}

QDateTime TargetSchedule::Window::nextStart(const QDateTime &local) const
{
    if (contains(local))
        return local;
    for (int k = 0; k <= 8; ++k) {
        const QDate date = local.date().addDays(k);
        const QDateTime start(date, QTime(0, 0).addSecs(qint64(qMax(0, from)) * 60), local.timeZone());
        if (start > local && contains(start))
            return start;
    }
    return QDateTime();
}

QString TargetSchedule::Window::text() const
{
    QStringList parts;
    if (days != 0)
        parts.append(daysText(days));
    if (from >= 0)
        parts.append(hhmm(from) + u'-' + hhmm(to));
    return parts.join(u' ');
}

std::optional<TargetSchedule::Window> TargetSchedule::Window::parse(const QString &text)
{
    Window w;
    const QStringList tokens = text.simplified().split(u' ', Qt::SkipEmptyParts);
    if (tokens.size() > 2)
        return std::nullopt;
    for (const QString &t : tokens) {
        if (t.contains(u':')) {
            const QStringList ends = t.split(u'-');
            if (w.from >= 0 || ends.size() != 2)
                return std::nullopt;
            const std::optional<int> a = minutesOf(ends[0]);
            const std::optional<int> b = minutesOf(ends[1]);
            if (!a || !b || *a == *b || *a == 24 * 60)
                return std::nullopt;
            w.from = *a;
            w.to = *b;
        } else {
            const std::optional<quint8> d = daysOf(t);
            if (w.days != 0 || !d || w.from >= 0)
                return std::nullopt;
            // Every day of the week is the same as none named.
            w.days = *d == 0x7F ? 0 : *d;
        }
    }
    return w;
}

QString TargetSchedule::entry() const
{
    QString interval = QString::number(intervalSeconds);
    if (jitterPercent > 0)
        interval += u'~' + QString::number(jitterPercent);
    return interval + u'|' + window.text() + u'|' + address;
}

std::optional<TargetSchedule> TargetSchedule::parse(const QString &entry)
{
    const qsizetype first = entry.indexOf(u'|');
    const qsizetype second = first < 0 ? -1 : entry.indexOf(u'|', first + 1);
    if (second < 0)
        return std::nullopt;
    static const QRegularExpression intervalForm(u"^([0-9]{1,12})(?:~([0-9]{1,3}))?$"_s);
    const QRegularExpressionMatch m = intervalForm.match(entry.left(first).trimmed());
    if (!m.hasMatch())
        return std::nullopt;
    TargetSchedule s;
    s.intervalSeconds = m.captured(1).toLongLong();
    s.jitterPercent = m.captured(2).isEmpty() ? 0 : m.captured(2).toInt();
    const std::optional<Window> w = Window::parse(entry.mid(first + 1, second - first - 1));
    s.address = entry.mid(second + 1);
    if (!w || s.intervalSeconds < 1 || s.intervalSeconds > kMaxIntervalSeconds || s.jitterPercent > kMaxJitterPercent
        || s.address.isEmpty())
        return std::nullopt;
    s.window = *w;
    return s;
}

namespace ScheduleStore {

Read read(clINI &ini)
{
    Read out;
    const int count = qBound(0, ini.GetSetting(kSection, kCount, QString()).toInt(), kMaxEntries);
    for (int i = 0; i < count; ++i) {
        const QString value = ini.GetSetting(kSection, key(i), QString());
        if (value.isEmpty())
            continue;
        if (const std::optional<TargetSchedule> s = TargetSchedule::parse(value))
            out.schedules.append(*s);
        else
            out.unreadable.append(key(i));
    }
    return out;
}

void write(clINI &ini, const QList<TargetSchedule> &schedules)
{
    const int before = qBound(0, ini.GetSetting(kSection, kCount, QString()).toInt(), kMaxEntries);
    if (schedules.isEmpty() && before == 0)
        return;
    ini.SaveSetting(kSection, kCount, QString::number(schedules.size()));
    for (qsizetype i = 0; i < schedules.size(); ++i)
        ini.SaveSetting(kSection, key(i), schedules[i].entry());
    for (qsizetype i = schedules.size(); i < before; ++i)
        ini.SaveSetting(kSection, key(i), QString());
}

QString unreadableText(const QStringList &keys)
{
    return u"設定ファイルの巡回の予定 %1 は読めないため使いません。"_s.arg(keys.join(u"、"_s));
}

} // namespace ScheduleStore
