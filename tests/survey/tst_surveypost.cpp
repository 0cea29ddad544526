#include "patrol/WebEngineBrowser.h"
#include "platform/AppTitle.h"
#include "platform/ui/MessageBoxTesting.h"
#include "survey/OsVersion.h"
#include "survey/Survey.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QListWidget>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

class TestSurveyPost : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void survey_serverGetsExactBytesAndHeader();
    void silentServer_waitEndsAtItsLimit();
    void sentWhilePageLoads_postReplacesThePage();

private:
    QString url(const QString &path) const { return u"http://127.0.0.1:%1%2"_s.arg(m_port).arg(path); }
    QString recorded(const QString &name) const { return m_dir.filePath(name); }
    QJsonObject request() const
    {
        QFile meta(recorded(u"post.json"_s));
        if (!meta.open(QIODevice::ReadOnly))
            return {};
        return QJsonDocument::fromJson(meta.readAll()).object();
    }
    QByteArray receivedBody() const
    {
        QFile f(recorded(u"post.body"_s));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    QTemporaryDir m_dir;
    QProcess m_server;
    int m_port = 0;
    std::unique_ptr<WebEngineBrowser> m_browser;
};

void TestSurveyPost::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_server.start(u"/usr/bin/python3"_s,
        {QStringLiteral(KORVANI_SOURCE_DIR "/tests/survey/survey_server.py"), u"--record"_s, m_dir.path()});
    QVERIFY2(m_server.waitForStarted(10000), qPrintable(m_server.errorString()));
    QTRY_VERIFY_WITH_TIMEOUT(m_server.canReadLine(), 10000);
    m_port = m_server.readLine().trimmed().toInt();
    QVERIFY(m_port > 0);
}

void TestSurveyPost::cleanupTestCase()
{
    m_server.closeWriteChannel();
    if (!m_server.waitForFinished(3000)) {
        m_server.kill();
        m_server.waitForFinished(3000);
    }
}

void TestSurveyPost::init()
{
    QFile::remove(recorded(u"post.json"_s));
    QFile::remove(recorded(u"post.body"_s));
    Ui::testing::reset();
    m_browser = std::make_unique<WebEngineBrowser>();
    m_browser->widget()->resize(800, 600);
}

void TestSurveyPost::cleanup()
{
    m_browser.reset();
    Ui::testing::reset();
}

void TestSurveyPost::survey_serverGetsExactBytesAndHeader()
{
    QListWidget keyWords;
    QListWidget urls;
    for (int i = 0; i < 100; ++i) {
        keyWords.addItem(QString());
        urls.addItem(QString());
    }
    keyWords.item(2)->setText(u"ﾃｽﾄ a+b=c&d"_s);
    urls.item(0)->setText(u"http://127.0.0.1/q?a=1&b=%2B c+d"_s);
    urls.item(99)->setText(u"http://例え.jp/パス"_s);

    Ui::testing::queueAnswer(Ui::Answer::Ok);
    QVERIFY(Survey::SendSurvey(&keyWords, &urls, *m_browser, nullptr, url(u"/survey"_s)));
    QVERIFY(!m_browser->busy());

    const QByteArray expected = "VERSION=1.8.0&OS=" + Survey::osVersion().toLatin1()
        + "&KEY02=\x83\x65\x83\x58\x83\x67\x81\x40\x82\x81\x81\x7B\x82\x82\x81\x81\x82\x83\x81\x95\x82\x84"
          "&URL00=http://127.0.0.1/q?a%3D1%26b%3D%2B c%2Bd"
          "&URL99=http://\x97\xE1\x82\xA6.jp/\x83\x70\x83\x58";
    QCOMPARE(receivedBody(), expected);

    const QJsonObject req = request();
    QCOMPARE(req.value(u"method"_s).toString(), u"POST"_s);
    QCOMPARE(req.value(u"path"_s).toString(), u"/survey"_s);
    QStringList contentTypes;
    for (const QJsonValue &header : req.value(u"headers"_s).toArray()) {
        if (header.toArray().at(0).toString().compare(u"content-type"_s, Qt::CaseInsensitive) == 0)
            contentTypes.append(header.toArray().at(1).toString());
    }
    QCOMPARE(contentTypes, QStringList {u"application/x-www-form-urlencoded"_s});
    // The answer is shown in the browser itself.
    QCOMPARE(m_browser->bodyInnerText(), u"received %1 bytes"_s.arg(expected.size()));
}

void TestSurveyPost::silentServer_waitEndsAtItsLimit()
{
    QElapsedTimer clock;
    clock.start();
    Survey::PostForm(*m_browser, url(u"/silent"_s), {u"VERSION"_s}, {u"1.8.0"_s}, {.limit = 2s});
    const qint64 elapsed = clock.elapsed();
    QVERIFY2(elapsed >= 1900 && elapsed < 6000, qPrintable(QString::number(elapsed)));
    QVERIFY(m_browser->busy());
    QTRY_COMPARE_WITH_TIMEOUT(request().value(u"path"_s).toString(), u"/silent"_s, 5000);
    QCOMPARE(receivedBody(), QByteArray("VERSION=1.8.0"));
}

void TestSurveyPost::sentWhilePageLoads_postReplacesThePage()
{
    m_browser->navigate(url(u"/never"_s));
    QTRY_VERIFY_WITH_TIMEOUT(m_browser->bodyInnerText().contains(u"still loading"_s), 10000);
    QVERIFY(m_browser->busy());

    QElapsedTimer clock;
    clock.start();
    Survey::PostForm(*m_browser, url(u"/survey"_s), {u"A"_s}, {u"x=y"_s}, {.limit = 20s});
    QVERIFY2(clock.elapsed() < 15000, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(!m_browser->busy());
    QCOMPARE(receivedBody(), QByteArray("A=x%3Dy"));
    QCOMPARE(m_browser->bodyInnerText(), u"received 7 bytes"_s);
}

int main(int argc, char **argv)
{
    WebEngineBrowser::prepareEnvironment();
    QStandardPaths::setTestModeEnabled(true);
    QApplication app(argc, argv);
    TestSurveyPost test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_surveypost.moc"
