#include "patrol/WebEngineBrowser.h"

#include "patrol/BrowserProfile.h"

#include "ScriptedBrowser.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QWebEngineCertificateError>
#include <QWebEngineScript>
#include <QWebEngineView>

#include <algorithm>

#include <memory>

using namespace Qt::StringLiterals;

// The stand-in that logic tests use must keep up with the contract.
static_assert(!std::is_abstract_v<ScriptedBrowser>);

// Loads the way the page check does (hidden while the navigation is issued) and waits for the end.
#define LOAD(address, limitMs)                                                                                         \
    do {                                                                                                               \
        m_browser->setVisible(false);                                                                                  \
        m_browser->navigate(address);                                                                                  \
        m_browser->setVisible(true);                                                                                   \
        QVERIFY(m_browser->busy());                                                                                    \
        QTRY_VERIFY_WITH_TIMEOUT(!m_browser->busy(), limitMs);                                                         \
    } while (false)

class TestWebEngineBrowser : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void crLfLines_data();
    void crLfLines();

    void bodyText_linesJoinedByCrLf();
    void bodyText_largePage_wholeAndInOrder();
    void title_japaneseAndLocation();
    void untitledPage_locationNameIsAddress();
    void links_absoluteInDocumentOrder();
    void links_noneOrOutOfRange();
    void navigate2_postsExactBytesAndHeader();
    void busy_untilSlowPageEnds();
    void quit_abandonsPageThatNeverEnds();
    void navigateDuringLoad_busyFollowsNewPage();
    void navigateWhilePageRedirects_busyFollowsNewPage();
    void loadResult_kinds_data();
    void loadResult_kinds();
    void waitGivenUp_beforeAnythingArrived_timedOut();
    void rendererEnded_duringLoad_nothingToRead();
    void earlierPageNavigatingItself_afterFailure_neverRead();
    void leavePageQuestion_answeredLeave();
    void sameDocument_waitEndsWhenThere();
    void schemelessTarget_loadedAsWebAddress();
    void refusedAddress_readsNothing_data();
    void refusedAddress_readsNothing();
    void dialogsAndWindows_suppressed();
    void missingBody_readsEmpty_data();
    void missingBody_readsEmpty();
    void passwordFieldShown_data();
    void passwordFieldShown();
    void profileFolder_data();
    void profileFolder();
    void profile_clear_forgetsTheSession();
    void certificateError_refused();
    void stalledRenderer_readGivesUpInTime();
    void destroyedDuringRead_returnsEmpty();
    void textOnly_sameTextNothingPainted_data();
    void textOnly_sameTextNothingPainted();
    void textOnly_otherPagesOfProfileKeepPictures();

private:
    // The cookies the page on screen sees.
    QString pageCookie()
    {
        auto answer = std::make_shared<std::optional<QString>>();
        m_browser->page()->runJavaScript(u"document.cookie"_s, [answer](const QVariant &v) { *answer = v.toString(); });
        QDeadlineTimer deadline(5000);
        while (!*answer && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        return answer->value_or(u"(no answer)"_s);
    }
    QString url(const QString &path) const { return u"http://127.0.0.1:%1%2"_s.arg(m_port).arg(path); }
    // A page is on screen and readable before each failing navigation: it must not be read for it.
    void expectNothingToRead();
    // Whether /selfredirect may move on.
    void setGate(bool open)
    {
        QFile gate(m_dir.filePath(u"gate"_s));
        QVERIFY(open ? gate.open(QIODevice::WriteOnly) : !gate.exists() || gate.remove());
    }

    // The paths the page server was asked for since the last call.
    QStringList takeRequests()
    {
        QFile log(m_dir.filePath(u"requests.log"_s));
        const QStringList paths = log.open(QIODevice::ReadOnly)
            ? QString::fromUtf8(log.readAll()).split(u'\n', Qt::SkipEmptyParts)
            : QStringList();
        log.remove();
        return paths;
    }
    static bool paintOnly(const QString &path)
    {
        for (const QString &folder : {u"/px/img/"_s, u"/px/font/"_s, u"/px/media/"_s, u"/px/plugin/"_s}) {
            if (path.startsWith(folder))
                return true;
        }
        return false;
    }

    QTemporaryDir m_dir;
    QProcess m_server;
    int m_port = 0;
    int m_tlsPort = 0;
    std::unique_ptr<WebEngineBrowser> m_browser;
};

void TestWebEngineBrowser::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QStringList arguments {QStringLiteral(KORVANI_SOURCE_DIR "/tests/patrol/page_server.py"), u"--record"_s,
        m_dir.path(), u"--log"_s, m_dir.filePath(u"requests.log"_s)};
    QProcess openssl;
    openssl.start(u"openssl"_s,
        {u"req"_s, u"-x509"_s, u"-newkey"_s, u"rsa:2048"_s, u"-nodes"_s, u"-days"_s, u"1"_s, u"-subj"_s,
            u"/CN=127.0.0.1"_s, u"-addext"_s, u"subjectAltName=IP:127.0.0.1"_s, u"-keyout"_s,
            m_dir.filePath(u"key.pem"_s), u"-out"_s, m_dir.filePath(u"cert.pem"_s)});
    if (openssl.waitForFinished(30000) && openssl.exitCode() == 0)
        arguments << u"--cert"_s << m_dir.filePath(u"cert.pem"_s) << u"--key"_s << m_dir.filePath(u"key.pem"_s);

    m_server.start(u"/usr/bin/python3"_s, arguments);
    QVERIFY2(m_server.waitForStarted(10000), qPrintable(m_server.errorString()));
    QTRY_VERIFY_WITH_TIMEOUT(m_server.canReadLine(), 10000);
    const QList<QByteArray> ports = m_server.readLine().trimmed().split(' ');
    QCOMPARE(ports.size(), 2);
    m_port = ports[0].toInt();
    m_tlsPort = ports[1].toInt();
    QVERIFY(m_port > 0);
}

void TestWebEngineBrowser::cleanupTestCase()
{
    m_server.closeWriteChannel();
    if (!m_server.waitForFinished(3000)) {
        m_server.kill();
        m_server.waitForFinished(3000);
    }
}

void TestWebEngineBrowser::init()
{
    m_browser = std::make_unique<WebEngineBrowser>();
    m_browser->widget()->resize(800, 600);
}

void TestWebEngineBrowser::cleanup()
{
    m_browser.reset();
}

void TestWebEngineBrowser::crLfLines_data()
{
    QTest::addColumn<QString>("engine");
    QTest::addColumn<QString>("expected");
    QTest::newRow("empty") << QString() << QString();
    QTest::newRow("no break") << u"abc"_s << u"abc"_s;
    QTest::newRow("LF") << u"a\nb"_s << u"a\r\nb"_s;
    QTest::newRow("blank line") << u"a\n\nb"_s << u"a\r\n\r\nb"_s;
    QTest::newRow("leading and trailing") << u"\na\n"_s << u"\r\na\r\n"_s;
    QTest::newRow("CR LF kept") << u"a\r\nb"_s << u"a\r\nb"_s;
    QTest::newRow("lone CR kept") << u"a\rb"_s << u"a\rb"_s;
    QTest::newRow("CR then LF LF") << u"a\r\n\nb"_s << u"a\r\n\r\nb"_s;
}

void TestWebEngineBrowser::crLfLines()
{
    QFETCH(QString, engine);
    QFETCH(QString, expected);
    QCOMPARE(WebEngineBrowser::crLfLines(engine), expected);
}

void TestWebEngineBrowser::bodyText_linesJoinedByCrLf()
{
    LOAD(url(u"/lines"_s), 20000);
    QCOMPARE(m_browser->bodyInnerText(), u"a\r\n\r\nb\r\n\r\nc\r\nd"_s);
    QCOMPARE(m_browser->documentTitle(), u"lines"_s);
}

// A text of several hundred thousand characters comes over in pieces: none lost, none doubled,
// no line break split.
void TestWebEngineBrowser::bodyText_largePage_wholeAndInOrder()
{
    LOAD(url(u"/many"_s), 30000);
    const QStringList lines = m_browser->bodyInnerText().split(u"\r\n"_s);
    QCOMPARE(lines.size(), 60000);
    for (int i = 0; i < lines.size(); ++i)
        QCOMPARE(lines[i], u"行 %1"_s.arg(i));
}

void TestWebEngineBrowser::title_japaneseAndLocation()
{
    LOAD(url(u"/japanese"_s), 10000);
    QCOMPARE(m_browser->documentTitle(), u"巡回テスト 大阪"_s);
    QCOMPARE(m_browser->locationName(), u"巡回テスト 大阪"_s);
    QCOMPARE(m_browser->locationUrl(), url(u"/japanese"_s));
    QCOMPARE(m_browser->bodyInnerText(), u"本日は晴天なり"_s);
}

void TestWebEngineBrowser::untitledPage_locationNameIsAddress()
{
    LOAD(url(u"/notitle"_s), 10000);
    QCOMPARE(m_browser->documentTitle(), QString());
    QCOMPARE(m_browser->locationName(), url(u"/notitle"_s));
}

void TestWebEngineBrowser::links_absoluteInDocumentOrder()
{
    LOAD(url(u"/dir/links"_s), 10000);
    const QList<BrowserLink> expected {
        {u"Sub page"_s, url(u"/dir/sub/page"_s)},
        {u"Top"_s, url(u"/top?q=1&r=2"_s)},
        {QString(), url(u"/up#frag"_s)},
        {u"Mail me"_s, u"mailto:someone@example.invalid"_s},
        {QString(), url(u"/dir/area-target"_s)},
        {u"全角ＡＢＣ"_s, u"http://127.0.0.1:1/elsewhere"_s},
    };
    const std::optional<QList<BrowserLink>> all = m_browser->links();
    QVERIFY(all);
    QCOMPARE(*all, expected);

    // The one-by-one reads see the same collection.
    QCOMPARE(m_browser->linkCount(), std::optional<int>(int(expected.size())));
    for (int i = 0; i < expected.size(); ++i) {
        QCOMPARE(m_browser->linkText(i), std::optional<QString>(expected[i].text));
        QCOMPARE(m_browser->linkHref(i), std::optional<QString>(expected[i].href));
    }
}

void TestWebEngineBrowser::links_noneOrOutOfRange()
{
    LOAD(url(u"/nolinks"_s), 10000);
    QCOMPARE(m_browser->linkCount(), std::optional<int>(0));
    QCOMPARE(m_browser->links(), std::optional<QList<BrowserLink>>(QList<BrowserLink>()));
    QCOMPARE(m_browser->linkText(0), std::nullopt);
    QCOMPARE(m_browser->linkHref(0), std::nullopt);
    QCOMPARE(m_browser->linkText(-1), std::nullopt);
}

void TestWebEngineBrowser::navigate2_postsExactBytesAndHeader()
{
    // Shift_JIS text, an escaped "+", and characters a browser would otherwise encode itself.
    const QByteArray body("VERSION=1.8.0&OS=2.10.0.19045&KEY00=\x82\x60\x82\x61\x81\x40&URL01=http://h/?a%3Db%26c "
                          "100%&V=%2B+x");
    QFile::remove(m_dir.filePath(u"post.body"_s));
    m_browser->navigate2(url(u"/survey"_s), body, u"Content-type: application/x-www-form-urlencoded\r\n"_s);
    QVERIFY(m_browser->busy());
    QTRY_VERIFY_WITH_TIMEOUT(!m_browser->busy(), 10000);

    QFile received(m_dir.filePath(u"post.body"_s));
    QVERIFY(received.open(QIODevice::ReadOnly));
    QCOMPARE(received.readAll(), body);

    QFile meta(m_dir.filePath(u"post.json"_s));
    QVERIFY(meta.open(QIODevice::ReadOnly));
    const QJsonObject request = QJsonDocument::fromJson(meta.readAll()).object();
    QCOMPARE(request.value(u"method"_s).toString(), u"POST"_s);
    QCOMPARE(request.value(u"path"_s).toString(), u"/survey"_s);
    QStringList contentTypes;
    for (const QJsonValue &header : request.value(u"headers"_s).toArray()) {
        if (header.toArray().at(0).toString().compare(u"content-type"_s, Qt::CaseInsensitive) == 0)
            contentTypes.append(header.toArray().at(1).toString());
    }
    QCOMPARE(contentTypes, QStringList {u"application/x-www-form-urlencoded"_s});

    QCOMPARE(m_browser->bodyInnerText(), u"received %1 bytes"_s.arg(body.size()));
}

void TestWebEngineBrowser::busy_untilSlowPageEnds()
{
    // The pause outlasts the time the browser allows a navigation to start.
    QElapsedTimer clock;
    clock.start();
    m_browser->navigate(url(u"/slow?ms=3500"_s));
    QVERIFY(m_browser->busy());
    QTRY_VERIFY_WITH_TIMEOUT(m_browser->bodyInnerText().contains(u"first half"_s), 10000);
    QVERIFY(m_browser->busy());
    QTRY_VERIFY_WITH_TIMEOUT(!m_browser->busy(), 15000);
    QVERIFY2(clock.elapsed() >= 3400, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(m_browser->bodyInnerText(), u"first half\r\n\r\nsecond half"_s);
}

void TestWebEngineBrowser::quit_abandonsPageThatNeverEnds()
{
    m_browser->navigate(url(u"/never"_s));
    QTRY_VERIFY_WITH_TIMEOUT(m_browser->bodyInnerText() == u"partial text"_s, 10000);
    QVERIFY(m_browser->busy());
    m_browser->quit();
    QVERIFY(!m_browser->busy());
    // What arrived before the end of the wait is the page's document, though unfinished.
    const LoadResult result = m_browser->loadResult();
    QCOMPARE(result.failure, LoadResult::Failure::None);
    QVERIFY(!result.complete);
    QCOMPARE(m_browser->bodyInnerText(), u"partial text"_s);
    QCOMPARE(m_browser->documentTitle(), u"never"_s);

    // The stopped load does not come back as busy, and the next page loads normally.
    LOAD(url(u"/japanese"_s), 10000);
    QCOMPARE(m_browser->documentTitle(), u"巡回テスト 大阪"_s);
}

void TestWebEngineBrowser::navigateDuringLoad_busyFollowsNewPage()
{
    m_browser->navigate(url(u"/never"_s));
    QTRY_VERIFY_WITH_TIMEOUT(m_browser->bodyInnerText() == u"partial text"_s, 10000);
    // The engine folds the new navigation into the load in progress; busy ends with the new page,
    // neither at the end of the old one nor only at some time-out.
    QElapsedTimer clock;
    clock.start();
    m_browser->navigate(url(u"/slow?ms=500"_s));
    QTRY_VERIFY_WITH_TIMEOUT(!m_browser->busy(), 10000);
    QVERIFY2(clock.elapsed() < 2500, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(m_browser->bodyInnerText(), u"first half\r\n\r\nsecond half"_s);
}

// The page at hand is on its way elsewhere by itself when the next target is loaded: busy ends
// with the target, never with the end of the page's own navigation.
void TestWebEngineBrowser::navigateWhilePageRedirects_busyFollowsNewPage()
{
    setGate(true);
    LOAD(url(u"/selfredirect"_s), 10000);
    QTest::qWait(400);
    m_browser->navigate(url(u"/japanese"_s));
    QTRY_VERIFY_WITH_TIMEOUT(!m_browser->busy(), 10000);
    QCOMPARE(m_browser->bodyInnerText(), u"本日は晴天なり"_s);
    QCOMPARE(m_browser->locationUrl(), url(u"/japanese"_s));
    // Nothing of the earlier navigation arrives later.
    QTest::qWait(3500);
    QCOMPARE(m_browser->locationUrl(), url(u"/japanese"_s));
}

void TestWebEngineBrowser::expectNothingToRead()
{
    QCOMPARE(m_browser->bodyInnerText(), QString());
    QCOMPARE(m_browser->documentTitle(), QString());
    QCOMPARE(m_browser->locationUrl(), QString());
    QCOMPARE(m_browser->links(), std::nullopt);
    QCOMPARE(m_browser->linkCount(), std::nullopt);
}

void TestWebEngineBrowser::loadResult_kinds_data()
{
    QTcpServer closed;
    QVERIFY(closed.listen(QHostAddress::LocalHost));
    const quint16 refusedPort = closed.serverPort();
    closed.close();
    using F = LoadResult::Failure;
    QTest::addColumn<QString>("address");
    QTest::addColumn<int>("failure");
    QTest::addColumn<int>("httpStatus");
    QTest::addColumn<QString>("text");
    QTest::newRow("page") << url(u"/japanese"_s) << int(F::None) << 200 << u"本日は晴天なり"_s;
    // An error status still brings the server's page, which is read like any other.
    QTest::newRow("404") << url(u"/status?code=404"_s) << int(F::None) << 404 << u"status 404 text"_s;
    QTest::newRow("500") << url(u"/status?code=500"_s) << int(F::None) << 500 << u"status 500 text"_s;
    QTest::newRow("503") << url(u"/status?code=503"_s) << int(F::None) << 503 << u"status 503 text"_s;
    QTest::newRow("refused port") << u"http://127.0.0.1:%1/nothing-here"_s.arg(refusedPort) << int(F::ConnectionFailed)
                                  << 0 << QString();
    QTest::newRow("no such name") << u"http://nosuchhost.invalid/"_s << int(F::NameNotResolved) << 0 << QString();
    QTest::newRow("no content") << url(u"/nocontent"_s) << int(F::NoDocument) << 0 << QString();
    QTest::newRow("attachment") << url(u"/attachment"_s) << int(F::NoDocument) << 0 << QString();
    QTest::newRow("zip") << url(u"/archive.zip"_s) << int(F::NoDocument) << 0 << QString();
    QTest::newRow("unsafe port") << u"http://127.0.0.1:1/"_s << int(F::Refused) << 0 << QString();
}

void TestWebEngineBrowser::loadResult_kinds()
{
    QFETCH(QString, address);
    QFETCH(int, failure);
    QFETCH(int, httpStatus);
    QFETCH(QString, text);
    LOAD(url(u"/dir/links"_s), 10000);
    QCOMPARE(m_browser->loadResult().failure, LoadResult::Failure::None);
    LOAD(address, 10000);
    const LoadResult result = m_browser->loadResult();
    QCOMPARE(int(result.failure), failure);
    QCOMPARE(result.httpStatus, httpStatus);
    if (result.documentArrived()) {
        QVERIFY(result.complete);
        QCOMPARE(m_browser->bodyInnerText(), text);
        QCOMPARE(m_browser->locationUrl(), address);
    } else {
        QVERIFY(result.engineCode != 0 || result.failure == LoadResult::Failure::Refused);
        expectNothingToRead();
    }
}

void TestWebEngineBrowser::waitGivenUp_beforeAnythingArrived_timedOut()
{
    LOAD(url(u"/japanese"_s), 10000);
    m_browser->navigate(url(u"/silent"_s));
    QTest::qWait(1500);
    QVERIFY(m_browser->busy());
    m_browser->quit();
    const LoadResult result = m_browser->loadResult();
    QCOMPARE(result.failure, LoadResult::Failure::TimedOut);
    QVERIFY(!result.complete);
    expectNothingToRead();
}

void TestWebEngineBrowser::rendererEnded_duringLoad_nothingToRead()
{
    LOAD(url(u"/japanese"_s), 10000);
    m_browser->navigate(url(u"/never"_s));
    QTRY_VERIFY_WITH_TIMEOUT(m_browser->bodyInnerText() == u"partial text"_s, 10000);
    const qint64 pid = m_browser->page()->renderProcessPid();
    QVERIFY(pid > 0);
    QVERIFY(QProcess::execute(u"kill"_s, {u"-KILL"_s, QString::number(pid)}) == 0);
    QTRY_VERIFY_WITH_TIMEOUT(!m_browser->busy(), 10000);
    QCOMPARE(m_browser->loadResult().failure, LoadResult::Failure::RendererEnded);
    expectNothingToRead();
    // The next page gets a renderer of its own.
    LOAD(url(u"/japanese"_s), 10000);
    QCOMPARE(m_browser->loadResult().failure, LoadResult::Failure::None);
    QCOMPARE(m_browser->bodyInnerText(), u"本日は晴天なり"_s);
}

// The page on screen goes elsewhere by itself after the next navigation has failed: what it
// goes to was asked for by nobody and is never read.
void TestWebEngineBrowser::earlierPageNavigatingItself_afterFailure_neverRead()
{
    setGate(false);
    LOAD(url(u"/selfredirect"_s), 10000);
    LOAD(u"http://nosuchhost.invalid/"_s, 10000);
    QCOMPARE(m_browser->loadResult().failure, LoadResult::Failure::NameNotResolved);
    // Only now may the earlier page move on: a slow engine must not let it go before the failure.
    setGate(true);
    QTRY_VERIFY_WITH_TIMEOUT(m_browser->page()->url().path() == u"/slow"_s, 10000);
    QTest::qWait(500);
    expectNothingToRead();
}

// A form that asks before it is left, after the user typed in it: the question is answered
// "leave" and the next navigation goes ahead.
void TestWebEngineBrowser::leavePageQuestion_answeredLeave()
{
    LOAD(url(u"/leave"_s), 10000);
    QWidget *view = m_browser->widget();
    view->show();
    QVERIFY(QTest::qWaitForWindowExposed(view));
    // The engine asks only once the user has acted on the page. A view that has just been shown
    // may not take input yet, so the click is repeated until the page has seen one.
    bool active = false;
    for (int attempt = 0; attempt < 20 && !active; ++attempt) {
        QWidget *input = view->focusProxy() ? view->focusProxy() : view;
        QTest::mouseClick(input, Qt::LeftButton, Qt::NoModifier, QPoint(20, 10));
        QTest::keyClicks(input, u"typed"_s);
        bool answered = false;
        m_browser->page()->runJavaScript(u"navigator.userActivation.hasBeenActive"_s,
            QWebEngineScript::ApplicationWorld, [&active, &answered](const QVariant &v) {
                active = v.toBool();
                answered = true;
            });
        QTRY_VERIFY_WITH_TIMEOUT(answered, 5000);
        if (!active)
            QTest::qWait(200);
    }
    QVERIFY(active);

    LOAD(url(u"/japanese"_s), 10000);
    QCOMPARE(m_browser->loadResult().failure, LoadResult::Failure::None);
    QCOMPARE(m_browser->bodyInnerText(), u"本日は晴天なり"_s);
}

// A link into the page on screen moves the engine without a load; the wait ends as it arrives.
void TestWebEngineBrowser::sameDocument_waitEndsWhenThere()
{
    LOAD(url(u"/toc"_s), 10000);
    for (const QString &place : {u"#s7"_s, u"#s49"_s, u"#"_s, u"#s7"_s}) {
        QSignalSpy moved(m_browser->page(), &QWebEnginePage::urlChanged);
        m_browser->navigate(url(u"/toc"_s) + place);
        QVERIFY(m_browser->busy());
        QVERIFY(moved.wait(5000));
        QVERIFY2(!m_browser->busy(), qPrintable(place));
        QCOMPARE(m_browser->loadResult().failure, LoadResult::Failure::None);
        QCOMPARE(m_browser->locationUrl(), url(u"/toc"_s) + place);
        QVERIFY(m_browser->bodyInnerText().startsWith(u"節 0"_s));
    }
    // Already there: nothing moves, and the wait ends at once.
    m_browser->navigate(url(u"/toc#s7"_s));
    QVERIFY(!m_browser->busy());
    QCOMPARE(m_browser->loadResult().failure, LoadResult::Failure::None);
}

// A target typed without "http://" is loaded as a web address.
void TestWebEngineBrowser::schemelessTarget_loadedAsWebAddress()
{
    LOAD(u"127.0.0.1:%1/dir/links"_s.arg(m_port), 10000);
    QCOMPARE(m_browser->locationUrl(), url(u"/dir/links"_s));
    LOAD(u"localhost:%1/japanese"_s.arg(m_port), 10000);
    QCOMPARE(m_browser->bodyInnerText(), u"本日は晴天なり"_s);
}

void TestWebEngineBrowser::refusedAddress_readsNothing_data()
{
    QTest::addColumn<QString>("address");
    QTest::newRow("empty") << QString();
    QTest::newRow("broken host") << u"http://[::1"_s;
    QTest::newRow("bad port") << u"http://127.0.0.1:99999/"_s;
    QTest::newRow("words") << u"not an address at all"_s;
    QTest::newRow("one word") << u"justaword"_s;
    QTest::newRow("path") << u"/japanese"_s;
    QTest::newRow("unknown scheme") << u"nosuchscheme://x/y"_s;
    QTest::newRow("script") << u"javascript:document.title='x'"_s;
    QTest::newRow("data") << u"data:text/html,<p>hello</p>"_s;
}

void TestWebEngineBrowser::refusedAddress_readsNothing()
{
    QFETCH(QString, address);
    LOAD(url(u"/japanese"_s), 10000);
    const quint64 before = m_browser->navigationCount();
    m_browser->navigate(address);
    QVERIFY(!m_browser->busy());
    QCOMPARE(m_browser->navigationCount(), before + 1);
    QCOMPARE(m_browser->loadResult().failure, LoadResult::Failure::Refused);
    expectNothingToRead();
}

void TestWebEngineBrowser::dialogsAndWindows_suppressed()
{
    QElapsedTimer clock;
    clock.start();
    LOAD(url(u"/dialogs"_s), 10000);
    // Alerts return at once, confirm and prompt answer as if cancelled, no window opens.
    QCOMPARE(m_browser->bodyInnerText(), u"confirm=false prompt=null open=null"_s);
    QVERIFY(clock.elapsed() < 8000);
    for (QWidget *window : QApplication::topLevelWidgets())
        QVERIFY2(!qobject_cast<QDialog *>(window) || !window->isVisible(), qPrintable(window->objectName()));
    // The page goes on alerting on a timer; reads still answer.
    QCOMPARE(m_browser->documentTitle(), u"dialogs"_s);
}

void TestWebEngineBrowser::missingBody_readsEmpty_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("frameset") << u"/frameset"_s;
    QTest::newRow("svg document") << u"/svg"_s;
    QTest::newRow("body removed") << u"/bodyless"_s;
}

void TestWebEngineBrowser::missingBody_readsEmpty()
{
    QFETCH(QString, path);
    LOAD(url(path), 10000);
    QCOMPARE(m_browser->bodyInnerText(), QString());
    QCOMPARE(m_browser->linkCount(), std::optional<int>(0));
}

void TestWebEngineBrowser::passwordFieldShown_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("shown");
    QTest::newRow("login form") << u"/pw/visible"_s << true;
    QTest::newRow("no password field") << u"/pw/none"_s << false;
    QTest::newRow("display none") << u"/pw/hidden"_s << false;
    QTest::newRow("visibility hidden") << u"/pw/invisible"_s << false;
    QTest::newRow("open shadow root") << u"/pw/shadow"_s << true;
}

void TestWebEngineBrowser::passwordFieldShown()
{
    QFETCH(QString, path);
    QFETCH(bool, shown);
    LOAD(url(path), 10000);
    QCOMPARE(m_browser->passwordFieldShown(), std::optional<bool>(shown));
}

void TestWebEngineBrowser::profileFolder_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<bool>("persistent");
    QTest::newRow("missing: made for the user alone") << u"missing"_s << true;
    QTest::newRow("readable by others: closed") << u"0755"_s << true;
    QTest::newRow("others may write: off the record") << u"0777"_s << false;
    QTest::newRow("a file in its place") << u"file"_s << false;
    QTest::newRow("a link that leads nowhere") << u"dangling"_s << false;
    QTest::newRow("older generations removed") << u"generations"_s << true;
}

void TestWebEngineBrowser::profileFolder()
{
    QFETCH(QString, setup);
    QFETCH(bool, persistent);
    QTemporaryDir dir;
    const QString folder = dir.filePath(u"KVN.ini.browser"_s);
    if (setup == u"0755" || setup == u"0777" || setup == u"generations") {
        QVERIFY(QDir().mkdir(folder));
        QVERIFY(QFile::setPermissions(
            folder, setup == u"0777" ? QFileDevice::Permissions(0x7777) : QFileDevice::Permissions(0x7755)));
    }
    if (setup == u"generations") {
        QVERIFY(QDir().mkdir(folder + u"/1"_s));
        QVERIFY(QDir().mkdir(folder + u"/2"_s));
    }
    if (setup == u"file")
        QVERIFY(QFile(folder).open(QIODevice::WriteOnly));
    if (setup == u"dangling")
        QVERIFY(QFile::link(dir.filePath(u"nowhere"_s), folder));
    {
        BrowserProfile profile(folder);
        QCOMPARE(profile.persistent(), persistent);
        QCOMPARE(profile.trouble().isEmpty(), persistent);
        if (persistent) {
            QCOMPARE(int(QFile::permissions(folder) & 0x0077), 0);
            QCOMPARE(QDir(folder).entryList(QDir::Dirs | QDir::NoDotAndDotDot),
                QStringList {setup == u"generations" ? u"2"_s : u"1"_s});
        }
    }
    // The engine writes its last file a moment after the profile is gone.
    QTest::qWait(500);
}

void TestWebEngineBrowser::profile_clear_forgetsTheSession()
{
    QTemporaryDir dir;
    const QString folder = dir.filePath(u"KVN.ini.browser"_s);
    auto profile = std::make_unique<BrowserProfile>(folder);
    m_browser = std::make_unique<WebEngineBrowser>(profile.get());
    LOAD(url(u"/lines"_s), 10000);
    // A session cookie, as a site's login often sets.
    m_browser->page()->runJavaScript(u"document.cookie = 'session=abc; path=/'"_s);
    QTRY_COMPARE_WITH_TIMEOUT(pageCookie(), u"session=abc"_s, 5000);
    // That it outlives the program is the end-to-end login scenario's: the engine writes its
    // cookies to disk in its own time within one process.
    profile->clear();
    QCOMPARE(m_browser->loadResult().failure, LoadResult::Failure::NoDocument);
    LOAD(url(u"/lines"_s), 10000);
    QCOMPARE(pageCookie(), QString());
    QTRY_COMPARE_WITH_TIMEOUT(QDir(folder).entryList(QDir::Dirs | QDir::NoDotAndDotDot), QStringList {u"2"_s}, 8000);
    m_browser.reset();
    profile.reset();
    QTest::qWait(500);
}

void TestWebEngineBrowser::certificateError_refused()
{
    if (m_tlsPort == 0)
        QSKIP("openssl could not make a certificate");
    QSignalSpy certificateErrors(m_browser->page(), &QWebEnginePage::certificateError);
    LOAD(url(u"/japanese"_s), 10000);
    LOAD(u"https://127.0.0.1:%1/lines"_s.arg(m_tlsPort), 10000);
    QCOMPARE(certificateErrors.count(), 1);
    QCOMPARE(m_browser->loadResult().failure, LoadResult::Failure::Certificate);
    expectNothingToRead();
}

void TestWebEngineBrowser::stalledRenderer_readGivesUpInTime()
{
    LOAD(url(u"/japanese"_s), 10000);
    m_browser->setReadTimeout(1000);
    m_browser->page()->runJavaScript(u"var end = Date.now() + 4000; while (Date.now() < end) {}"_s);
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(m_browser->bodyInnerText(), QString());
    QCOMPARE(m_browser->linkCount(), std::nullopt);
    QVERIFY2(clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));
    // Once the page is free again, reads answer again.
    QTRY_COMPARE_WITH_TIMEOUT(m_browser->bodyInnerText(), u"本日は晴天なり"_s, 10000);
}

void TestWebEngineBrowser::destroyedDuringRead_returnsEmpty()
{
    LOAD(url(u"/japanese"_s), 10000);
    m_browser->page()->runJavaScript(u"var end = Date.now() + 1500; while (Date.now() < end) {}"_s);
    WebEngineBrowser *browser = m_browser.get();
    // A window message handled inside the read drops the browser, as closing the window would.
    QTimer::singleShot(200, this, [this] { m_browser.reset(); });
    QCOMPARE(browser->bodyInnerText(), QString());
    QVERIFY(!m_browser);
}

namespace {
// How the text of a page loaded with everything compares with its text only.
enum class WithPixels { Same, Differs, NotLoaded };
} // namespace
Q_DECLARE_METATYPE(WithPixels)

void TestWebEngineBrowser::textOnly_sameTextNothingPainted_data()
{
    QTest::addColumn<QString>("path");
    // A line the text must hold; none for a page without text.
    QTest::addColumn<QString>("line");
    QTest::addColumn<WithPixels>("withPixels");
    QTest::newRow("photographs") << u"/px/photos"_s << u"記事の行 299：大阪の天気は晴れ"_s << WithPixels::Same;
    QTest::newRow("nothing but images") << u"/px/onlyimages"_s << QString() << WithPixels::Same;
    // A picture never loaded never calls its onload: what that would write is left out.
    QTest::newRow("text written at an image's onload") << u"/px/onload"_s << u"画像の前の行"_s << WithPixels::Differs;
    // Sized pictures take their room unloaded: the text that comes at scrolling stays away.
    QTest::newRow("text that comes at scrolling") << u"/px/lazy"_s << u"最初から見える行"_s << WithPixels::Same;
    QTest::newRow("alt text is no text") << u"/px/alt"_s << u"後の行"_s << WithPixels::Same;
    // None is fetched, yet the engine makes a player for each: seconds even text only, and with
    // everything each is fetched too.
    QTest::newRow("2000 videos") << u"/px/videos"_s << u"動画の一覧"_s << WithPixels::NotLoaded;
    QTest::newRow("icon font") << u"/px/icons"_s << QString(QChar(0xe01d)) + u" 項目 29"_s << WithPixels::Same;
    QTest::newRow("plugin and embedded page") << u"/px/object"_s << u"本文の行"_s << WithPixels::Same;
    const QString row = u"ｶｳﾝﾀｰ案内\t駅前ｻｰﾋﾞｽｾﾝﾀｰ\t1,200円"_s;
    QTest::newRow("Japanese in UTF-8") << u"/ja/utf-8"_s << row << WithPixels::Same;
    QTest::newRow("Japanese in Shift_JIS") << u"/ja/shift_jis"_s << row << WithPixels::Same;
    QTest::newRow("Japanese in EUC-JP") << u"/ja/euc-jp"_s << row << WithPixels::Same;
}

void TestWebEngineBrowser::textOnly_sameTextNothingPainted()
{
    QFETCH(QString, path);
    QFETCH(QString, line);
    QFETCH(WithPixels, withPixels);
    // Text only first, so that no cache holds anything of the page yet.
    takeRequests();
    LOAD(url(path), 60000);
    const QString text = m_browser->bodyInnerText();
    const std::optional<qint64> bytes = m_browser->bytesReceived();
    for (const QString &request : takeRequests())
        QVERIFY2(!paintOnly(request), qPrintable(request));
    QCOMPARE(text.isEmpty(), line.isEmpty());
    QVERIFY2(line.isEmpty() || text.split(u"\r\n"_s).contains(line), qPrintable(text.left(300)));
    QVERIFY(bytes && *bytes > 0);
    if (withPixels == WithPixels::NotLoaded)
        return;

    m_browser->setTextOnly(false);
    LOAD(url(path), 20000);
    QCOMPARE(m_browser->bodyInnerText() == text, withPixels == WithPixels::Same);
    const std::optional<qint64> bytesWithPixels = m_browser->bytesReceived();
    const bool painted = std::ranges::any_of(takeRequests(), paintOnly);
    QVERIFY(bytesWithPixels);
    QVERIFY2(painted ? *bytes < *bytesWithPixels : *bytes <= *bytesWithPixels,
        qPrintable(u"%1 %2"_s.arg(*bytes).arg(*bytesWithPixels)));
}

// The login window shares the profile: its pages show pictures and fonts as any browser does.
void TestWebEngineBrowser::textOnly_otherPagesOfProfileKeepPictures()
{
    BrowserProfile profile;
    m_browser = std::make_unique<WebEngineBrowser>(&profile);
    LOAD(url(u"/ja/utf-8"_s), 20000);
    QVERIFY(!std::ranges::any_of(takeRequests(), paintOnly));
    {
        QWebEngineView view;
        auto *page = new QWebEnginePage(profile.profile(), &view);
        view.setPage(page);
        view.resize(800, 600);
        view.show();
        QSignalSpy loaded(page, &QWebEnginePage::loadFinished);
        page->load(QUrl(url(u"/ja/utf-8"_s)));
        QVERIFY(loaded.wait(20000));
        QStringList seen;
        const auto fetched = [&](const QString &path) {
            seen += takeRequests();
            return seen.contains(path);
        };
        QTRY_VERIFY_WITH_TIMEOUT(fetched(u"/px/img/logo.png"_s) && fetched(u"/px/font/mincho.woff2"_s), 10000);
    }
    m_browser.reset();
}

int main(int argc, char **argv)
{
    WebEngineBrowser::prepareEnvironment();
    QStandardPaths::setTestModeEnabled(true);
    QApplication app(argc, argv);
    TestWebEngineBrowser test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_webenginebrowser.moc"
