#include "../patrol/ScriptedBrowser.h"
#include "app/Form1.h"
#include "platform/AppTitle.h"
#include "platform/ui/MessageBoxTesting.h"
#include "survey/OsVersion.h"
#include "survey/Survey.h"

#include <QAction>
#include <QDesktopServices>
#include <QElapsedTimer>
#include <QListWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

// Takes the addresses handed to the desktop, so that no real browser is started.
class UrlCatcher : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> urls;
    Q_INVOKABLE void open(const QUrl &url) { urls.append(url); }
};

class TestSurvey : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void cancel_sendsNothing();
    void ok_postsTheListsToTheSurveyAddress();
    void unansweredPost_waitEndsAtItsLimit();
    void closeDuringWait_endsTheWait();
    void webSite_openedByTheDesktop();

private:
    std::unique_ptr<Form1> open(ScriptedBrowser **browser)
    {
        auto b = std::make_unique<ScriptedBrowser>();
        *browser = b.get();
        auto w = std::make_unique<Form1>(std::move(b));
        w->setSettingsFolder(m_dir.path());
        w->Form_Load();
        return w;
    }

    QTemporaryDir m_dir;
};

void TestSurvey::init()
{
    QVERIFY(m_dir.isValid());
    AppTitle::set(u"Korvani"_s);
    Ui::testing::reset();
}

void TestSurvey::cleanup()
{
    Ui::testing::reset();
}

void TestSurvey::cancel_sendsNothing()
{
    ScriptedBrowser *b = nullptr;
    auto w = open(&b);
    w->ListKeyWord->item(0)->setText(u"word"_s);
    w->ListURL->item(0)->setText(u"http://127.0.0.1/"_s);
    Ui::testing::queueAnswer(Ui::Answer::Cancel);
    w->menuアンケート->trigger();

    QCOMPARE(Ui::testing::shown().size(), size_t(1));
    const Ui::testing::Shown &box = Ui::testing::shown()[0];
    QCOMPARE(box.title, u"Korvani  1.8.0"_s);
    QCOMPARE(box.text,
        u"より良いソフト作りの為に、アンケートにご協力ください。\n"
        u"以下の項目をORBELL管理サーバーへ送信します。その他の個人情報の送信はありません。\n"
        u"\n"
        u"Windows バージョン\n"
        u"検索単語リスト\n"
        u"対象URLリスト"_s);
    QCOMPARE(box.icon, Ui::Icon::Information);
    QCOMPARE(box.buttons, Ui::Buttons::OkCancel);
    QCOMPARE(b->calls().filter(u"navigate"_s), QStringList());
    QVERIFY(b->lastPostData().isEmpty());
}

void TestSurvey::ok_postsTheListsToTheSurveyAddress()
{
    ScriptedBrowser *b = nullptr;
    auto w = open(&b);
    ScriptedPage answer;
    answer.body = u"thanks"_s;
    answer.busyPolls = 3;
    b->addPage(Survey::surveyAddress(), answer);
    w->ListKeyWord->item(5)->setText(u"ab c"_s);
    w->ListURL->item(7)->setText(u"http://h/?a=b&c=d+e"_s);
    Ui::testing::queueAnswer(Ui::Answer::Ok);
    const int pollsBefore = b->busyPollCount();
    w->menuアンケート->trigger();

    QCOMPARE(b->calls().filter(u"navigate"_s), QStringList {u"navigate2 "_s + Survey::surveyAddress()});
    QCOMPARE(b->lastHeaderLine(), u"Content-type: application/x-www-form-urlencoded\r\n"_s);
    QCOMPARE(b->lastPostData(),
        "VERSION=1.8.0&OS=" + Survey::osVersion().toLatin1()
            + "&KEY05=\x82\x81\x82\x82\x81\x40\x82\x83&URL07=http://h/?a%3Db%26c%3Dd%2Be");
    // Three busy answers, then the one that ends the wait.
    QCOMPARE(b->busyPollCount() - pollsBefore, 4);
}

void TestSurvey::unansweredPost_waitEndsAtItsLimit()
{
    ScriptedBrowser b;
    ScriptedPage never;
    never.busyPolls = 1 << 30;
    b.addPage(u"http://127.0.0.1/survey"_s, never);
    QElapsedTimer clock;
    clock.start();
    Survey::PostForm(b, u"http://127.0.0.1/survey"_s, {u"A"_s}, {u"1"_s}, {.limit = 500ms});
    const qint64 elapsed = clock.elapsed();
    QVERIFY2(elapsed >= 450 && elapsed < 2500, qPrintable(QString::number(elapsed)));
    QVERIFY(b.busy());
    // The wait sleeps between polls; a spinning loop would poll hundreds of thousands of times.
    QVERIFY2(b.busyPollCount() < 100, qPrintable(QString::number(b.busyPollCount())));
}

void TestSurvey::closeDuringWait_endsTheWait()
{
    ScriptedBrowser *b = nullptr;
    auto w = open(&b);
    ScriptedPage never;
    never.busyPolls = 1 << 30;
    b->addPage(Survey::surveyAddress(), never);
    w->ListKeyWord->item(0)->setText(u"kept"_s);
    Ui::testing::queueAnswer(Ui::Answer::Ok);
    QTimer::singleShot(200, w.get(), [&w] { w->close(); });
    QElapsedTimer clock;
    clock.start();
    w->menuアンケート->trigger();
    QVERIFY2(clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(w->unloaded());
    QCOMPARE(b->calls().filter(u"navigate"_s).size(), 1);
}

void TestSurvey::webSite_openedByTheDesktop()
{
    ScriptedBrowser *b = nullptr;
    auto w = open(&b);
    const QUrl site(Survey::webSiteAddress());
    QVERIFY2(site.isValid() && !site.isRelative(), qPrintable(Survey::webSiteAddress()));
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler(site.scheme(), &catcher, "open");
    w->menuORBELLWEB->trigger();
    QDesktopServices::unsetUrlHandler(site.scheme());
    QCOMPARE(catcher.urls, QList<QUrl> {site});
    QCOMPARE(b->calls().filter(u"navigate"_s), QStringList());
    QVERIFY(Ui::testing::shown().empty());
}

QTEST_MAIN(TestSurvey)
#include "tst_survey.moc"
