// The page check on bare widgets with a scripted browser and a recording mail sender.
#include "ScriptedBrowser.h"
#include "mail/Module1.h"
#include "mail/Module1Testing.h"
#include "patrol/HistoryIndex.h"
#include "patrol/Patrol.h"
#include "platform/AppTitle.h"
#include "platform/CodePage932.h"
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

namespace {

struct SentMail
{
    QString subject;
    QString body;
};

const QChar kNew = u'\u25CF';
const QChar kOld = u'\u3000';

} // namespace

class TestPatrol : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void lines_cutTrimmedAndNumbered_data();
    void lines_cutTrimmedAndNumbered();
    void steps_inTheirOrder();
    void wait_givesUpAfterFifteenWholeSeconds();
    void failedLoad_examinesNothing_data();
    void failedLoad_examinesNothing();
    void unreadablePage_stillEnds();

    void history_newHitsMailedOnce();
    void desktop_toldOfPagesWithNewHits();
    void history_identity_data();
    void history_identity();
    void history_clearedMailsAgain();
    void history_changedMidPage_seen();
    void history_savedAndLoaded_notMailedAgain();

    void mail_framing_data();
    void mail_framing();
    void mail_popLoginFirstWhenAsked();
    void mail_failureWithServerKeepsLinesForNextTime();
    void mail_failureWithoutServerRecordsAsSent();

    void conditions_editTakesEffectAtNextLine();
    void abandon_duringWait_stopsTheCheck();
    void abandon_midPage_unmailedLinesLeaveTheHistory();
    void mail_answersLate_windowGoesOn_data();
    void mail_answersLate_windowGoesOn();
    void abandon_duringMail_historyFollowsTheServer_data();
    void abandon_duringMail_historyFollowsTheServer();
    void status_mailFailureStaysUntilAMailGoesOut();
    void badConditionsAndHugeLines_handled();

private:
    void settings(std::initializer_list<std::pair<QString, QString>> values);
    QStringList rows(QListWidget *l) const;
    void page(const QString &body, const QString &title = u"T"_s, int busyPolls = 0);
    void setConditions(const QStringList &conditions);

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QWidget> m_window;
    QListWidget *m_urls = nullptr;
    QListWidget *m_keywords = nullptr;
    QListWidget *m_list1 = nullptr;
    QListWidget *m_list3 = nullptr;
    QLabel *m_status = nullptr;
    QPlainTextEdit *m_text1 = nullptr;
    ScriptedBrowser *m_browser = nullptr;
    std::unique_ptr<ScriptedBrowser> m_browserOwner;
    std::unique_ptr<Patrol> m_patrol;
    QList<SentMail> m_sent;
    QStringList m_popCommands;
    QString m_sendFailure;
    // While set, the mail sender holds on, as a slow server would.
    std::atomic<bool> m_holdMail {false};
    std::atomic<bool> m_mailStarted {false};
    QList<DesktopEvent> m_told;
};

void TestPatrol::initTestCase()
{
    AppTitle::set(u"Korvani  1.8.0"_s);
}

void TestPatrol::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_window = std::make_unique<QWidget>();
    m_urls = new QListWidget(m_window.get());
    m_keywords = new QListWidget(m_window.get());
    m_list1 = new QListWidget(m_window.get());
    m_list3 = new QListWidget(m_window.get());
    m_status = new QLabel(m_window.get());
    m_text1 = new QPlainTextEdit(m_window.get());
    for (int i = 0; i < 100; ++i) {
        m_urls->addItem(QString());
        m_keywords->addItem(QString());
    }
    m_browserOwner = std::make_unique<ScriptedBrowser>();
    m_browser = m_browserOwner.get();

    PatrolWidgets w;
    w.window = m_window.get();
    w.browser = m_browser;
    w.ListURL = m_urls;
    w.ListKeyWord = m_keywords;
    w.List1 = m_list1;
    w.List3 = m_list3;
    w.LaStatus = m_status;
    w.Text1 = m_text1;
    const QString folder = m_dir->path();
    w.settingsFolder = [folder] { return folder; };
    w.tellDesktop = [this](const DesktopEvent &e) { m_told.append(e); };
    m_told.clear();
    m_patrol = std::make_unique<Patrol>(w);

    m_sent.clear();
    m_popCommands.clear();
    m_sendFailure.clear();
    m_holdMail = false;
    m_mailStarted = false;
    Module1::testing::setSettingsFolder(folder);
    Module1::testing::setSendMail([this](const QString &, const QString &, const QString &, const QString &subject,
                                      const QString &body, const QString &) {
        m_sent.append({subject, body});
        m_mailStarted = true;
        while (m_holdMail)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        return m_sendFailure;
    });
    Module1::testing::setRcvMail(
        [this](const QString &, const QString &, const QString &, const QString &command, const QString &) {
            m_popCommands.append(command);
            return QVariant(u"POP3 サーバーに接続できませんでした。"_s);
        });
}

void TestPatrol::cleanup()
{
    m_holdMail = false;
    QVERIFY(Module1::waitForWorkers(5000));
    m_patrol.reset();
    m_window.reset();
    m_browserOwner.reset();
    Module1::testing::reset();
}

void TestPatrol::settings(std::initializer_list<std::pair<QString, QString>> values)
{
    clINI ini(m_dir->path());
    for (const auto &[key, value] : values)
        ini.SaveSetting(u"MAIL"_s, key, value);
    QVERIFY(ini.commit());
}

QStringList TestPatrol::rows(QListWidget *l) const
{
    QStringList r;
    for (int i = 0; i < l->count(); ++i)
        r << l->item(i)->text();
    return r;
}

void TestPatrol::page(const QString &body, const QString &title, int busyPolls)
{
    ScriptedPage p;
    p.body = body;
    p.title = title;
    p.busyPolls = busyPolls;
    m_browser->addPage(u"http://127.0.0.1/p"_s, p);
}

void TestPatrol::setConditions(const QStringList &conditions)
{
    for (int i = 0; i < conditions.size(); ++i)
        m_keywords->item(i)->setText(conditions[i]);
}

void TestPatrol::lines_cutTrimmedAndNumbered_data()
{
    QTest::addColumn<QString>("body");
    QTest::addColumn<QStringList>("listed");

    QTest::newRow("last piece never examined") << u"a\r\nb"_s << QStringList {kOld + u"000:a"_s};
    QTest::newRow("no CR LF at all") << u"abc"_s << QStringList {};
    QTest::newRow("empty text") << QString() << QStringList {};
    QTest::newRow("empty piece keeps its number")
        << u"x\r\n\r\ny\r\nz"_s << QStringList {kOld + u"000:x"_s, kOld + u"002:y"_s};
    QTest::newRow("spaces and ideographic spaces only")
        << u"   \r\n\u3000\u3000\r\nq\r\n"_s << QStringList {kOld + u"002:q"_s};
    QTest::newRow("full width narrowed and trimmed")
        << u"\uFF21\uFF22\uFF23\uFF11\uFF12\uFF13\u3000\r\n"_s << QStringList {kNew + u"000:ABC123"_s};
    QTest::newRow("only U+0020 trimmed") << u"\t x \t\r\n"_s << QStringList {kOld + u"000:\t x \t"_s};
    QTest::newRow("lone CR, lone LF, NUL and U+2028 stay inside a line")
        << u"a\rb\nc\u0000d\u2028e\r\n"_s << QStringList {kOld + u"000:a\rb\nc\u0000d\u2028e"_s};
    QString longBody;
    for (int i = 0; i < 1002; ++i)
        longBody += u"L\r\n"_s;
    QTest::newRow("four digits from index 1000") << longBody << QStringList {};
}

void TestPatrol::lines_cutTrimmedAndNumbered()
{
    QFETCH(QString, body);
    QFETCH(QStringList, listed);
    setConditions({u"abc"_s});
    page(body);
    m_patrol->CheckPage(u"http://127.0.0.1/p"_s);
    if (QByteArray(QTest::currentDataTag()) == "four digits from index 1000") {
        QCOMPARE(m_list1->count(), 1002);
        QCOMPARE(m_list1->item(999)->text(), kOld + u"999:L"_s);
        QCOMPARE(m_list1->item(1000)->text(), kOld + u"1000:L"_s);
        return;
    }
    QCOMPARE(rows(m_list1), listed);
    QVERIFY(m_list1->isVisibleTo(m_window.get()));
}

void TestPatrol::steps_inTheirOrder()
{
    page(u"one\r\n"_s, u"日本語の題"_s);
    m_patrol->CheckPage(u"http://127.0.0.1/p"_s);
    QCOMPARE(m_browser->calls(),
        (QStringList {u"visible 0"_s, u"navigate http://127.0.0.1/p"_s, u"visible 1"_s, u"result"_s}));
    QCOMPARE(m_window->windowTitle(), u"Korvani  1.8.0 [日本語の題]"_s);
    QCOMPARE(m_status->text(), u"巡回完了"_s);

    // The status shows the address while it loads.
    page(u"two\r\n"_s, u"T"_s, 3);
    QString during;
    QTimer::singleShot(0, this, [&] { during = m_status->text(); });
    m_patrol->CheckPage(u"http://127.0.0.1/p"_s);
    QCOMPARE(during, u"http://127.0.0.1/p 接続中... "_s);
}

void TestPatrol::wait_givesUpAfterFifteenWholeSeconds()
{
    qint64 now = 1000;
    m_patrol->setClockForTesting([&now] { return now++; });
    page(u"partial\r\nrest"_s, u"T"_s, 1000000);
    m_patrol->CheckPage(u"http://127.0.0.1/p"_s);
    QVERIFY(m_browser->calls().contains(u"quit"_s));
    // The start reading is 1000; the wait ends at the first reading more than 15 seconds later.
    QCOMPARE(m_browser->busyPollCount(), 16);
    QCOMPARE(rows(m_list1), QStringList {kOld + u"000:partial"_s});

    // A page that ends in time is not quit.
    m_browser->addPage(u"http://127.0.0.1/q"_s, ScriptedPage {u"q\r\n"_s, u"Q"_s, {}, {}, 3, false});
    m_patrol->CheckPage(u"http://127.0.0.1/q"_s);
    QCOMPARE(m_browser->calls().count(u"quit"_s), 1);

    // Nothing of the page had arrived when the wait ended: nothing is examined.
    ScriptedPage silent {u"never seen\r\n"_s, u"S"_s, {}, {}, 1000000, false};
    silent.arrivesWhileBusy = false;
    m_browser->addPage(u"http://127.0.0.1/silent"_s, silent);
    m_patrol->CheckPage(u"http://127.0.0.1/silent"_s);
    QCOMPARE(m_browser->calls().count(u"quit"_s), 2);
    QVERIFY(rows(m_list1).isEmpty());
    QCOMPARE(m_window->windowTitle(), u"Korvani  1.8.0 [http://127.0.0.1/silent]"_s);
}

void TestPatrol::failedLoad_examinesNothing_data()
{
    using F = LoadResult::Failure;
    QTest::addColumn<QString>("address");
    QTest::addColumn<int>("failure");
    QTest::newRow("refused address") << u"not an address"_s << int(F::Refused);
    QTest::newRow("connection") << u"http://127.0.0.1/down"_s << int(F::ConnectionFailed);
    QTest::newRow("name") << u"http://nosuch.invalid/"_s << int(F::NameNotResolved);
    QTest::newRow("certificate") << u"https://127.0.0.1/"_s << int(F::Certificate);
    QTest::newRow("download") << u"http://127.0.0.1/file.zip"_s << int(F::NoDocument);
    QTest::newRow("renderer") << u"http://127.0.0.1/crash"_s << int(F::RendererEnded);
}

// Whatever the browser still shows after a failed load, none of it is listed, mailed or named.
void TestPatrol::failedLoad_examinesNothing()
{
    QFETCH(QString, address);
    QFETCH(int, failure);
    setConditions({u"line"_s});
    page(u"line one\r\nline two\r\n"_s, u"Old page"_s);
    m_patrol->CheckPage(u"http://127.0.0.1/p"_s);
    QCOMPARE(m_sent.size(), 1);
    QCOMPARE(m_list1->count(), 2);

    if (failure != int(LoadResult::Failure::Refused)) {
        ScriptedPage failed;
        failed.body = u"line three\r\n"_s;
        failed.failure = LoadResult::Failure(failure);
        failed.busyPolls = 2;
        m_browser->addPage(address, failed);
    }
    m_list3->clear(); // every line would be new again
    m_patrol->CheckPage(address);
    QVERIFY(rows(m_list1).isEmpty());
    QVERIFY(m_list1->isVisibleTo(m_window.get()));
    QCOMPARE(m_sent.size(), 1);
    QVERIFY(rows(m_list3).isEmpty());
    QCOMPARE(m_window->windowTitle(), u"Korvani  1.8.0 ["_s + address + u"]"_s);
    QCOMPARE(m_status->text(), u"巡回完了"_s);
}

void TestPatrol::unreadablePage_stillEnds()
{
    ScriptedPage broken;
    broken.unreadable = true;
    m_browser->addPage(u"http://127.0.0.1/broken"_s, broken);
    m_patrol->CheckPage(u"http://127.0.0.1/broken"_s);
    QVERIFY(rows(m_list1).isEmpty());
    QVERIFY(m_sent.isEmpty());
    QCOMPARE(m_status->text(), u"巡回完了"_s);
}

void TestPatrol::history_newHitsMailedOnce()
{
    setConditions({u"hit"_s, u"@ link"_s});
    page(u"hit 1\r\nplain\r\nhit 2\r\nhit 1\r\nlink only\r\nhit 3\r\n"_s, u"Title"_s);
    m_patrol->CheckPage(u"http://127.0.0.1/p"_s);
    QCOMPARE(rows(m_list1),
        (QStringList {kNew + u"000:hit 1"_s, kOld + u"001:plain"_s, kNew + u"002:hit 2"_s, kOld + u"003:hit 1"_s,
            kOld + u"004:link only"_s, kNew + u"005:hit 3"_s}));
    QCOMPARE(m_sent.size(), 1);
    QCOMPARE(m_sent[0].subject, u"Title"_s);
    QCOMPARE(m_sent[0].body, u"hit 1\r\nhit 2\r\nhit 3\r\n"_s);
    QCOMPARE(rows(m_list3), (QStringList {u"hit 3"_s, u"hit 2"_s, u"hit 1"_s}));
    QCOMPARE(m_text1->toPlainText(), u"hit 1\nhit 2\nhit 3\n"_s);

    // Nothing new the second time: no mail, Text1 keeps the last one, no marker.
    m_text1->setPlainText(u"kept"_s);
    m_patrol->CheckPage(u"http://127.0.0.1/p"_s);
    QCOMPARE(m_sent.size(), 1);
    QCOMPARE(m_text1->toPlainText(), u"kept"_s);
    QCOMPARE(m_list1->item(0)->text(), kOld + u"000:hit 1"_s);
    QCOMPARE(m_list3->count(), 3);
}

// The page's title, its first three new lines and their count; a page without new hits is not
// told, and the mail goes out as ever.
void TestPatrol::desktop_toldOfPagesWithNewHits()
{
    setConditions({u"hit"_s});
    page(u"hit 1\r\nplain\r\nhit 2\r\nhit 3\r\nhit 1\r\nhit 4\r\n"_s, u"<b>Title</b>"_s);
    m_patrol->CheckPage(u"http://127.0.0.1/p"_s);
    QCOMPARE(m_told.size(), 1);
    QCOMPARE(m_told[0].kind, DesktopEvent::Kind::NewHits);
    QCOMPARE(m_told[0].address, u"http://127.0.0.1/p"_s);
    QCOMPARE(m_told[0].title, u"<b>Title</b>"_s);
    QCOMPARE(m_told[0].lines, (QStringList {u"hit 1"_s, u"hit 2"_s, u"hit 3"_s}));
    QCOMPARE(m_told[0].count, 4);
    QCOMPARE(m_sent.size(), 1);
    m_patrol->CheckPage(u"http://127.0.0.1/p"_s);
    QCOMPARE(m_told.size(), 1);
}

void TestPatrol::history_identity_data()
{
    QTest::addColumn<QStringList>("loaded");
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("second");
    QTest::addColumn<bool>("secondIsNew");

    const QString base = QString(1022, u'x');
    QTest::newRow("agree in 1022 bytes") << QStringList {} << base + u"A"_s << base + u"B"_s << false;
    QTest::newRow("differ in byte 1022") << QStringList {} << base.left(1021) + u"A"_s << base.left(1021) + u"B"_s
                                         << true;
    const QString kanji = QString(511, u'漢');
    QTest::newRow("double-byte text agrees in 1022 bytes")
        << QStringList {} << kanji + u"あ"_s << kanji + u"い"_s << false;
    QTest::newRow("prefix is another line") << QStringList {} << u"hit abc"_s << u"hit ab"_s << true;
    QTest::newRow("letter case counts") << QStringList {} << u"hit abc"_s << u"hit ABC"_s << true;
    QTest::newRow("emoji apart in one run") << QStringList {} << u"hit \U0001F600"_s << u"hit \U0001F603"_s << true;
    QTest::newRow("emoji line against its stored form")
        << QStringList {u"hit ?"_s} << u"hit other"_s << u"hit \U0001F600"_s << false;
    QTest::newRow("question mark against an emoji of this run")
        << QStringList {} << u"hit \U0001F600"_s << u"hit ?"_s << true;
    const QString longJp = QString(600, u'日') + u"hit"_s;
    QTest::newRow("long line saved and loaded")
        << QStringList {cp932::decode(cp932::truncate(cp932::encode(longJp), 1023))} << u"hit other"_s << longJp
        << false;
}

void TestPatrol::history_identity()
{
    QFETCH(QStringList, loaded);
    QFETCH(QString, first);
    QFETCH(QString, second);
    QFETCH(bool, secondIsNew);
    setConditions({u"hit|x|漢"_s});
    m_list3->addItems(loaded);
    QString body;
    QVERIFY(m_patrol->RecordNewHit(first, body));
    QCOMPARE(m_patrol->RecordNewHit(second, body), secondIsNew);
    QCOMPARE(m_list3->item(0)->text(), secondIsNew ? second : first);
}

// A hit line goes into the settings file at shut-down and comes back at the next start in the
// file's form: blanks at its ends and one pair of quotes around it are gone, CR and LF are spaces.
void TestPatrol::history_savedAndLoaded_notMailedAgain()
{
    const QStringList lines {u"\thit tab first"_s, u"hit tab last\t"_s, u"\"hit quoted\""_s, u"'hit single'"_s,
        u"hit lone\rCR"_s, u"hit\x1A"_s, u"hit \U0001F600 emoji"_s, u"\"hit\" \"x\""_s, u"\t\"hit both\" "_s,
        QString(700, u'長') + u"hit"_s};
    {
        clINI ini(m_dir->path());
        for (int i = 0; i < lines.size(); ++i)
            ini.SaveSetting(u"RIREKI"_s, u"TEXT%1"_s.arg(i), lines[i]);
        QVERIFY(ini.commit());
    }
    clINI ini(m_dir->path());
    for (int i = 0; i < lines.size(); ++i)
        m_list3->addItem(ini.GetSetting(u"RIREKI"_s, u"TEXT%1"_s.arg(i), QString()));
    setConditions({u"hit"_s});
    QString body;
    for (const QString &line : lines)
        QVERIFY2(!m_patrol->RecordNewHit(line, body), qPrintable(line));
    // Lines the file keeps apart stay apart.
    QVERIFY(m_patrol->RecordNewHit(u"hit quoted"_s + u" more"_s, body));
}

void TestPatrol::history_clearedMailsAgain()
{
    setConditions({u"hit"_s});
    page(u"hit\r\n"_s);
    m_patrol->CheckPage(u"http://127.0.0.1/p"_s);
    m_patrol->CheckPage(u"http://127.0.0.1/p"_s);
    QCOMPARE(m_sent.size(), 1);
    m_list3->clear();
    m_patrol->CheckPage(u"http://127.0.0.1/p"_s);
    QCOMPARE(m_sent.size(), 2);
}

void TestPatrol::history_changedMidPage_seen()
{
    // The user clears the history while the page is being listed: the index must follow.
    setConditions({u"hit"_s});
    m_list3->addItem(u"hit b"_s);
    page(u"hit a\r\nhit b\r\nhit a\r\n"_s);
    QTimer::singleShot(0, this, [this] { m_list3->clear(); });
    m_patrol->CheckPage(u"http://127.0.0.1/p"_s);
    QCOMPARE(m_sent.size(), 1);
    QVERIFY(m_sent[0].body.contains(u"hit a\r\n"_s));
    QCOMPARE(m_sent[0].body.count(u"hit a"_s), 1);
}

void TestPatrol::mail_framing_data()
{
    QTest::addColumn<QString>("top");
    QTest::addColumn<QString>("end");
    QTest::addColumn<QString>("subject");
    QTest::addColumn<QString>("expectedSubject");
    QTest::addColumn<QString>("expectedBody");

    const QString url = u"http://127.0.0.1/p"_s;
    QTest::newRow("all absent") << QString() << QString() << QString() << u"Title"_s << u"L1\r\nL2\r\n"_s;
    QTest::newRow("address on top, title at the end, tag")
        << u"2"_s << u"1"_s << u"1"_s << u"[KVS]"_s << url + u"\r\nL1\r\nL2\r\n--\r\nTitle"_s;
    QTest::newRow("name on top, address at the end")
        << u"1"_s << u"2"_s << u"0"_s << u"Title"_s << u"Title\r\nL1\r\nL2\r\n--\r\n"_s + url;
    QTest::newRow("other values mean nothing, subject 2 empty")
        << u"3"_s << u"11"_s << u"2"_s << QString() << u"L1\r\nL2\r\n"_s;
}

void TestPatrol::mail_framing()
{
    QFETCH(QString, top);
    QFETCH(QString, end);
    QFETCH(QString, subject);
    QFETCH(QString, expectedSubject);
    QFETCH(QString, expectedBody);
    if (!top.isNull())
        settings({{u"TOPLINE"_s, top}, {u"ENDLINE"_s, end}, {u"SUBJECT"_s, subject}});
    setConditions({u"^L\\d"_s});
    page(u"L1\r\nno\r\nL2\r\n"_s, u"Title"_s);
    m_patrol->CheckPage(u"http://127.0.0.1/p"_s);
    QCOMPARE(m_sent.size(), 1);
    QCOMPARE(m_sent[0].subject, expectedSubject);
    QCOMPARE(m_sent[0].body, expectedBody);
    QCOMPARE(m_text1->toPlainText(), QString(expectedBody).replace(u"\r\n"_s, u"\n"_s));
    QVERIFY(m_popCommands.isEmpty());
}

void TestPatrol::mail_popLoginFirstWhenAsked()
{
    settings({{u"CHECK2"_s, u"1"_s}});
    setConditions({u"hit"_s});
    page(u"hit\r\n"_s);
    m_patrol->CheckPage(u"http://127.0.0.1/p"_s);
    // The POP login fails here and the mail is sent all the same.
    QCOMPARE(m_popCommands, QStringList {u"STAT"_s});
    QCOMPARE(m_sent.size(), 1);
}

void TestPatrol::mail_failureWithServerKeepsLinesForNextTime()
{
    settings({{u"SMTP_SERVER"_s, u"127.0.0.1:1"_s}});
    setConditions({u"hit"_s});
    m_list3->addItem(u"older"_s);
    page(u"hit 1\r\nhit 2\r\n"_s);
    m_sendFailure = u"SMTP サーバーに接続できませんでした。"_s;
    // Something the user does to the history meanwhile stays.
    QTimer::singleShot(0, this, [this] { m_list3->addItem(u"added meanwhile"_s); });
    m_patrol->CheckPage(u"http://127.0.0.1/p"_s);
    QCOMPARE(m_sent.size(), 1);
    QCOMPARE(rows(m_list3), (QStringList {u"older"_s, u"added meanwhile"_s}));

    m_sendFailure.clear();
    m_patrol->CheckPage(u"http://127.0.0.1/p"_s);
    QCOMPARE(m_sent.size(), 2);
    QCOMPARE(m_sent[1].body, u"hit 1\r\nhit 2\r\n"_s);
    m_patrol->CheckPage(u"http://127.0.0.1/p"_s);
    QCOMPARE(m_sent.size(), 2);
}

void TestPatrol::mail_failureWithoutServerRecordsAsSent()
{
    setConditions({u"hit"_s});
    page(u"hit\r\n"_s);
    m_sendFailure = u"SMTP サーバーが設定されていません。"_s;
    m_patrol->CheckPage(u"http://127.0.0.1/p"_s);
    QCOMPARE(rows(m_list3), QStringList {u"hit"_s});
    m_patrol->CheckPage(u"http://127.0.0.1/p"_s);
    QCOMPARE(m_sent.size(), 1);
}

void TestPatrol::conditions_editTakesEffectAtNextLine()
{
    setConditions({u"first"_s});
    QVERIFY(m_patrol->MatchCondition(u"the first line"_s, 1));
    m_keywords->item(0)->setText(u"second"_s);
    QVERIFY(!m_patrol->MatchCondition(u"the first line"_s, 1));
    QVERIFY(m_patrol->MatchCondition(u"the second line"_s, 1));
    // Only the 100 slots count.
    m_keywords->item(0)->setText(QString());
    m_keywords->addItem(u"second"_s);
    QVERIFY(!m_patrol->MatchCondition(u"the second line"_s, 1));
    m_keywords->item(99)->setText(u"@ link"_s);
    QVERIFY(!m_patrol->MatchCondition(u"a link"_s, 1));
    QVERIFY(m_patrol->MatchCondition(u"a link"_s, 0));
}

void TestPatrol::abandon_duringWait_stopsTheCheck()
{
    setConditions({u"hit"_s});
    m_list1->addItem(u"from before"_s);
    page(u"hit\r\n"_s, u"T"_s, 1000000);
    QTimer::singleShot(100, this, [this] { m_patrol->abandon(); });
    m_patrol->CheckPage(u"http://127.0.0.1/p"_s);
    QVERIFY(m_sent.isEmpty());
    QCOMPARE(rows(m_list1), QStringList {u"from before"_s});
    QVERIFY(m_status->text() != u"巡回完了"_s);
    // Nothing is loaded any more.
    m_patrol->CheckPage(u"http://127.0.0.1/p"_s);
    QCOMPARE(m_browser->calls().count(u"navigate http://127.0.0.1/p"_s), 1);
}

void TestPatrol::abandon_midPage_unmailedLinesLeaveTheHistory()
{
    setConditions({u"hit"_s});
    m_list3->addItem(u"loaded"_s);
    page(u"hit a\r\n"_s);
    m_patrol->CheckPage(u"http://127.0.0.1/p"_s);
    QCOMPARE(m_sent.size(), 1);

    // The window closes while the next page is being listed, after its first hit.
    page(u"hit b\r\nhit c\r\nplain\r\n"_s);
    QMetaObject::Connection c = connect(m_list1->model(), &QAbstractItemModel::rowsInserted, this, [this] {
        if (m_list3->count() >= 3)
            m_patrol->abandon();
    });
    m_patrol->CheckPage(u"http://127.0.0.1/p"_s);
    disconnect(c);
    QCOMPARE(m_sent.size(), 1);
    // What was mailed and what was loaded stay; the page's unmailed hits are not claimed as sent.
    QCOMPARE(rows(m_list3), (QStringList {u"hit a"_s, u"loaded"_s}));
}

void TestPatrol::badConditionsAndHugeLines_handled()
{
    QStringList many;
    for (int i = 0; i < 300; ++i)
        many << u"x%1"_s.arg(i % 7);
    // Broken patterns are no match, so "-[" passes everywhere; spaces alone never hit.
    setConditions({u"["_s, u"("_s, u"*"_s, u"   "_s, many.join(u' '), u"huge -["_s, u"-zzz -(-"_s});
    const QString huge = QString(1 << 20, u'a') + u" huge"_s;
    page(huge + u"\r\nplain \U0001F600\r\nx0 x1 x2 x3 x4 x5 x6\r\n"_s);
    m_patrol->CheckPage(u"http://127.0.0.1/p"_s);
    QCOMPARE(m_list1->count(), 3);
    QCOMPARE(m_list1->item(0)->text(), kNew + u"000:"_s + huge);
    QCOMPARE(m_sent.size(), 1);
    // The negative-only condition hits the other two lines as well.
    QCOMPARE(rows(m_list3), (QStringList {u"x0 x1 x2 x3 x4 x5 x6"_s, u"plain \U0001F600"_s, huge}));
}

void TestPatrol::mail_answersLate_windowGoesOn_data()
{
    QTest::addColumn<QString>("failure");
    QTest::addColumn<QStringList>("historyAfter");
    QTest::addColumn<QString>("status");
    QTest::newRow("sent") << QString() << QStringList {u"hit 2"_s, u"hit 1"_s} << u"巡回完了"_s;
    QTest::newRow("failed") << u"421 try later"_s << QStringList {}
                            << u"送信失敗: 421 try later（次にその行が現れたときに送り直します）"_s;
}

// A slow mail server: window messages keep running while the mail is on its way, the mail body
// is shown at once, and the answer, when it comes, decides whether the lines count as sent.
void TestPatrol::mail_answersLate_windowGoesOn()
{
    QFETCH(QString, failure);
    QFETCH(QStringList, historyAfter);
    QFETCH(QString, status);
    settings({{u"SMTP_SERVER"_s, u"127.0.0.1:25"_s}});
    setConditions({u"hit"_s});
    page(u"hit 1\r\nhit 2\r\n"_s);
    m_sendFailure = failure;
    m_holdMail = true;
    int ticks = 0;
    QStringList historyDuring;
    QString bodyDuring, statusDuring;
    QTimer tick;
    tick.setInterval(5);
    connect(&tick, &QTimer::timeout, this, [&] {
        if (!m_mailStarted || !m_holdMail || ++ticks < 10)
            return;
        historyDuring = rows(m_list3);
        bodyDuring = m_text1->toPlainText();
        statusDuring = m_status->text();
        m_holdMail = false;
    });
    tick.start();
    m_patrol->CheckPage(u"http://127.0.0.1/p"_s);
    QVERIFY(ticks >= 10);
    QCOMPARE(historyDuring, (QStringList {u"hit 2"_s, u"hit 1"_s}));
    QCOMPARE(bodyDuring, u"hit 1\nhit 2\n"_s);
    QVERIFY(statusDuring != u"巡回完了"_s);
    QCOMPARE(m_sent.size(), 1);
    QCOMPARE(rows(m_list3), historyAfter);
    QCOMPARE(m_status->text(), status);
}

void TestPatrol::abandon_duringMail_historyFollowsTheServer_data()
{
    QTest::addColumn<bool>("taken");
    QTest::addColumn<QStringList>("history");
    QTest::newRow("still on its way") << false << QStringList {u"loaded"_s};
    QTest::newRow("server took it") << true << QStringList {u"hit b"_s, u"hit a"_s, u"loaded"_s};
}

// The window closes while the mail is on its way: the wait ends at once. The lines of a mail still
// on its way leave the history, so the saved history never claims them; those of a mail the server
// took before the check heard of it stay, or the next start would mail them again.
void TestPatrol::abandon_duringMail_historyFollowsTheServer()
{
    QFETCH(bool, taken);
    QFETCH(QStringList, history);
    setConditions({u"hit"_s});
    m_list3->addItem(u"loaded"_s);
    page(u"hit a\r\nhit b\r\n"_s);
    m_holdMail = true;
    QTimer tick;
    tick.setInterval(5);
    connect(&tick, &QTimer::timeout, this, [&] {
        if (!m_mailStarted || m_patrol->abandoned())
            return;
        if (taken) {
            m_holdMail = false;
            QVERIFY(Module1::waitForWorkers(5000));
        }
        m_patrol->abandon();
    });
    tick.start();
    m_patrol->CheckPage(u"http://127.0.0.1/p"_s);
    QVERIFY(m_patrol->abandoned());
    QCOMPARE(m_holdMail, !taken); // a sender still holding on: nobody waited for it
    QCOMPARE(rows(m_list3), history);
    QVERIFY(m_status->text() != u"巡回完了"_s);
    m_holdMail = false;
}

// The status strip tells a failed mail, and keeps telling it over pages without mail, until a mail
// goes out again. A failed POP login is told too, though the mail went.
void TestPatrol::status_mailFailureStaysUntilAMailGoesOut()
{
    settings({{u"SMTP_SERVER"_s, u"127.0.0.1:25"_s}});
    setConditions({u"hit"_s});
    m_browser->addPage(u"http://127.0.0.1/hits"_s, ScriptedPage {u"hit 1\r\n"_s, u"T"_s, {}, {}});
    m_browser->addPage(u"http://127.0.0.1/none"_s, ScriptedPage {u"plain\r\n"_s, u"T"_s, {}, {}});
    m_sendFailure = u"421 4.3.2 busy"_s;
    m_patrol->CheckPage(u"http://127.0.0.1/hits"_s);
    const QString failed = u"送信失敗: 421 4.3.2 busy（次にその行が現れたときに送り直します）"_s;
    QCOMPARE(m_status->text(), failed);
    m_patrol->CheckPage(u"http://127.0.0.1/none"_s);
    QCOMPARE(m_status->text(), failed);
    m_sendFailure.clear();
    m_patrol->CheckPage(u"http://127.0.0.1/hits"_s);
    QCOMPARE(m_status->text(), u"巡回完了"_s);

    settings({{u"CHECK2"_s, u"1"_s}});
    m_list3->clear();
    m_patrol->CheckPage(u"http://127.0.0.1/hits"_s);
    QCOMPARE(m_popCommands.size(), 1);
    QCOMPARE(m_status->text(), u"POPログイン失敗: POP3 サーバーに接続できませんでした。（メールは送りました）"_s);

    // A server of blank spaces is none: the first new hit says where the hits stay, the next ones
    // say nothing more, and the desktop hears of each.
    settings({{u"SMTP_SERVER"_s, u"\"   \""_s}, {u"CHECK2"_s, u"0"_s}});
    m_sendFailure = u"SMTPサーバーが設定されていません。"_s;
    m_told.clear();
    for (const QString &told : {Patrol::noMailServerText(), u"巡回完了"_s}) {
        m_list3->clear();
        m_patrol->CheckPage(u"http://127.0.0.1/hits"_s);
        QCOMPARE(m_status->text(), told);
    }
    QCOMPARE(m_told.size(), 2);
}

QTEST_MAIN(TestPatrol)
#include "tst_patrol.moc"
