#include "../patrol/ScriptedBrowser.h"
#include "app/DesktopNotifier.h"
#include "app/ExtentListWidget.h"
#include "app/Form1.h"
#include "app/HintedListWidget.h"
#include "app/KeyboardAccess.h"
#include "app/LearnedKeeper.h"
#include "app/ListPersistence.h"
#include "app/SentJournal.h"
#include "app/SortedListBox.h"
#include "app/TrayIcon.h"
#include "mail/MailClient.h"
#include "mail/Module1.h"
#include "mail/Module1Testing.h"
#include "patrol/Patrol.h"
#include "patrol/Scheduler.h"
#include "platform/AppTitle.h"
#include "platform/FileStore.h"
#include "platform/ui/MessageBoxTesting.h"
#include "settings/SettingsLocation.h"
#include "settings/clINI.h"
#include "settings/dialog/Form2.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QScopeGuard>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <csignal>
#include <optional>
#include <thread>

#include <sys/resource.h>

using namespace Qt::StringLiterals;

// What happened to the journal of taken mails before the start.
enum class JournalCase { TornAtEnd, TornThenWhole, FailedAppend, ReplayFails, FullDisk, EarlierFormat };
Q_DECLARE_METATYPE(JournalCase)

namespace {

// Writes past the limit fail in this process as on a full disk; the journal's room is below it.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &m_before);
        rlimit limit = m_before;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &m_before); }
    FileSizeLimit(const FileSizeLimit &) = delete;
    FileSizeLimit &operator=(const FileSizeLimit &) = delete;

private:
    rlimit m_before {};
};

QByteArray contents(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Where the journal's records end and its padding begins.
qsizetype recordsEnd(const QByteArray &bytes)
{
    qsizetype end = bytes.size();
    while (end > 0 && bytes.at(end - 1) == '\0')
        --end;
    return end;
}

} // namespace

class TestForm1 : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void missingFile_blankListsAndDefaults();
    void controls_inTheirStartUpState();
    void firstStart_hintsAndMailNotice_data();
    void firstStart_hintsAndMailNotice();
    void patrolControls_wiredToTheScheduler();
    void closeDuringStep_savesAndAbandonsTheStep();
    void closeDuringMail_savedHistoryFollowsTheServer_data();
    void closeDuringMail_savedHistoryFollowsTheServer();
    void ticksDuringStep_keepCounting();
    void conditions_closeUpSortedAtShutDown();
    void history_keepsNewestRirekisuuPlusOne();
    void history_limitValues_data();
    void history_limitValues();
    void history_loweredDuringRun_leavesOlderKeys();
    void history_gapClosesUp();
    void unwritableFolder_toldOnce();
    void whileRunning_learnedReachesTheDisk();
    void whileRunning_saveFails_toldAndTriedAgain();
    void sentJournal_replayedIntoTheHistoryAtStart_data();
    void sentJournal_replayedIntoTheHistoryAtStart();
    void historyLimit_conversion_data();
    void historyLimit_conversion();
    void tray_onlyWithNotifyAndADesktopTray_data();
    void tray_onlyWithNotifyAndADesktopTray();
    void tray_menuAndTooltip_followThePatrol();
    void keyboard_everyControlNamed_tabFollowsTheScreen();
    void keyboard_keysRunTheMainCommands();
    void notifyWithoutService_statusStripSaysSo();

private:
    QTemporaryDir m_config;
    std::unique_ptr<Form1> open(const QString &folder)
    {
        auto w = std::make_unique<Form1>(std::make_unique<ScriptedBrowser>());
        w->setSettingsFolder(folder);
        w->Form_Load();
        return w;
    }
    // A loaded window whose browser serves each address its body, its timer stopped.
    static std::unique_ptr<Form1> patrolling(const QString &folder, const QList<std::pair<QString, QString>> &pages)
    {
        auto browser = std::make_unique<ScriptedBrowser>();
        for (const auto &[address, body] : pages)
            browser->addPage(address, ScriptedPage {body, u"p"_s, {}, {}, 0, false});
        auto w = std::make_unique<Form1>(std::move(browser));
        w->setSettingsFolder(folder);
        w->Form_Load();
        w->Timer1->stop();
        return w;
    }
    // Hit mails go nowhere and are counted; the same folder's settings are read for them.
    static void countMails(const QString &folder, int &mails)
    {
        Module1::testing::setSettingsFolder(folder);
        Module1::testing::setSendMail([&mails](auto &&...) {
            ++mails;
            return QString();
        });
    }
    static void put(const QString &folder, const QByteArray &bytes)
    {
        QFile f(folder + u"/KVN.ini"_s);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    static QStringList rows(QListWidget *l)
    {
        QStringList r;
        for (int i = 0; i < l->count(); ++i)
            r << l->item(i)->text();
        return r;
    }
};

void TestForm1::initTestCase()
{
    // The settings dialog looks for the autostart entry there, never in the user's own folder.
    QVERIFY(m_config.isValid());
    qputenv("XDG_CONFIG_HOME", m_config.path().toUtf8());
    // Notifications never reach the desktop the tests run on.
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/korvani-test-bus");
}

void TestForm1::init()
{
    TrayIcon::setAvailableForTesting(std::nullopt);
    AppTitle::set(u"Korvani"_s);
    Ui::testing::reset();
    // An earlier window's end leaves the mail routines ending.
    Module1::testing::reset();
}

void TestForm1::missingFile_blankListsAndDefaults()
{
    QTemporaryDir dir;
    auto w = open(dir.path());
    QCOMPARE(w->windowTitle(), u"Korvani  1.8.0"_s);
    QCOMPARE(AppTitle::get(), u"Korvani  1.8.0"_s);
    QCOMPARE(w->ListKeyWord->count(), 100);
    QCOMPARE(w->ListURL->count(), 100);
    QCOMPARE(rows(w->ListKeyWord), QStringList(100, QString()));
    QCOMPARE(w->List3->count(), 0);
    QCOMPARE(w->LaCountDown->text(), u"60"_s);
}

void TestForm1::controls_inTheirStartUpState()
{
    QTemporaryDir dir;
    auto w = open(dir.path());
    QVERIFY(w->findChild<QPushButton *>(u"cmd動作制御_0"_s) == w->cmd動作制御[0]);
    QVERIFY(!w->cmd動作制御[0]->isEnabled());
    QVERIFY(w->cmd動作制御[1]->isEnabled());
    QVERIFY(w->cmdRun->isEnabled());
    QCOMPARE(w->cmdRun->text(), u"強制実行"_s);
    QVERIFY(w->Timer1->isActive());
    QCOMPARE(w->Timer1->interval(), 1000);
    QVERIFY(!(w->windowFlags() & Qt::WindowMaximizeButtonHint));
    QVERIFY(w->windowFlags() & Qt::WindowMinimizeButtonHint);
    QVERIFY(w->List4->isHidden());
    QCOMPARE(w->List1->horizontalExtent(), 3005);
    for (const char *name : {"ListURL", "ListKeyWord", "List1", "List3", "LaStatus", "Text1", "Picture1", "Label7"})
        QVERIFY2(w->findChild<QWidget *>(QString::fromLatin1(name)), name);
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    // The extent survives clearing the list.
    w->List1->clear();
    QTest::qWait(10);
    QVERIFY(w->List1->horizontalScrollBar()->maximum() >= 3005 - w->List1->viewport()->width());
    w->close();
}

void TestForm1::firstStart_hintsAndMailNotice_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<bool>("targetHint");
    QTest::addColumn<bool>("conditionHint");
    QTest::addColumn<bool>("mailTold");
    QByteArray lastRowOnly = "[MAIL]\r\nSMTP_SERVER=127.0.0.1:1\r\n[URL]\r\n";
    for (int i = 0; i < 99; ++i)
        lastRowOnly += "URL" + QByteArray::number(i) + "=\r\n";
    lastRowOnly += "URL99=http://127.0.0.1/p\r\n";
    QTest::newRow("no file: both hints, no mail server") << QByteArray() << true << true << true;
    QTest::newRow("an address in the last of 100 rows") << lastRowOnly << false << true << false;
    QTest::newRow("a condition, a server of blank spaces")
        << QByteArray("[MAIL]\r\nSMTP_SERVER=\"   \"\r\n[KEYWORD]\r\nKEY7=大阪\r\n") << true << false << true;
}

// A first start says where to begin and that hits are not mailed; the hints are drawn, never rows.
void TestForm1::firstStart_hintsAndMailNotice()
{
    QFETCH(QByteArray, file);
    QFETCH(bool, targetHint);
    QFETCH(bool, conditionHint);
    QFETCH(bool, mailTold);
    QTemporaryDir dir;
    if (!file.isEmpty())
        put(dir.path(), file);
    auto w = open(dir.path());
    // After whatever else start-up has to say, such as running as root.
    QCOMPARE(w->LaStatus->text().endsWith(Patrol::noMailServerText()), mailTold);
    const QString enterKey = u"。Enter キーでも変更できます"_s;
    const std::pair<QListWidget *, bool> lists[] {{w->ListURL, targetHint}, {w->ListKeyWord, conditionHint}};
    for (const auto &[list, hinted] : lists) {
        auto *hinting = qobject_cast<HintedListWidget *>(list);
        QVERIFY(hinting);
        QCOMPARE(hinting->hintShown(), hinted);
        QCOMPARE(list->accessibleDescription(), (hinted ? hinting->hint() : QString()) + enterKey.mid(hinted ? 0 : 1));
        QVERIFY(!rows(list).contains(hinting->hint()));
        // What the empty rows show on screen: the grey hint, or nothing at all.
        const QImage shown = list->viewport()->grab().toImage();
        QImage blank(shown.size(), shown.format());
        blank.fill(shown.pixel(0, 0));
        QCOMPARE(shown != blank, hinted);
    }
    QCOMPARE(
        qobject_cast<HintedListWidget *>(w->ListURL)->hint(), u"ダブルクリックして巡回するページのアドレスを追加"_s);
    auto *conditions = qobject_cast<HintedListWidget *>(w->ListKeyWord);
    QCOMPARE(conditions->hint(), u"ダブルクリックして検索単語を追加"_s);
    // An edit takes the hint away at once; emptying the row again brings it back.
    conditions->item(50)->setText(u"x"_s);
    QVERIFY(!conditions->hintShown());
    conditions->item(50)->setText(QString());
    QCOMPARE(conditions->hintShown(), conditionHint);
    QVERIFY(w->Form_Unload());
}

void TestForm1::patrolControls_wiredToTheScheduler()
{
    QTemporaryDir dir;
    put(dir.path(), "[MAIL]\r\nTIMERTIME=5\r\n[URL]\r\nURL0=http://127.0.0.1:1/\r\n");
    auto w = open(dir.path());
    QCOMPARE(w->LaCountDown->text(), u"5"_s);
    QTRY_COMPARE_WITH_TIMEOUT(w->LaCountDown->text(), u"4"_s, 3000);
    w->cmd動作制御[1]->click();
    QVERIFY(!w->Timer1->isActive());
    QVERIFY(w->cmd動作制御[0]->isEnabled());
    w->cmdRun->click();
    QCOMPARE(w->ListURL->currentRow(), 0);
    QCOMPARE(w->LaCountDown->text(), u"4"_s);
    w->cmd動作制御[0]->click();
    QVERIFY(w->Timer1->isActive());
    QVERIFY(w->Form_Unload());
}

void TestForm1::closeDuringStep_savesAndAbandonsTheStep()
{
    QTemporaryDir dir;
    put(dir.path(),
        "[MAIL]\r\nSMTP_SERVER=127.0.0.1:1\r\n[KEYWORD]\r\nKEY0=hit\r\n"
        "[URL]\r\nURL0=http://127.0.0.1/never\r\nURL1=http://127.0.0.1/next\r\n");
    int mails = 0;
    countMails(dir.path(), mails);
    auto browser = std::make_unique<ScriptedBrowser>();
    ScriptedBrowser *b = browser.get();
    ScriptedPage never;
    never.body = u"hit\r\n"_s;
    never.busyPolls = 1000000;
    never.links = {BrowserLink {u"hit"_s, u"http://127.0.0.1/next"_s}};
    b->addPage(u"http://127.0.0.1/never"_s, never);
    b->addPage(u"http://127.0.0.1/next"_s, ScriptedPage {u"hit next\r\n"_s, u"n"_s, {}, {}, 0, false});
    Form1 w(std::move(browser));
    w.setSettingsFolder(dir.path());
    w.Form_Load();
    w.ListKeyWord->item(1)->setText(u"added"_s);
    QTimer::singleShot(200, &w, [&w] { w.close(); });
    QElapsedTimer t;
    t.start();
    w.scheduler()->cmdRun_Click();
    QVERIFY2(t.elapsed() < 3000, qPrintable(QString::number(t.elapsed())));
    QVERIFY(w.unloaded());
    QCOMPARE(mails, 0);
    QCOMPARE(w.List3->count(), 0);
    QCOMPARE(b->calls().filter(u"navigate"_s), QStringList {u"navigate http://127.0.0.1/never"_s});
    clINI ini(dir.path());
    QCOMPARE(ini.GetSetting(u"KEYWORD"_s, u"KEY0"_s, QString()), u"added"_s);
    QCOMPARE(ini.GetSetting(u"KEYWORD"_s, u"KEY1"_s, QString()), u"hit"_s);
    Module1::testing::reset();
}

void TestForm1::closeDuringMail_savedHistoryFollowsTheServer_data()
{
    QTest::addColumn<bool>("taken");
    QTest::addColumn<QString>("savedTop");
    QTest::newRow("server took it") << true << u"hit line"_s;
    QTest::newRow("cut off") << false << u"old"_s;
}

// The window closes while a hit mail is on its way. The transfer is told to end, and what the
// server made of the mail by then decides the saved history: a taken mail keeps its line, so it
// is not mailed again at the next start; one that was cut off leaves, so it is.
void TestForm1::closeDuringMail_savedHistoryFollowsTheServer()
{
    QFETCH(bool, taken);
    QFETCH(QString, savedTop);
    QTemporaryDir dir;
    put(dir.path(),
        "[MAIL]\r\nSMTP_SERVER=127.0.0.1:1\r\n[KEYWORD]\r\nKEY0=hit\r\n"
        "[URL]\r\nURL0=http://127.0.0.1/p\r\n[RIREKI]\r\nTEXT0=old\r\n");
    std::atomic<bool> started {false};
    const auto reset = qScopeGuard([] { Module1::testing::reset(); });
    Module1::testing::setSettingsFolder(dir.path());
    Module1::testing::setSendMail([&started, taken](auto &&...) {
        started = true;
        // The verdict comes only after the program has asked the transfer to end.
        while (!Module1::ending())
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        return taken ? QString() : mail::cancelledText();
    });
    const auto w = patrolling(dir.path(), {{u"http://127.0.0.1/p"_s, u"hit line\r\n"_s}});
    QTimer poll;
    poll.setInterval(5);
    connect(&poll, &QTimer::timeout, w.get(), [&] {
        if (started && !w->unloaded())
            w->close();
    });
    poll.start();
    w->scheduler()->cmdRun_Click();
    QVERIFY(started);
    QVERIFY(w->unloaded());
    QVERIFY(Module1::waitForWorkers(5000));
    clINI ini(dir.path());
    QCOMPARE(ini.GetSetting(u"RIREKI"_s, u"TEXT0"_s, QString()), savedTop);
}

// A step started by a tick waits for its page in a nested loop; the ticks go on meanwhile.
void TestForm1::ticksDuringStep_keepCounting()
{
    QTemporaryDir dir;
    put(dir.path(), "[MAIL]\r\nTIMERTIME=3\r\n[URL]\r\nURL0=http://127.0.0.1/slow\r\n");
    auto browser = std::make_unique<ScriptedBrowser>();
    ScriptedPage slow;
    slow.body = u"slow\r\n"_s;
    slow.busyPolls = 40;
    browser->addPage(u"http://127.0.0.1/slow"_s, slow);
    Form1 w(std::move(browser));
    w.setSettingsFolder(dir.path());
    w.Form_Load();
    w.Timer1->setInterval(30);
    QSet<QString> seenDuringStep;
    bool stepSeen = false;
    QTimer sampler;
    connect(&sampler, &QTimer::timeout, &w, [&] {
        if (!w.cmdRun->isEnabled()) {
            stepSeen = true;
            seenDuringStep.insert(w.LaCountDown->text());
        }
    });
    sampler.start(5);
    QTRY_VERIFY_WITH_TIMEOUT(stepSeen && w.cmdRun->isEnabled(), 10000);
    w.Timer1->stop();
    // The countdown restarted from 3 while the page was loading, and counted down from there.
    QVERIFY2(seenDuringStep.contains(u"2"_s), qPrintable(QStringList(seenDuringStep.values()).join(u',')));
    QCOMPARE(w.ListURL->currentRow(), 0);
    QVERIFY(w.Form_Unload());
}

void TestForm1::conditions_closeUpSortedAtShutDown()
{
    QTemporaryDir dir;
    put(dir.path(),
        "[KEYWORD]\r\nKEY0=b\r\nKEY1=\r\nKEY2=A\r\nKEY3=c\r\nKEY4=b\r\nKEY150=ignored\r\n"
        "[URL]\r\nURL5=http://x/\r\nURL7=http://a/\r\n");
    {
        auto w = open(dir.path());
        QCOMPARE(rows(w->ListKeyWord).mid(0, 5), (QStringList {u"b"_s, QString(), u"A"_s, u"c"_s, u"b"_s}));
        QCOMPARE(w->ListKeyWord->count(), 100);
        QVERIFY(w->Form_Unload());
    }
    clINI ini(dir.path());
    QStringList keys;
    for (int i = 0; i < 100; ++i)
        keys << ini.GetSetting(u"KEYWORD"_s, u"KEY%1"_s.arg(i), u"<none>"_s);
    QCOMPARE(keys.mid(0, 5), (QStringList {u"A"_s, u"b"_s, u"b"_s, u"c"_s, QString()}));
    QCOMPARE(keys.mid(4), QStringList(96, QString()));
    QCOMPARE(ini.GetSetting(u"URL"_s, u"URL0"_s, QString()), u"http://a/"_s);
    QCOMPARE(ini.GetSetting(u"URL"_s, u"URL1"_s, QString()), u"http://x/"_s);
    QCOMPARE(ini.GetSetting(u"URL"_s, u"URL7"_s, u"<none>"_s), QString());
    auto again = open(dir.path());
    QCOMPARE(rows(again->ListKeyWord).mid(0, 5), (QStringList {u"A"_s, u"b"_s, u"b"_s, u"c"_s, QString()}));
}

void TestForm1::history_keepsNewestRirekisuuPlusOne()
{
    QTemporaryDir dir;
    {
        auto w = open(dir.path());
        for (int i = 0; i < 600; ++i)
            w->List3->insertItem(0, u"line %1"_s.arg(i)); // newest on top
        w->List3->insertItem(0, QString(5000, u'長'));
        QVERIFY(w->Form_Unload());
    }
    auto w = open(dir.path());
    QCOMPARE(w->List3->count(), 501);
    QCOMPARE(w->List3->item(0)->text(), QString(511, u'長'));
    QCOMPARE(w->List3->item(1)->text(), u"line 599"_s);
    QCOMPARE(w->List3->item(500)->text(), u"line 100"_s);
}

void TestForm1::history_limitValues_data()
{
    QTest::addColumn<QByteArray>("limit");
    QTest::addColumn<int>("kept");
    QTest::newRow("0 keeps one") << QByteArray("0") << 1;
    QTest::newRow("2.5 to even") << QByteArray("2.5") << 3;
    QTest::newRow("abc falls back to 500") << QByteArray("abc") << 501;
    QTest::newRow("out of range falls back") << QByteArray("99999999999") << 501;
}

void TestForm1::history_limitValues()
{
    QFETCH(QByteArray, limit);
    QFETCH(int, kept);
    QTemporaryDir dir;
    put(dir.path(), "[MAIL]\r\nRIREKISUU=" + limit + "\r\n");
    {
        auto w = open(dir.path());
        for (int i = 0; i < 600; ++i)
            w->List3->addItem(u"h%1"_s.arg(i));
        QVERIFY(w->Form_Unload());
    }
    QCOMPARE(open(dir.path())->List3->count(), kept);
}

void TestForm1::history_loweredDuringRun_leavesOlderKeys()
{
    QTemporaryDir dir;
    {
        auto w = open(dir.path());
        for (int i = 0; i < 501; ++i)
            w->List3->addItem(u"old%1"_s.arg(i));
        QVERIFY(w->Form_Unload());
    }
    {
        auto w = open(dir.path());
        clINI(dir.path()).SaveSetting(Keys::RirekiSuu, u"100"_s); // the dialog, during the run
        w->List3->clear();
        w->List3->addItem(u"new"_s);
        QVERIFY(w->Form_Unload());
    }
    clINI ini(dir.path());
    QCOMPARE(ini.GetSetting(u"RIREKI"_s, u"TEXT0"_s, QString()), u"new"_s);
    QCOMPARE(ini.GetSetting(u"RIREKI"_s, u"TEXT100"_s, u"<none>"_s), QString());
    QCOMPARE(ini.GetSetting(u"RIREKI"_s, u"TEXT101"_s, QString()), u"old101"_s);
    ini.SaveSetting(Keys::RirekiSuu, u"500"_s);
    QVERIFY(ini.commit());
    auto w = open(dir.path());
    QCOMPARE(w->List3->count(), 1 + 400);
    QCOMPARE(w->List3->item(1)->text(), u"old101"_s);

    // A negative limit loads nothing and leaves the keys as they are.
    clINI(dir.path()).SaveSetting(Keys::RirekiSuu, u"-3"_s);
    {
        auto neg = open(dir.path());
        QCOMPARE(neg->List3->count(), 0);
        QVERIFY(neg->Form_Unload());
    }
    QCOMPARE(clINI(dir.path()).GetSetting(u"RIREKI"_s, u"TEXT0"_s, QString()), u"new"_s);
}

void TestForm1::history_gapClosesUp()
{
    QTemporaryDir dir;
    put(dir.path(), "[RIREKI]\r\nTEXT0=a\r\nTEXT1=b\r\nTEXT2=c\r\nTEXT3=\r\nTEXT4=e\r\n");
    QCOMPARE(rows(open(dir.path())->List3), (QStringList {u"a"_s, u"b"_s, u"c"_s, u"e"_s}));
}

void TestForm1::unwritableFolder_toldOnce()
{
    QTemporaryDir dir;
    put(dir.path(), "[MAIL]\r\n");
    const QString folder = dir.filePath(u"KVN.ini/sub"_s); // runs through a file: never writable
    Ui::testing::queueAnswer(Ui::Answer::Ok);
    Ui::testing::queueAnswer(Ui::Answer::Ok);
    auto w = open(folder);
    QCOMPARE(w->ListKeyWord->count(), 100);
    // Once at start-up, as soon as the window is up...
    QTRY_COMPARE(Ui::testing::shown().size(), size_t(1));
    QCOMPARE(Ui::testing::shown()[0].text, Form1::cannotSaveText(folder + u"/KVN.ini"_s));
    QCOMPARE(Ui::testing::shown()[0].icon, Ui::Icon::Critical);
    QTest::qWait(20);
    QCOMPARE(Ui::testing::shown().size(), size_t(1));
    // ...and once more when the lists are actually lost.
    QVERIFY(!w->Form_Unload());
    QCOMPARE(Ui::testing::shown().size(), size_t(2));
    QVERIFY(Ui::testing::shown()[1].text.contains(folder + u"/KVN.ini"_s));
    QCOMPARE(Ui::testing::shown()[1].title, u"Korvani  1.8.0"_s);
    QVERIFY(w->Form_Unload()); // runs once: no third box
    QCOMPARE(Ui::testing::shown().size(), size_t(2));

    // The session's end saves too, but no box may hold up the log-out.
    Ui::testing::reset();
    Ui::testing::queueAnswer(Ui::Answer::Ok);
    auto ending = open(folder);
    QTRY_COMPARE(Ui::testing::shown().size(), size_t(1));
    ending->endSession();
    QVERIFY(ending->unloaded());
    QVERIFY(!ending->isVisible());
    QCOMPARE(Ui::testing::shown().size(), size_t(1));

    // A writable folder says nothing.
    Ui::testing::reset();
    QTemporaryDir fine;
    auto ok = open(fine.path());
    QTest::qWait(20);
    QVERIFY(Ui::testing::shown().empty());
}

// What the program learns is in the file long before the end: an edit within a second, a mail's
// lines once the server has taken it and before the patrol goes on; never the lines of a mail
// still on its way.
void TestForm1::whileRunning_learnedReachesTheDisk()
{
    QTemporaryDir dir;
    put(dir.path(),
        "[MAIL]\r\nSMTP_SERVER=127.0.0.1:1\r\n[KEYWORD]\r\nKEY0=hit\r\n"
        "[URL]\r\nURL0=http://127.0.0.1/p\r\n[RIREKI]\r\nTEXT0=old\r\n");
    std::atomic<bool> started {false}, release {false};
    const auto reset = qScopeGuard([] { Module1::testing::reset(); });
    Module1::testing::setSettingsFolder(dir.path());
    Module1::testing::setSendMail([&](auto &&...) {
        started = true;
        while (!release)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        return QString();
    });
    const auto window = patrolling(dir.path(), {{u"http://127.0.0.1/p"_s, u"hit line\r\n"_s}});
    Form1 &w = *window;
    const auto stored = [&](const QString &section, const QString &key) {
        return clINI(dir.path()).GetSetting(section, key, QString());
    };
    QString historyDuringMail = u"unset"_s;
    QTimer poll;
    connect(&poll, &QTimer::timeout, &w, [&] {
        if (!started || release)
            return;
        if (w.ListKeyWord->item(5)->text().isEmpty()) {
            w.ListKeyWord->item(5)->setText(u"edited"_s);
            w.listsEdited();
        } else if (stored(u"KEYWORD"_s, u"KEY0"_s) == u"edited"_s) {
            historyDuringMail = stored(u"RIREKI"_s, u"TEXT0"_s);
            release = true;
        }
    });
    poll.start(20);
    QElapsedTimer edit;
    edit.start();
    w.scheduler()->cmdRun_Click();
    QVERIFY(release);
    QVERIFY2(edit.elapsed() < 2000, qPrintable(QString::number(edit.elapsed())));
    QCOMPARE(historyDuringMail, u"old"_s);
    // No waiting here: the step ended only once its mail's line was in the journal; the file
    // follows, and then the journal forgets it.
    const QString file = SettingsLocation::filePath(dir.path());
    QCOMPARE(sentjournal::read(file), QStringList {u"hit line"_s});
    QTRY_COMPARE(stored(u"RIREKI"_s, u"TEXT0"_s), u"hit line"_s);
    QTRY_VERIFY(sentjournal::read(file).isEmpty());
    QCOMPARE(stored(u"RIREKI"_s, u"TEXT1"_s), u"old"_s);
    QCOMPARE(stored(u"KEYWORD"_s, u"KEY1"_s), u"hit"_s);
    QVERIFY(w.Form_Unload());
}

// A crash after the server took a mail and before the whole file was saved: the next start puts
// the mail's lines into the history, as the patrol had them. A broken record loses only itself; a
// file that takes nothing keeps the journal, whose lines are history all the same until saved.
void TestForm1::sentJournal_replayedIntoTheHistoryAtStart_data()
{
    QTest::addColumn<JournalCase>("journalCase");
    QTest::addColumn<QStringList>("journal");
    QTest::addColumn<bool>("replayed");
    QTest::addColumn<QStringList>("history");
    const QString a = u"a"_s, b = u"b"_s, c = u"50% 引き c"_s, d = u"d"_s, old1 = u"old1"_s, old2 = u"old2"_s;
    // "b" was in the history already; the limit of 3 keeps four lines.
    QTest::newRow("a record cut off at the end")
        << JournalCase::TornAtEnd << QStringList {a, b, c} << true << QStringList {c, a, old1, old2};
    QTest::newRow("a whole record after a cut-off one")
        << JournalCase::TornThenWhole << QStringList {a, b, c, d} << true << QStringList {d, c, a, old1};
    QTest::newRow("a failed append, cut back")
        << JournalCase::FailedAppend << QStringList {a, b, c} << true << QStringList {c, a, old1, old2};
    QTest::newRow("a file that takes nothing at start")
        << JournalCase::ReplayFails << QStringList {a, b, c} << false << QStringList {c, a, old1, old2, b};
    QTest::newRow("an earlier version's journal")
        << JournalCase::EarlierFormat << QStringList {a, b, c} << true << QStringList {c, a, old1, old2};
    // Pages of its own, not the end of one the journal has already.
    const QString wide = u"長"_s.repeated(480);
    QTest::newRow("a full disk, the reserved room")
        << JournalCase::FullDisk << QStringList {a, b, c, wide} << true << QStringList {wide, c, a, old1};
}

void TestForm1::sentJournal_replayedIntoTheHistoryAtStart()
{
    QFETCH(JournalCase, journalCase);
    QFETCH(QStringList, journal);
    QFETCH(bool, replayed);
    QFETCH(QStringList, history);
    QTemporaryDir dir;
    const QString folder = dir.path();
    bool mounted = false;
    if (journalCase == JournalCase::FullDisk) {
        mounted = QProcess::execute(u"mount"_s, {u"-t"_s, u"tmpfs"_s, u"-o"_s, u"size=1m"_s, u"tmpfs"_s, folder}) == 0;
        if (!mounted)
            QSKIP("a small file system of its own needs root");
    }
    const auto unmount = qScopeGuard([&] {
        if (mounted)
            QProcess::execute(u"umount"_s, {u"-l"_s, folder});
    });
    put(folder, "[MAIL]\r\nRIREKISUU=3\r\n[RIREKI]\r\nTEXT0=old1\r\nTEXT1=old2\r\nTEXT2=b\r\n");
    const QString file = SettingsLocation::filePath(folder);
    const QString journalFile = sentjournal::path(file);
    QVERIFY(sentjournal::reserve(file));
    QVERIFY(sentjournal::append(file, {u"a"_s, u"b"_s}));
    QVERIFY(sentjournal::append(file, {u"50% 引き c"_s}));
    std::optional<FileSizeLimit> limit;
    switch (journalCase) {
    case JournalCase::TornAtEnd:
    case JournalCase::TornThenWhole: {
        QFile torn(journalFile);
        QVERIFY(torn.open(QIODevice::ReadWrite));
        QVERIFY(torn.seek(recordsEnd(torn.readAll())));
        torn.write("cut%20of\t0");
        torn.close();
        if (journalCase == JournalCase::TornThenWhole)
            QVERIFY(sentjournal::append(file, {u"d"_s}));
        break;
    }
    case JournalCase::FailedAppend: {
        const QByteArray before = contents(journalFile);
        {
            const FileSizeLimit few(rlim_t(recordsEnd(before) + 4));
            QVERIFY(!sentjournal::append(file, {u"no room for this line"_s}));
        }
        QCOMPARE(contents(journalFile), before);
        break;
    }
    case JournalCase::ReplayFails:
        limit.emplace(16);
        break;
    case JournalCase::EarlierFormat: {
        QFile earlier(journalFile);
        QVERIFY(earlier.open(QIODevice::WriteOnly | QIODevice::Truncate));
        earlier.write("a\nb\n" + u"50% 引き c"_s.toUtf8().toPercentEncoding(" ") + "\ncut%20o");
        break;
    }
    case JournalCase::FullDisk: {
        QFile filler(folder + u"/filler"_s);
        QVERIFY(filler.open(QIODevice::WriteOnly));
        const QByteArray chunk(4096, 'x');
        while (filler.write(chunk) == chunk.size() && filler.flush()) { }
        filler.close();
        QVERIFY(!filestore::writeAtomically(folder + u"/probe"_s, chunk));
        QVERIFY(sentjournal::append(file, {journal.last()}));
        QVERIFY(filler.remove());
        break;
    }
    }
    QCOMPARE(sentjournal::read(file), journal);
    QCOMPARE(sentjournal::replay(folder), replayed);
    auto w = open(folder);
    limit.reset();
    QCOMPARE(rows(w->List3), history);
    if (!replayed) {
        QCOMPARE(w->LaStatus->text(), LearnedKeeper::journalKeptText(file));
        QCOMPARE(sentjournal::read(file), journal);
        // The first save that works holds the lines; only then does the journal forget them.
        QTRY_VERIFY(sentjournal::read(file).isEmpty());
        clINI ini(folder);
        QCOMPARE(ListPersistence::history(ini), history.mid(0, 4));
    }
    QVERIFY(sentjournal::read(file).isEmpty());
    QVERIFY(w->Form_Unload());
    QVERIFY(!QFile::exists(journalFile));
}

// A folder that stops taking the file: the status strip says so, even after a patrol step, and
// the save is tried again until it works.
void TestForm1::whileRunning_saveFails_toldAndTriedAgain()
{
    QTemporaryDir dir;
    put(dir.path(), "[URL]\r\nURL0=http://127.0.0.1/p\r\n");
    const auto window = patrolling(dir.path(), {{u"http://127.0.0.1/p"_s, u"line\r\n"_s}});
    Form1 &w = *window;
    // A folder where the file should be refuses the new file even to root.
    const QString file = dir.filePath(u"KVN.ini"_s);
    QVERIFY(QFile::remove(file));
    QVERIFY(QDir().mkpath(file + u"/in-the-way"_s));
    w.ListURL->item(3)->setText(u"http://127.0.0.1/q"_s);
    w.listsEdited();
    const QString told = LearnedKeeper::savingFailsText(file);
    QTRY_COMPARE_WITH_TIMEOUT(w.LaStatus->text(), told, 3000);
    w.scheduler()->cmdRun_Click();
    QCOMPARE(w.LaStatus->text(), told);
    QVERIFY(QDir(file).removeRecursively());
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(file), SettingsSaver::kRetryMs + 3000);
    // The file is in place before the save has flushed its folder and reported back.
    QTRY_VERIFY(!w.findChild<SettingsSaver *>()->failing());
    QCOMPARE(clINI(dir.path()).GetSetting(u"URL"_s, u"URL1"_s, QString()), u"http://127.0.0.1/q"_s);
    w.scheduler()->cmdRun_Click();
    QCOMPARE(w.LaStatus->text(), u"巡回完了"_s);
    QVERIFY(w.Form_Unload());
}

void TestForm1::historyLimit_conversion_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("limit");
    QTest::newRow("blanks") << u" 500 "_s << 500;
    QTest::newRow("halves to even") << u"3.5"_s << 4;
    QTest::newRow("negative") << u"-3"_s << -3;
    QTest::newRow("no number") << u"abc"_s << 500;
    QTest::newRow("beyond 32 bits") << u"99999999999"_s << 500;
    QTest::newRow("capped") << u"40000"_s << 32767;
}

void TestForm1::historyLimit_conversion()
{
    QFETCH(QString, text);
    QFETCH(int, limit);
    QCOMPARE(ListPersistence::historyLimit(text), limit);
}

void TestForm1::tray_onlyWithNotifyAndADesktopTray_data()
{
    QTest::addColumn<QByteArray>("notify");
    QTest::addColumn<bool>("available");
    QTest::addColumn<bool>("tray");
    QTest::newRow("on, tray") << QByteArray("NOTIFY=1\r\n") << true << true;
    QTest::newRow("on, no tray") << QByteArray("NOTIFY=1\r\n") << false << false;
    QTest::newRow("off, tray") << QByteArray("NOTIFY=0\r\n") << true << false;
    QTest::newRow("absent, tray") << QByteArray() << true << false;
}

// With the tray, closing the window hides it and the patrol goes on; without it, closing ends the
// program as ever.
void TestForm1::tray_onlyWithNotifyAndADesktopTray()
{
    QFETCH(QByteArray, notify);
    QFETCH(bool, available);
    QFETCH(bool, tray);
    TrayIcon::setAvailableForTesting(available);
    QTemporaryDir dir;
    put(dir.path(), "[MAIL]\r\n" + notify + "[KEYWORD]\r\nKEY0=kept\r\n");
    auto w = open(dir.path());
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    QCOMPARE(w->tray()->shown(), tray);
    QCOMPARE(QApplication::quitOnLastWindowClosed(), !tray);
    w->ListKeyWord->item(5)->setText(u"edited"_s);
    QCOMPARE(w->close(), !tray);
    QCOMPARE(w->isVisible(), false);
    QCOMPARE(w->unloaded(), !tray);
    QCOMPARE(w->Timer1->isActive(), tray);
    if (!tray) {
        QCOMPARE(clINI(dir.path()).GetSetting(u"KEYWORD"_s, u"KEY0"_s, QString()), u"edited"_s);
        return;
    }
    // A second start, or 表示, brings the hidden window back.
    w->comeForward();
    QVERIFY(w->isVisible());
    w->hide();
    w->tray()->showAction->trigger();
    QVERIFY(w->isVisible());
    // 終了 ends with the shut-down sequence, which saves.
    w->tray()->quitAction->trigger();
    QVERIFY(w->unloaded());
    QVERIFY(!w->isVisible());
    QVERIFY(!w->tray()->shown());
    QVERIFY(QApplication::quitOnLastWindowClosed());
    QCOMPARE(clINI(dir.path()).GetSetting(u"KEYWORD"_s, u"KEY0"_s, QString()), u"edited"_s);
}

void TestForm1::tray_menuAndTooltip_followThePatrol()
{
    TrayIcon::setAvailableForTesting(true);
    QTemporaryDir dir;
    put(dir.path(), "[MAIL]\r\nNOTIFY=1\r\n[URL]\r\nURL0=http://127.0.0.1:1/a\r\nURL1=http://127.0.0.1:1/b\r\n");
    auto w = open(dir.path());
    TrayIcon *tray = w->tray();
    QVERIFY(tray->shown());
    QStringList texts;
    for (QAction *a : tray->menu()->actions())
        if (!a->isSeparator())
            texts << a->text();
    QCOMPARE(texts, (QStringList {u"表示"_s, u"強制実行"_s, u"▶ 開始"_s, u"■ 停止"_s, u"終了"_s}));
    QCOMPARE(tray->runAction->shortcut(), KeyboardAccess::runNowKey());
    QCOMPARE(tray->toolTip(), u"Korvani  1.8.0\n巡回中\n失敗中の対象: 0 件\n最後の新着: なし"_s);

    // Two visits that fail (nothing listens there), and a hit told by the patrol.
    tray->runAction->trigger();
    tray->runAction->trigger();
    QCOMPARE(tray->failingTargets(), 2);
    w->notifier()->tell({DesktopEvent::Kind::NewHits, u"http://127.0.0.1/x"_s, u"x"_s, {u"l"_s}, 1});
    tray->stopAction->trigger();
    QVERIFY(!w->Timer1->isActive());
    const QString when = w->notifier()->lastHit().toString(u"MM/dd HH:mm"_s);
    QCOMPARE(tray->toolTip(), u"Korvani  1.8.0\n停止中\n失敗中の対象: 2 件\n最後の新着: "_s + when);
    Q_EMIT tray->menu()->aboutToShow();
    QVERIFY(tray->startAction->isEnabled());
    QVERIFY(!tray->stopAction->isEnabled());
    tray->startAction->trigger();
    QVERIFY(w->Timer1->isActive());

    // Switched off in the settings dialog: the tray goes once the dialog has closed.
    bool unticked = false;
    QTimer::singleShot(200, this, [&] {
        if (auto *d = qobject_cast<Form2 *>(QApplication::activeModalWidget())) {
            d->CheckNotify->setChecked(false);
            unticked = true;
            d->cmdOK->click();
        }
    });
    w->menuSetting->trigger();
    QVERIFY(unticked);
    QVERIFY(!tray->shown());
    QVERIFY(w->close());
    QVERIFY(w->unloaded());
}

void TestForm1::keyboard_everyControlNamed_tabFollowsTheScreen()
{
    QTemporaryDir dir;
    auto w = open(dir.path());
    w->show();
    QVERIFY(QTest::qWaitForWindowActive(w.get()));
    for (QWidget *c : w->findChildren<QWidget *>()) {
        if (!(c->focusPolicy() & Qt::TabFocus) || !c->isVisibleTo(w.get()) || qobject_cast<QScrollBar *>(c)
            || c->focusProxy())
            continue;
        QVERIFY2(!c->accessibleName().isEmpty() || !c->property("text").toString().isEmpty(),
            qPrintable(c->objectName() + u" has no name"_s));
    }
    QCOMPARE(w->ListURL->accessibleName(), w->Label5->text());
    QCOMPARE(w->ListKeyWord->accessibleName(), w->Label4->text());
    QCOMPARE(w->List3->accessibleName(), u"送信履歴"_s);
    QCOMPARE(w->Text1->accessibleName(), u"送信本文"_s);
    QCOMPARE(w->cmd動作制御[1]->accessibleName(), u"停止"_s);

    // From the first control, Tab walks the screen by rows; the start button is off while the
    // patrol runs, so the stop button comes first.
    w->cmd動作制御[1]->setFocus(Qt::TabFocusReason);
    const QList<QWidget *> order {w->cmd動作制御[1], w->cmdRun, w->cmdList3Clear, w->ListURL, w->List3, w->List1,
        w->ListKeyWord, w->Text1, w->cmd動作制御[1]};
    for (qsizetype i = 0; i + 1 < order.size(); ++i) {
        QCOMPARE(QApplication::focusWidget(), order[i]);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
    QCOMPARE(QApplication::focusWidget(), order.back());
    QVERIFY(w->Form_Unload());
}

void TestForm1::keyboard_keysRunTheMainCommands()
{
    QTemporaryDir dir;
    put(dir.path(), "[URL]\r\nURL3=http://127.0.0.1:1/\r\n");
    auto w = open(dir.path());
    w->show();
    QVERIFY(QTest::qWaitForWindowActive(w.get()));
    for (QWidget *b : {static_cast<QWidget *>(w->cmdRun), static_cast<QWidget *>(w->cmd動作制御[0]),
             static_cast<QWidget *>(w->cmd動作制御[1]), static_cast<QWidget *>(w->cmdList3Clear)})
        QVERIFY2(b->toolTip().contains(u'('), qPrintable(b->toolTip()));
    QCOMPARE(w->cmdRun->toolTip(), u"強制実行 (F5)"_s);
    QCOMPARE(w->menuSetting->shortcut(), QKeySequence(u"Ctrl+,"_s));
    // The menu bar shows the key of 動作設定 while the mouse rests on it.
    Q_EMIT w->menuBar()->hovered(w->menuSetting);
    QCOMPARE(w->menuBar()->toolTip(), u"動作設定 (Ctrl+,)"_s);
    Q_EMIT w->menuBar()->hovered(w->menuHelp->menuAction());
    QCOMPARE(w->menuBar()->toolTip(), QString());

    QTest::keyClick(w.get(), Qt::Key_F5);
    QCOMPARE(w->ListURL->currentRow(), 3);
    QTest::keyClick(w.get(), Qt::Key_F6);
    QVERIFY(!w->Timer1->isActive());
    QVERIFY(w->cmd動作制御[0]->isEnabled());
    QTest::keyClick(w.get(), Qt::Key_F6);
    QVERIFY(w->Timer1->isActive());
    w->List3->addItem(u"sent"_s);
    Ui::testing::queueAnswer(Ui::Answer::Ok);
    QTest::keyClick(w.get(), Qt::Key_Delete, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(Ui::testing::shown().size(), size_t(1));
    QCOMPARE(w->List3->count(), 0);
    QVERIFY(w->Form_Unload());
}

// Notifications on without a session bus: the hit is mailed and the status strip says, instead of
// "巡回完了", that notifications cannot be shown, until they are switched off.
void TestForm1::notifyWithoutService_statusStripSaysSo()
{
    QTemporaryDir dir;
    put(dir.path(),
        "[MAIL]\r\nSMTP_SERVER=127.0.0.1:1\r\nNOTIFY=1\r\n[KEYWORD]\r\nKEY0=hit\r\n"
        "[URL]\r\nURL0=http://127.0.0.1/a\r\nURL1=http://127.0.0.1/b\r\n");
    int mails = 0;
    countMails(dir.path(), mails);
    const auto window = patrolling(
        dir.path(), {{u"http://127.0.0.1/a"_s, u"hit a\r\n"_s}, {u"http://127.0.0.1/b"_s, u"hit b\r\n"_s}});
    Form1 &w = *window;
    const QString notice = DesktopNotifier::unavailableText(u"セッションバスに接続できません"_s);
    w.cmdRun->click();
    QCOMPARE(mails, 1);
    QCOMPARE(w.LaStatus->text(), notice);
    w.cmdRun->click();
    QCOMPARE(mails, 2);
    QCOMPARE(w.LaStatus->text(), notice);
    {
        clINI ini(dir.path());
        ini.SaveSetting(Keys::Notify, u"0"_s);
        QVERIFY(ini.commit());
    }
    w.cmdRun->click();
    QCOMPARE(w.LaStatus->text(), u"巡回完了"_s);
    QVERIFY(w.Form_Unload());
}

QTEST_MAIN(TestForm1)
#include "tst_form1.moc"
