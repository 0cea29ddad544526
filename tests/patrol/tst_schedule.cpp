// A target's own schedule: its entry in the file, its window of days and hours, when it is due
// on a clock that may jump, and how a host is spared.
#include "patrol/HostPace.h"
#include "patrol/Schedule.h"
#include "patrol/Timetable.h"

#include <QTest>

using namespace Qt::StringLiterals;

class TestSchedule : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void entry_data();
    void entry();
    void window_data();
    void window();
    void due_jitterAndClockJumps_data();
    void due_jitterAndClockJumps();
    void retryAfter_data();
    void retryAfter();
    void backoff_doublesToAnHour();
};

void TestSchedule::entry_data()
{
    QTest::addColumn<QString>("entry");
    QTest::addColumn<bool>("readable");
    QTest::addColumn<QString>("again"); // written back
    QTest::newRow("always") << u"600||http://a/"_s << true << u"600||http://a/"_s;
    QTest::newRow("weekdays, office hours, jitter")
        << u"3600~10|1-5 09:00-18:00|http://a/?q=1|2"_s << true << u"3600~10|1-5 09:00-18:00|http://a/?q=1|2"_s;
    QTest::newRow("every day named is always") << u"60|1-7|http://a/"_s << true << u"60||http://a/"_s;
    QTest::newRow("days backwards run over the weekend") << u"60|5-1|http://a/"_s << true << u"60|1,5-7|http://a/"_s;
    QTest::newRow("interval 0") << u"0||http://a/"_s << false << QString();
    QTest::newRow("negative") << u"-60||http://a/"_s << false << QString();
    QTest::newRow("huge") << u"999999999999||http://a/"_s << false << QString();
    QTest::newRow("jitter over half") << u"60~51||http://a/"_s << false << QString();
    QTest::newRow("hour 25") << u"60|25:00-02:00|http://a/"_s << false << QString();
    QTest::newRow("day 8") << u"60|1-8|http://a/"_s << false << QString();
    QTest::newRow("no address") << u"60||"_s << false << QString();
    QTest::newRow("garbage") << u"soon"_s << false << QString();
}

void TestSchedule::entry()
{
    QFETCH(QString, entry);
    QFETCH(bool, readable);
    QFETCH(QString, again);
    const std::optional<TargetSchedule> s = TargetSchedule::parse(entry);
    QCOMPARE(s.has_value(), readable);
    if (s)
        QCOMPARE(s->entry(), again);
}

void TestSchedule::window_data()
{
    QTest::addColumn<QString>("window");
    QTest::addColumn<QDateTime>("at"); // 2026-12-07 is a Monday
    QTest::addColumn<bool>("inside");
    const auto at = [](int day, int h, int m) { return QDateTime(QDate(2026, 12, 6 + day), QTime(h, m)); };
    QTest::newRow("office hours, Monday 10:00") << u"1-5 09:00-18:00"_s << at(1, 10, 0) << true;
    QTest::newRow("office hours, Monday 18:00") << u"1-5 09:00-18:00"_s << at(1, 18, 0) << false;
    QTest::newRow("office hours, Saturday") << u"1-5 09:00-18:00"_s << at(6, 10, 0) << false;
    QTest::newRow("across midnight, 23:00") << u"22:00-02:00"_s << at(2, 23, 0) << true;
    QTest::newRow("across midnight, 01:59") << u"22:00-02:00"_s << at(2, 1, 59) << true;
    QTest::newRow("across midnight, 02:00") << u"22:00-02:00"_s << at(2, 2, 0) << false;
    QTest::newRow("Friday night into Saturday") << u"5 22:00-02:00"_s << at(6, 1, 0) << true;
    QTest::newRow("Saturday night is not Friday's") << u"5 22:00-02:00"_s << at(7, 1, 0) << false;
    QTest::newRow("backwards days, Sunday") << u"5-1"_s << at(7, 12, 0) << true;
    QTest::newRow("backwards days, Wednesday") << u"5-1"_s << at(3, 12, 0) << false;
}

void TestSchedule::window()
{
    QFETCH(QString, window);
    QFETCH(QDateTime, at);
    QFETCH(bool, inside);
    const std::optional<TargetSchedule::Window> w = TargetSchedule::Window::parse(window);
    QVERIFY(w);
    QCOMPARE(w->contains(at), inside);
    // The next start is in the window and no later than a week.
    const QDateTime next = w->nextStart(at);
    QVERIFY(next.isValid() && w->contains(next) && next >= at && next <= at.addDays(7));
    QCOMPARE(next == at, inside);
}

void TestSchedule::due_jitterAndClockJumps_data()
{
    QTest::addColumn<double>("random");
    QTest::addColumn<qint64>("jumpMs"); // the clock right after the visit
    QTest::addColumn<qint64>("dueInMs");
    constexpr qint64 minute = 60 * 1000;
    QTest::newRow("no jitter drawn") << 0.0 << qint64(0) << 10 * minute;
    QTest::newRow("earliest") << -1.0 << qint64(0) << 9 * minute;
    QTest::newRow("latest") << 1.0 << qint64(0) << 11 * minute;
    QTest::newRow("clock set forward an hour: due at once") << 0.0 << 60 * minute << -50 * minute;
    // Set back an hour, the target waits no more than one interval.
    QTest::newRow("clock set back an hour") << 0.0 << -60 * minute << 0LL;
}

void TestSchedule::due_jitterAndClockJumps()
{
    QFETCH(double, random);
    QFETCH(qint64, jumpMs);
    QFETCH(qint64, dueInMs);
    qint64 now = 1'800'000'000'000;
    Timetable t([&now] { return now; }, [random] { return random; });
    t.set(u"http://a/"_s, TargetSchedule::parse(u"600~10||http://a/"_s));
    QVERIFY(t.standing(u"http://a/"_s).due);
    t.visited(u"http://a/"_s);
    now += jumpMs;
    const Timetable::Standing st = t.standing(u"http://a/"_s);
    QCOMPARE(st.at - now, dueInMs);
    QCOMPARE(st.due, dueInMs <= 0);
    QVERIFY(!t.standing(u"http://unscheduled/"_s).scheduled && t.standing(u"http://unscheduled/"_s).due);
}

void TestSchedule::retryAfter_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<qint64>("waitMs"); // -1: names no time
    const qint64 day = 24LL * 3600 * 1000;
    QTest::newRow("seconds") << u"20"_s << qint64(20000);
    QTest::newRow("HTTP date") << u"Sat, 30 Jan 2027 08:00:20 GMT"_s << qint64(20000);
    QTest::newRow("in the past") << u"Sat, 30 Jan 2027 07:00:00 GMT"_s << qint64(0);
    QTest::newRow("a year ahead") << u"Sun, 30 Jan 2028 08:00:00 GMT"_s << day;
    QTest::newRow("seconds beyond a day") << u"999999"_s << day;
    QTest::newRow("garbage") << u"later, please"_s << qint64(-1);
    QTest::newRow("negative") << u"-5"_s << qint64(-1);
}

void TestSchedule::retryAfter()
{
    QFETCH(QString, value);
    QFETCH(qint64, waitMs);
    const qint64 now = QDateTime(QDate(2027, 1, 30), QTime(8, 0), Qt::UTC).toMSecsSinceEpoch();
    const std::optional<qint64> at = HostPace::retryAt(value, now);
    QCOMPARE(at.has_value(), waitMs >= 0);
    if (at)
        QCOMPARE(*at - now, waitMs);
}

void TestSchedule::backoff_doublesToAnHour()
{
    qint64 now = 1'800'000'000'000;
    HostPace pace([&now] { return now; });
    const QString host = HostPace::hostOf(u"http://Example.test:8080/x"_s);
    QCOMPARE(host, u"example.test:8080"_s);
    QList<qint64> rests;
    for (int i = 0; i < 9; ++i) {
        pace.answered(host, true, std::nullopt);
        const qint64 until = pace.restingUntil(host);
        rests.append(until ? (until - now) / 60000 : 0);
    }
    QCOMPARE(rests, (QList<qint64> {0, 1, 2, 4, 8, 16, 32, 60, 60}));
    pace.answered(host, false, std::nullopt);
    QCOMPARE(pace.restingUntil(host), 0);
    // The gap counts from the last visit, also when the clock is set back meanwhile.
    pace.visiting(host);
    now -= 3600 * 1000;
    QCOMPARE(pace.gapEndsAt(host) - now, pace.gapMs());
}

QTEST_GUILESS_MAIN(TestSchedule)
#include "tst_schedule.moc"
