// The patrol step and the countdown on bare widgets, with ticks driven by the test.
#include "ScriptedBrowser.h"
#include "mail/Module1.h"
#include "mail/Module1Testing.h"
#include "patrol/Patrol.h"
#include "patrol/Scheduler.h"
#include "settings/clINI.h"

#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <thread>

using namespace Qt::StringLiterals;

class TestScheduler : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void ownClocks_whoGoesNext_data();
    void ownClocks_whoGoesNext();

    void slots_visitedInTurn_data();
    void slots_visitedInTurn();
    void noTarget_stepDoesNothing();
    void countdown_data();
    void countdown();
    void startStop_freezeAndResume();
    void stopDuringStep_stepFinishes();
    void clickOrTickDuringStep_startsNothing();
    void check1_readAtEveryStep();
    void check1_values_data();
    void check1_values();

    void links_followedOneLevelInOrder();
    void links_unreadable_stepGoesOn();
    void links_localPageMayLeadToLocalPages();
    void abandon_duringLinks_loadsNothingMore();
    void links_afterFailedTarget_neverFollowed_data();
    void links_afterFailedTarget_neverFollowed();
    void links_followOnlyOncePerTargetCheck();
    void slowMail_stepWaitsForItsAnswer_ticksGoOn();
    void targetState_onItsRow_linkedPagesNotCounted();

private:
    void setting(const QString &key, const QString &value);
    QString page(const QString &path) const { return u"http://127.0.0.1/"_s + path; }
    QStringList navigations() const;

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QWidget> m_window;
    PatrolWidgets m_w;
    std::unique_ptr<ScriptedBrowser> m_browser;
    std::unique_ptr<Patrol> m_patrol;
    std::unique_ptr<Scheduler> m_scheduler;
};

void TestScheduler::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_window = std::make_unique<QWidget>();
    m_browser = std::make_unique<ScriptedBrowser>();
    QWidget *win = m_window.get();
    m_w = PatrolWidgets {};
    m_w.window = win;
    m_w.browser = m_browser.get();
    m_w.ListURL = new QListWidget(win);
    m_w.ListKeyWord = new QListWidget(win);
    m_w.List1 = new QListWidget(win);
    m_w.List3 = new QListWidget(win);
    m_w.LaStatus = new QLabel(win);
    m_w.LaCountDown = new QLabel(u"60"_s, win);
    m_w.Text1 = new QPlainTextEdit(win);
    m_w.cmdRun = new QPushButton(win);
    m_w.cmd動作制御 = {new QPushButton(win), new QPushButton(win)};
    m_w.cmd動作制御[0]->setEnabled(false);
    m_w.Timer1 = new QTimer(win);
    m_w.Timer1->setInterval(1000);
    const QString folder = m_dir->path();
    m_w.settingsFolder = [folder] { return folder; };
    for (int i = 0; i < 100; ++i) {
        m_w.ListURL->addItem(QString());
        m_w.ListKeyWord->addItem(QString());
    }
    m_patrol = std::make_unique<Patrol>(m_w);
    m_scheduler = std::make_unique<Scheduler>(m_w, *m_patrol);
    Module1::testing::setSettingsFolder(folder);
    Module1::testing::setSendMail([](auto &&...) { return QString(); });
    // The described pace; the gap between visits to one host has tests of its own.
    setting(u"HOSTGAP"_s, u"0"_s);
}

void TestScheduler::cleanup()
{
    m_scheduler.reset();
    m_patrol.reset();
    m_window.reset();
    m_browser.reset();
    Module1::testing::reset();
}

void TestScheduler::setting(const QString &key, const QString &value)
{
    clINI ini(m_dir->path());
    ini.SaveSetting(u"MAIL"_s, key, value);
    QVERIFY(ini.commit());
}

QStringList TestScheduler::navigations() const
{
    QStringList r;
    for (const QString &c : m_browser->calls()) {
        if (c.startsWith(u"navigate "_s))
            r << c.mid(9);
    }
    return r;
}

void TestScheduler::ownClocks_whoGoesNext_data()
{
    // Rows 1, 2 and 3 hold a, b and c; c is on a host of its own.
    QTest::addColumn<QStringList>("schedules");
    QTest::addColumn<bool>("cResting");
    QTest::addColumn<QStringList>("visits");
    const QString tomorrow = QString::number(QDate::currentDate().addDays(1).dayOfWeek());
    QTest::newRow("its own time first, then the others in turn")
        << QStringList {u"3600||a"_s} << false << QStringList {u"a"_s, u"b"_s, u"c"_s, u"b"_s};
    QTest::newRow("outside its window: skipped")
        << QStringList {u"60|%1|a"_s.arg(tomorrow)} << false << QStringList {u"b"_s, u"c"_s, u"b"_s, u"c"_s};
    QTest::newRow("nothing due: the step does nothing")
        << QStringList {u"3600||a"_s, u"3600||b"_s, u"3600||c"_s} << false << QStringList {u"a"_s, u"b"_s, u"c"_s};
    QTest::newRow("a resting host: skipped") << QStringList {} << true << QStringList {u"a"_s, u"b"_s, u"a"_s, u"b"_s};
}

void TestScheduler::ownClocks_whoGoesNext()
{
    QFETCH(QStringList, schedules);
    QFETCH(bool, cResting);
    QFETCH(QStringList, visits);
    const auto address = [this](const QString &name) { return name == u"c" ? u"http://other.test/c"_s : page(name); };
    const QStringList names {u"a"_s, u"b"_s, u"c"_s};
    for (int i = 0; i < names.size(); ++i)
        m_w.ListURL->item(i + 1)->setText(address(names[i]));
    for (const QString &entry : std::as_const(schedules)) {
        std::optional<TargetSchedule> s = TargetSchedule::parse(entry);
        QVERIFY(s);
        m_patrol->timetable().set(address(s->address), s);
    }
    if (cResting)
        m_patrol->pace().answered(HostPace::hostOf(address(u"c"_s)), false, m_patrol->pace().now() + 60000);
    for (int step = 0; step < 4; ++step)
        m_scheduler->cmdRun_Click();
    QStringList seen;
    for (const QString &n : navigations())
        seen.append(n.section(u'/', -1));
    QCOMPARE(seen, visits.mid(0, 4));
    if (visits.size() < 4)
        QVERIFY2(m_w.LaStatus->text().startsWith(u"巡回する対象はありません。次の巡回は "_s),
            qPrintable(m_w.LaStatus->text()));
}

void TestScheduler::slots_visitedInTurn_data()
{
    QTest::addColumn<QList<int>>("filled");
    QTest::addColumn<int>("selected");
    QTest::addColumn<QList<int>>("visits");

    QTest::newRow("3 and 7 in turn") << QList<int> {3, 7} << -1 << QList<int> {3, 7, 3, 7};
    QTest::newRow("wrap after 99") << QList<int> {99} << 99 << QList<int> {99, 99};
    QTest::newRow("from 42 with 10 and 50") << QList<int> {10, 50} << 42 << QList<int> {50, 10, 50};
    QTest::newRow("single entry at 0") << QList<int> {0} << -1 << QList<int> {0, 0, 0};
}

void TestScheduler::slots_visitedInTurn()
{
    QFETCH(QList<int>, filled);
    QFETCH(int, selected);
    QFETCH(QList<int>, visits);
    for (int i : filled)
        m_w.ListURL->item(i)->setText(page(QString::number(i)));
    if (selected >= 0)
        m_w.ListURL->setCurrentRow(selected);
    QStringList expected;
    for (int i = 0; i < visits.size(); ++i) {
        m_scheduler->cmdRun_Click();
        expected << page(QString::number(visits[i]));
        QCOMPARE(m_w.ListURL->currentRow(), visits[i]);
        QVERIFY(m_w.cmdRun->isEnabled());
    }
    QCOMPARE(navigations(), expected);
}

void TestScheduler::noTarget_stepDoesNothing()
{
    m_w.ListURL->item(5)->setText(u"   "_s);
    m_scheduler->cmdRun_Click();
    // Spaces are an address like any other, handed on as they are.
    QCOMPARE(navigations(), QStringList {u"   "_s});
    m_w.ListURL->item(5)->setText(QString());
    m_scheduler->cmdRun_Click();
    QCOMPARE(navigations().size(), 1);
    QVERIFY(m_w.cmdRun->isEnabled());
    QCOMPARE(m_w.ListURL->currentRow(), 5);
}

void TestScheduler::countdown_data()
{
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("timerTime");
    QTest::addColumn<QStringList>("shown"); // after each tick
    QTest::addColumn<int>("steps");

    QTest::newRow("3") << u"3"_s << u"3"_s << QStringList {u"2"_s, u"1"_s, u"3"_s, u"2"_s} << 1;
    QTest::newRow("1: every tick") << u"1"_s << u"1"_s << QStringList {u"1"_s, u"1"_s, u"1"_s} << 3;
    QTest::newRow("0: every tick") << u"0"_s << u"0"_s << QStringList {u"0"_s, u"0"_s} << 2;
    QTest::newRow("-5: every tick") << u"-5"_s << u"-5"_s << QStringList {u"-5"_s, u"-5"_s} << 2;
    QTest::newRow("caption abc counts as 60") << u"abc"_s << u"3"_s << QStringList {u"59"_s} << 0;
    QTest::newRow("caption 2.5 rounds to 2") << u"2.5"_s << u"3"_s << QStringList {u"1"_s, u"3"_s} << 1;
    QTest::newRow("interval abc counts as 60") << u"1"_s << u"abc"_s << QStringList {u"60"_s} << 1;
    QTest::newRow("interval 99999 counts as 60") << u"1"_s << u"99999"_s << QStringList {u"60"_s} << 1;
    QTest::newRow("interval 32767") << u"1"_s << u"32767"_s << QStringList {u"32767"_s, u"32766"_s} << 1;
}

void TestScheduler::countdown()
{
    QFETCH(QString, caption);
    QFETCH(QString, timerTime);
    QFETCH(QStringList, shown);
    QFETCH(int, steps);
    setting(u"TIMERTIME"_s, timerTime);
    m_w.ListURL->item(0)->setText(page(u"a"_s));
    m_w.LaCountDown->setText(caption);
    QStringList seen;
    for (qsizetype i = 0; i < shown.size(); ++i) {
        m_scheduler->Timer1_Timer();
        seen << m_w.LaCountDown->text();
    }
    QCOMPARE(seen, shown);
    QCOMPARE(navigations().size(), steps);
}

void TestScheduler::startStop_freezeAndResume()
{
    m_w.Timer1->start();
    m_scheduler->cmd_Click(1);
    QVERIFY(!m_w.Timer1->isActive());
    QVERIFY(m_w.cmd動作制御[0]->isEnabled());
    QVERIFY(!m_w.cmd動作制御[1]->isEnabled());
    m_w.LaCountDown->setText(u"17"_s);
    m_scheduler->cmd_Click(0);
    QVERIFY(m_w.Timer1->isActive());
    QVERIFY(!m_w.cmd動作制御[0]->isEnabled());
    QVERIFY(m_w.cmd動作制御[1]->isEnabled());
    QCOMPARE(m_w.LaCountDown->text(), u"17"_s);
}

void TestScheduler::stopDuringStep_stepFinishes()
{
    setting(u"TIMERTIME"_s, u"5"_s);
    m_w.ListURL->item(2)->setText(page(u"slow"_s));
    m_browser->addPage(page(u"slow"_s), ScriptedPage {u"x\r\n"_s, u"t"_s, {}, {}, 5, false});
    m_w.Timer1->start();
    m_w.LaCountDown->setText(u"1"_s);
    QTimer::singleShot(0, this, [this] { m_scheduler->cmd_Click(1); });
    m_scheduler->Timer1_Timer();
    QCOMPARE(m_w.LaStatus->text(), u"巡回完了"_s);
    QCOMPARE(m_w.ListURL->currentRow(), 2);
    QVERIFY(!m_w.Timer1->isActive());
    QCOMPARE(m_w.LaCountDown->text(), u"5"_s);
}

void TestScheduler::clickOrTickDuringStep_startsNothing()
{
    setting(u"TIMERTIME"_s, u"4"_s);
    m_w.ListURL->item(1)->setText(page(u"one"_s));
    m_w.ListURL->item(2)->setText(page(u"two"_s));
    m_browser->addPage(page(u"one"_s), ScriptedPage {u"x\r\n"_s, u"t"_s, {}, {}, 5, false});
    QString countdownAfterNestedTick;
    QTimer::singleShot(0, this, [&] {
        QVERIFY(!m_w.cmdRun->isEnabled());
        m_scheduler->cmdRun_Click();
        m_w.LaCountDown->setText(u"1"_s);
        m_scheduler->Timer1_Timer();
        countdownAfterNestedTick = m_w.LaCountDown->text();
    });
    m_w.LaCountDown->setText(u"1"_s);
    m_scheduler->Timer1_Timer();
    QCOMPARE(navigations(), QStringList {page(u"one"_s)});
    QCOMPARE(countdownAfterNestedTick, u"4"_s);
    QCOMPARE(m_w.LaCountDown->text(), u"4"_s);
    QVERIFY(m_w.cmdRun->isEnabled());
}

void TestScheduler::check1_readAtEveryStep()
{
    m_w.ListKeyWord->item(0)->setText(u"more"_s);
    m_w.ListURL->item(0)->setText(page(u"top"_s));
    ScriptedPage top {u"x\r\n"_s, u"t"_s, {}, {BrowserLink {u"more"_s, page(u"linked"_s)}}, 3, false};
    m_browser->addPage(page(u"top"_s), top);
    // Switched off in the middle of a step: that step keeps what it read at its start.
    QTimer::singleShot(0, this, [this] { setting(u"CHECK1"_s, u"0"_s); });
    m_scheduler->cmdRun_Click();
    QCOMPARE(navigations(), (QStringList {page(u"top"_s), page(u"linked"_s)}));
    m_scheduler->cmdRun_Click();
    QCOMPARE(navigations().size(), 3);
    QCOMPARE(navigations().last(), page(u"top"_s));
}

void TestScheduler::check1_values_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<bool>("on");
    QTest::newRow("1") << u"1"_s << true;
    QTest::newRow("0") << u"0"_s << false;
    QTest::newRow("-1") << u"-1"_s << true;
    QTest::newRow("0.0") << u" 0.0 "_s << false;
    QTest::newRow("not a number") << u"abc"_s << true;
    QTest::newRow("empty") << QString() << true;
}

void TestScheduler::check1_values()
{
    QFETCH(QString, value);
    QFETCH(bool, on);
    QCOMPARE(Scheduler::linkFollowingOn(value), on);
}

void TestScheduler::links_followedOneLevelInOrder()
{
    m_w.ListKeyWord->item(0)->setText(u"@ 詳細"_s);
    m_w.ListKeyWord->item(1)->setText(u"ABC"_s);
    m_w.ListKeyWord->item(2)->setText(u"大阪"_s);
    const QList<BrowserLink> links {
        {u"詳細はこちら"_s, page(u"detail"_s)},
        {QString(), page(u"image-only"_s)},
        {u"\uFF21\uFF22\uFF23"_s, page(u"fullwidth"_s)},
        {u"ローカル詳細"_s, u"file:///etc/passwd"_s},
        {u"メールで詳細"_s, u"mailto:someone@example.test"_s},
        {u"詳細の元"_s, u"view-source:file:///etc/passwd"_s},
        {u"詳細を開く"_s, u"javascript:location='http://127.0.0.1/x'"_s},
        {u"詳細で停止"_s, u"chrome://crash"_s},
        {u"abc"_s, page(u"ascii"_s)},
        {u"詳細 もう一度"_s, page(u"detail"_s)},
        {QString(20000, u'x') + u"大阪"_s, page(u"long"_s)},
    };
    m_browser->addPage(page(u"top"_s), ScriptedPage {u"top\r\n"_s, u"t"_s, {}, links, 0, false});
    ScriptedPage detail {
        u"詳細 大阪の情報\r\n詳細だけ\r\n"_s, u"d"_s, {}, {BrowserLink {u"大阪"_s, page(u"deeper"_s)}}};
    m_browser->addPage(page(u"detail"_s), detail);
    m_w.ListURL->item(0)->setText(page(u"top"_s));
    m_scheduler->cmdRun_Click();
    QCOMPARE(navigations(),
        (QStringList {page(u"top"_s), page(u"detail"_s), page(u"ascii"_s), page(u"detail"_s), page(u"long"_s)}));
    // On the linked page the link-only condition is no hit; the other one is.
    QCOMPARE(m_w.List3->count(), 1);
    QCOMPARE(m_w.List3->item(0)->text(), u"詳細 大阪の情報"_s);
}

void TestScheduler::links_localPageMayLeadToLocalPages()
{
    m_w.ListKeyWord->item(0)->setText(u"@ 詳細"_s);
    const QList<BrowserLink> links {
        {u"詳細 1"_s, u"file:///home/user/detail.html"_s},
        {u"詳細 2"_s, page(u"web"_s)},
        {u"詳細 3"_s, u"view-source:file:///home/user/detail.html"_s},
    };
    m_browser->addPage(u"file:///home/user/top.html"_s, ScriptedPage {u"top\r\n"_s, u"t"_s, {}, links, 0, false});
    m_w.ListURL->item(0)->setText(u"file:///home/user/top.html"_s);
    m_scheduler->cmdRun_Click();
    QCOMPARE(navigations(),
        (QStringList {u"file:///home/user/top.html"_s, u"file:///home/user/detail.html"_s, page(u"web"_s)}));
}

void TestScheduler::links_unreadable_stepGoesOn()
{
    m_w.ListKeyWord->item(0)->setText(u"x"_s);
    ScriptedPage broken;
    broken.unreadable = true;
    m_browser->addPage(page(u"broken"_s), broken);
    m_w.ListURL->item(4)->setText(page(u"broken"_s));
    m_scheduler->cmdRun_Click();
    QCOMPARE(navigations(), QStringList {page(u"broken"_s)});
    QCOMPARE(m_w.ListURL->currentRow(), 4);
    QVERIFY(m_w.cmdRun->isEnabled());
}

void TestScheduler::abandon_duringLinks_loadsNothingMore()
{
    m_w.ListKeyWord->item(0)->setText(u"go"_s);
    QList<BrowserLink> links;
    for (int i = 0; i < 3; ++i)
        links.append({u"go"_s, page(u"slow%1"_s.arg(i))});
    m_browser->addPage(page(u"top"_s), ScriptedPage {u"top\r\n"_s, u"t"_s, {}, links, 0, false});
    m_browser->addPage(page(u"slow0"_s), ScriptedPage {u"go 0\r\n"_s, u"t"_s, {}, {}, 1000000, false});
    m_w.ListURL->item(0)->setText(page(u"top"_s));
    QTimer::singleShot(100, this, [this] { m_patrol->abandon(); });
    m_scheduler->cmdRun_Click();
    QCOMPARE(navigations(), (QStringList {page(u"top"_s), page(u"slow0"_s)}));
    QCOMPARE(m_w.List3->count(), 0);
    // The window is closing: the selection stays and no further step starts.
    QCOMPARE(m_w.ListURL->currentRow(), -1);
    m_w.LaCountDown->setText(u"1"_s);
    m_scheduler->Timer1_Timer();
    QCOMPARE(navigations().size(), 2);
}

void TestScheduler::links_afterFailedTarget_neverFollowed_data()
{
    QTest::addColumn<bool>("browserShowsOldPage");
    QTest::newRow("browser reads nothing") << false;
    QTest::newRow("browser still reads the linked page") << true;
}

// A target whose load fails right after a step that ended on a linked page: that page's own
// links are a second level and are never followed, whatever the browser still shows.
void TestScheduler::links_afterFailedTarget_neverFollowed()
{
    QFETCH(bool, browserShowsOldPage);
    m_w.ListKeyWord->item(0)->setText(u"@ 記事"_s);
    m_w.ListKeyWord->item(1)->setText(u"深い"_s);
    m_browser->addPage(
        page(u"top"_s), ScriptedPage {u"top\r\n"_s, u"t"_s, {}, {BrowserLink {u"記事"_s, page(u"art"_s)}}, 0, false});
    m_browser->addPage(page(u"art"_s),
        ScriptedPage {u"article\r\n"_s, u"a"_s, {}, {BrowserLink {u"深いページ"_s, page(u"deep"_s)}}, 0, false});
    m_browser->addPage(page(u"deep"_s), ScriptedPage {u"深い行\r\n"_s, u"d"_s, {}, {}, 0, false});
    ScriptedPage down;
    down.failure = LoadResult::Failure::ConnectionFailed;
    down.previousStaysReadable = browserShowsOldPage;
    m_browser->addPage(page(u"down"_s), down);
    m_w.ListURL->item(0)->setText(page(u"top"_s));
    m_w.ListURL->item(1)->setText(page(u"down"_s));
    for (int step = 0; step < 4; ++step)
        m_scheduler->cmdRun_Click();
    QCOMPARE(navigations(),
        (QStringList {
            page(u"top"_s), page(u"art"_s), page(u"down"_s), page(u"top"_s), page(u"art"_s), page(u"down"_s)}));
    QCOMPARE(m_w.List3->count(), 0);
    QVERIFY(m_w.List1->count() == 0);
}

// FollowLinks called again without a new check of a target finds nothing to follow.
void TestScheduler::links_followOnlyOncePerTargetCheck()
{
    m_w.ListKeyWord->item(0)->setText(u"@ 記事"_s);
    m_browser->addPage(
        page(u"top"_s), ScriptedPage {u"top\r\n"_s, u"t"_s, {}, {BrowserLink {u"記事"_s, page(u"art"_s)}}, 0, false});
    m_browser->addPage(page(u"art"_s),
        ScriptedPage {u"article\r\n"_s, u"a"_s, {}, {BrowserLink {u"記事 2"_s, page(u"deep"_s)}}, 0, false});
    m_patrol->CheckPage(page(u"top"_s));
    m_patrol->FollowLinks();
    m_patrol->FollowLinks();
    QCOMPARE(navigations(), (QStringList {page(u"top"_s), page(u"art"_s)}));
}

// The mail of a page goes out before the next page is loaded, so mails keep the page order;
// meanwhile the countdown counts and neither a tick nor a click starts a second step.
void TestScheduler::slowMail_stepWaitsForItsAnswer_ticksGoOn()
{
    m_w.ListKeyWord->item(0)->setText(u"hit"_s);
    m_browser->addPage(
        page(u"top"_s), ScriptedPage {u"hit top\r\n"_s, u"t"_s, {}, {BrowserLink {u"hit"_s, page(u"art"_s)}}});
    m_browser->addPage(page(u"art"_s), ScriptedPage {u"hit art\r\n"_s, u"a"_s, {}, {}});
    m_w.ListURL->item(0)->setText(page(u"top"_s));
    std::atomic<bool> hold {true};
    std::atomic<int> mails {0};
    QStringList bodies;
    Module1::testing::setSendMail(
        [&](const QString &, const QString &, const QString &, const QString &, const QString &body, const QString &) {
            bodies.append(body);
            ++mails;
            while (hold)
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            return QString();
        });
    m_w.LaCountDown->setText(u"30"_s);
    QStringList navigatedDuringMail;
    bool runEnabledDuringMail = true;
    QTimer tick;
    tick.setInterval(5);
    connect(&tick, &QTimer::timeout, this, [&] {
        m_scheduler->Timer1_Timer();
        m_scheduler->cmdRun_Click();
        if (mails == 1 && hold && m_w.LaCountDown->text().toInt() <= 20) {
            navigatedDuringMail = navigations();
            runEnabledDuringMail = m_w.cmdRun->isEnabled();
            hold = false;
        }
        if (mails == 2)
            hold = false;
    });
    tick.start();
    m_scheduler->cmdRun_Click();
    tick.stop();
    QCOMPARE(navigatedDuringMail, QStringList {page(u"top"_s)});
    QVERIFY(!runEnabledDuringMail);
    QCOMPARE(navigations(), (QStringList {page(u"top"_s), page(u"art"_s)}));
    QCOMPARE(bodies, (QStringList {u"hit top\r\n"_s, u"hit art\r\n"_s}));
    QCOMPARE(m_w.ListURL->currentRow(), 0);
    QVERIFY(m_w.cmdRun->isEnabled());
}

// A target's row shows how its last visit went; failing linked pages neither colour it nor count
// towards an alert.
void TestScheduler::targetState_onItsRow_linkedPagesNotCounted()
{
    setting(u"ERRORMAIL"_s, u"1"_s);
    QStringList subjects;
    Module1::testing::setSendMail([&subjects](const QString &, const QString &, const QString &, const QString &subject,
                                      const QString &, const QString &) {
        subjects.append(subject);
        return QString();
    });
    m_w.ListKeyWord->item(0)->setText(u"@ 記事"_s);
    m_browser->addPage(page(u"top"_s),
        ScriptedPage {u"top\r\n"_s, u"t"_s, {},
            {BrowserLink {u"記事 1"_s, u"http://gone.test/1"_s}, BrowserLink {u"記事 2"_s, u"http://gone.test/2"_s}}});
    ScriptedPage gone;
    gone.failure = LoadResult::Failure::ConnectionFailed;
    m_browser->addPage(u"http://gone.test/1"_s, gone);
    m_browser->addPage(u"http://gone.test/2"_s, gone);
    m_w.ListURL->item(2)->setText(page(u"top"_s));
    m_w.ListURL->item(5)->setText(page(u"down"_s));
    m_browser->addPage(page(u"down"_s), gone);
    m_scheduler->cmdRun_Click();
    QCOMPARE(navigations(), (QStringList {page(u"top"_s), u"http://gone.test/1"_s, u"http://gone.test/2"_s}));
    QVERIFY(subjects.isEmpty());
    QVERIFY(m_w.ListURL->item(2)->toolTip().startsWith(u"最終巡回 "_s));
    QCOMPARE(m_w.ListURL->item(2)->foreground().color(), QColor(0, 128, 0));
    QCOMPARE(m_w.ListURL->item(5)->toolTip(), QString());

    m_scheduler->cmdRun_Click();
    QCOMPARE(subjects, QStringList {u"[KVS] 巡回エラー "_s + page(u"down"_s)});
    QVERIFY(m_w.ListURL->item(5)->toolTip().contains(u"接続できません（1回目）"_s));
    QCOMPARE(m_w.ListURL->item(5)->foreground().color(), QColor(200, 0, 0));
}

QTEST_MAIN(TestScheduler)
#include "tst_scheduler.moc"
