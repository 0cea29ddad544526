#pragma once

#include <QDateTime>
#include <QList>
#include <QString>

#include <optional>

class clINI;

// When a target wants its visits: every so many seconds, optionally only on some weekdays and
// between two times of the day (local time), give or take a share of the interval.
struct TargetSchedule
{
    // The days and hours a target may be visited; always when empty.
    struct Window
    {
        // Bit d-1 for ISO weekday d (1 Monday … 7 Sunday); 0 means every day.
        quint8 days = 0;
        // Minutes after midnight; both -1 for the whole day. A start after the end crosses
        // midnight: the hours after it belong to the day the window began.
        int from = -1;
        int to = -1;

        bool always() const { return days == 0 && from < 0; }
        bool contains(const QDateTime &local) const;
        // The first minute at or after the time that lies in the window; invalid when none does
        // within a week.
        QDateTime nextStart(const QDateTime &local) const;
        // As stored and shown: "1-5 09:00-18:00", "6,7", "22:00-02:00", or empty.
        QString text() const;
        static std::optional<Window> parse(const QString &text);
        bool operator==(const Window &) const = default;
    };

    qint64 intervalSeconds = 0;
    // The next visit comes this share of the interval earlier or later, at random.
    int jitterPercent = 0;
    Window window;
    QString address;

    // Limits of what a file may say.
    static constexpr qint64 kMaxIntervalSeconds = 366LL * 24 * 3600;
    static constexpr int kMaxJitterPercent = 50;

    // One entry as stored: "interval-seconds[~jitter-percent]|window|address".
    QString entry() const;
    static std::optional<TargetSchedule> parse(const QString &entry);
    bool operator==(const TargetSchedule &) const = default;
};

// The schedules in section SCHEDULE of the settings file, which a Windows copy does not know:
// COUNT, then S0, S1, … one entry each.
namespace ScheduleStore {

struct Read
{
    QList<TargetSchedule> schedules;
    // The keys whose entries could not be read, such as "S3".
    QStringList unreadable;
};

Read read(clINI &ini);
void write(clINI &ini, const QList<TargetSchedule> &schedules);

// The Japanese line that tells once which entries were passed over.
QString unreadableText(const QStringList &keys);

} // namespace ScheduleStore
