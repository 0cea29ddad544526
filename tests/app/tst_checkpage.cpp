// One page examined by the real window: Qt WebEngine loads a page from 127.0.0.1 and the hit
// mail goes to the real SMTP test server.
#include "../mail/MailDecode.h"
#include "app/ExtentListWidget.h"
#include "app/Form1.h"
#include "mail/Module1.h"
#include "mail/Module1Testing.h"
#include "patrol/HitRow.h"
#include "patrol/Patrol.h"
#include "patrol/Scheduler.h"
#include "patrol/WebEngineBrowser.h"
#include "platform/Width.h"
#include "platform/ui/MessageBox.h"
#include "settings/clINI.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QStringDecoder>
#include <QStringEncoder>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace Qt::StringLiterals;

class TestCheckPage : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void japanesePage_mailedOnceThenOnlyNewLines();
    void pageThatNeverEnds_givesUpAndExaminesPartialText();
    void linkOnlyCondition_leadsToLinkedPage();
    void slowMailServer_windowGoesOnAndTheHitArrives();
    void badTargetAfterLinkedPage_examinesAndFollowsNothing_data();
    void badTargetAfterLinkedPage_examinesAndFollowsNothing();
    void conditionPrompt_previewsTheServedPage_whileACheckRuns();
    void checkCommand_listsWhatAPatrolStepLists_data();
    void checkCommand_listsWhatAPatrolStepLists();

private:
    QList<maildecode::Parsed> mailsTo(const QString &address) const;
    void writePage(const QString &name, const QString &html);
    QStringList rows(QListWidget *l) const;

    QStringList requested() const;

    QTemporaryDir m_pages;
    QProcess m_server;
    int m_port = 0;
    int m_tlsPort = 0;
    QString m_run;
    int m_base = 0;
};

void TestCheckPage::initTestCase()
{
    m_run = qEnvironmentVariable("KORVANI_MAIL_RUN");
    m_base = qEnvironmentVariableIntValue("KORVANI_MAIL_PORT_BASE");
    QVERIFY2(!m_run.isEmpty() && m_base > 0, "run through ctest: the mail servers are a fixture");
    QStringList arguments {QStringLiteral(KORVANI_SOURCE_DIR "/tests/patrol/page_server.py"), u"--pages"_s,
        m_pages.path(), u"--log"_s, m_pages.filePath(u"requests.log"_s)};
    QProcess openssl;
    openssl.start(u"openssl"_s,
        {u"req"_s, u"-x509"_s, u"-newkey"_s, u"rsa:2048"_s, u"-nodes"_s, u"-days"_s, u"1"_s, u"-subj"_s,
            u"/CN=127.0.0.1"_s, u"-keyout"_s, m_pages.filePath(u"key.pem"_s), u"-out"_s,
            m_pages.filePath(u"cert.pem"_s)});
    QVERIFY(openssl.waitForFinished(30000) && openssl.exitCode() == 0);
    arguments << u"--cert"_s << m_pages.filePath(u"cert.pem"_s) << u"--key"_s << m_pages.filePath(u"key.pem"_s);
    m_server.start(u"/usr/bin/python3"_s, arguments);
    QVERIFY(m_server.waitForStarted(10000));
    QTRY_VERIFY_WITH_TIMEOUT(m_server.canReadLine(), 10000);
    const QList<QByteArray> ports = m_server.readLine().trimmed().split(' ');
    m_port = ports.value(0).toInt();
    m_tlsPort = ports.value(1).toInt();
    QVERIFY(m_port > 0 && m_tlsPort > 0);
}

void TestCheckPage::cleanupTestCase()
{
    m_server.closeWriteChannel();
    if (!m_server.waitForFinished(3000))
        m_server.kill();
    m_server.waitForFinished(3000);
}

QList<maildecode::Parsed> TestCheckPage::mailsTo(const QString &address) const
{
    QList<maildecode::Parsed> found;
    for (const QString &sub : {u"new"_s, u"cur"_s}) {
        QDir dir(m_run + u"/Maildir/"_s + sub);
        for (const QString &name : dir.entryList(QDir::Files, QDir::Name)) {
            QFile f(dir.filePath(name));
            if (!f.open(QIODevice::ReadOnly))
                continue;
            const QByteArray head = f.readLine() + f.readLine();
            if (head.contains(address.toUtf8()))
                found.append(maildecode::parse(f.readAll()));
        }
    }
    return found;
}

QStringList TestCheckPage::requested() const
{
    QFile f(m_pages.filePath(u"requests.log"_s));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(f.readAll()).split(u'\n', Qt::SkipEmptyParts);
}

void TestCheckPage::writePage(const QString &name, const QString &html)
{
    QFile f(m_pages.filePath(name));
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(html.toUtf8());
}

QStringList TestCheckPage::rows(QListWidget *l) const
{
    QStringList r;
    for (int i = 0; i < l->count(); ++i)
        r << l->item(i)->text();
    return r;
}

void TestCheckPage::japanesePage_mailedOnceThenOnlyNewLines()
{
    QTemporaryDir folder;
    const QString to = u"checkpage-%1@example.test"_s.arg(QCoreApplication::applicationPid());
    {
        clINI ini(folder.path());
        ini.SaveSetting(u"MAIL"_s, u"SMTP_SERVER"_s, u"127.0.0.1:%1"_s.arg(m_base + 25));
        ini.SaveSetting(u"MAIL"_s, u"FROM"_s, u"korvani@example.test"_s);
        ini.SaveSetting(u"MAIL"_s, u"TO"_s, to);
        ini.SaveSetting(u"MAIL"_s, u"TOPLINE"_s, u"2"_s);
        ini.SaveSetting(u"MAIL"_s, u"ENDLINE"_s, u"1"_s);
        ini.SaveSetting(u"MAIL"_s, u"TIMERTIME"_s, u"3600"_s);
        ini.SaveSetting(u"KEYWORD"_s, u"KEY0"_s, u"大阪 -東京"_s);
        ini.SaveSetting(u"KEYWORD"_s, u"KEY1"_s, u"兵庫|奈良"_s);
        ini.SaveSetting(u"KEYWORD"_s, u"KEY2"_s, u"@ 求人"_s);
        QVERIFY(ini.commit());
    }
    Module1::testing::setSettingsFolder(folder.path());
    const QString head = u"<html><head><meta charset='utf-8'><title>求人情報　関西</title></head><body>"_s;
    writePage(u"jobs.html"_s,
        head
            + u"<div>大阪府の求人　ＡＢＣ商事</div><div>大阪と東京の求人</div><div>　</div>"
              "<div>兵庫県の求人</div><div>京都府の求人</div><div>おわり</div></body></html>"_s);
    const QString url = u"http://127.0.0.1:%1/files/jobs.html"_s.arg(m_port);

    Form1 w;
    w.setSettingsFolder(folder.path());
    w.Form_Load();
    w.Timer1->stop();
    w.patrol()->CheckPage(url);

    QCOMPARE(rows(w.List1),
        (QStringList {u"●000:大阪府の求人 ABC商事"_s, u"\u3000001:大阪と東京の求人"_s, u"●003:兵庫県の求人"_s,
            u"\u3000004:京都府の求人"_s}));
    QCOMPARE(w.LaStatus->text(), u"巡回完了"_s);
    QCOMPARE(w.windowTitle(), u"Korvani  1.8.0 [求人情報　関西]"_s);
    QList<maildecode::Parsed> mails = mailsTo(to);
    QCOMPARE(mails.size(), 1);
    QCOMPARE(maildecode::decodeWords(mails[0].header("Subject")), u"求人情報　関西"_s);
    const QString firstBody = url + u"\r\n大阪府の求人 ABC商事\r\n兵庫県の求人\r\n--\r\n求人情報　関西"_s;
    QCOMPARE(maildecode::decodeBody(mails[0].body), firstBody);
    QCOMPARE(w.Text1->toPlainText(), QString(firstBody).replace(u"\r\n"_s, u"\n"_s));

    // The same page again: nothing new, nothing mailed.
    w.patrol()->CheckPage(url);
    QCOMPARE(mailsTo(to).size(), 1);
    QCOMPARE(w.List1->item(0)->text(), u"\u3000000:大阪府の求人 ABC商事"_s);

    // A new line appears: only it is mailed.
    writePage(u"jobs.html"_s,
        head + u"<div>奈良県の求人</div><div>大阪府の求人　ＡＢＣ商事</div><div>おわり</div></body></html>"_s);
    w.patrol()->CheckPage(url);
    mails = mailsTo(to);
    QCOMPARE(mails.size(), 2);
    const QString second = maildecode::decodeBody(mails[0].body) == firstBody ? maildecode::decodeBody(mails[1].body)
                                                                              : maildecode::decodeBody(mails[0].body);
    QCOMPARE(second, url + u"\r\n奈良県の求人\r\n--\r\n求人情報　関西"_s);
    QCOMPARE(rows(w.List3).mid(0, 3), (QStringList {u"奈良県の求人"_s, u"兵庫県の求人"_s, u"大阪府の求人 ABC商事"_s}));
    w.Form_Unload();
    Module1::testing::reset();
}

void TestCheckPage::pageThatNeverEnds_givesUpAndExaminesPartialText()
{
    QTemporaryDir folder;
    Module1::testing::setSettingsFolder(folder.path());
    Form1 w;
    w.setSettingsFolder(folder.path());
    w.Form_Load();
    w.Timer1->stop();
    w.ListKeyWord->item(0)->setText(u"partial"_s);
    QElapsedTimer t;
    t.start();
    w.patrol()->CheckPage(u"http://127.0.0.1:%1/never?lines"_s.arg(m_port));
    const qint64 ms = t.elapsed();
    QVERIFY2(ms >= 15000 && ms < 19000, qPrintable(QString::number(ms)));
    // No mail server is set: the status says where the hit stays.
    QCOMPARE(w.LaStatus->text(), Patrol::noMailServerText());
    QCOMPARE(rows(w.List1), QStringList {u"●000:partial text"_s});
    // No mail server is set: the hit is recorded all the same.
    QCOMPARE(rows(w.List3), QStringList {u"partial text"_s});
    w.Form_Unload();
    Module1::testing::reset();
}

void TestCheckPage::linkOnlyCondition_leadsToLinkedPage()
{
    QTemporaryDir folder;
    const QString to = u"links-%1@example.test"_s.arg(QCoreApplication::applicationPid());
    {
        clINI ini(folder.path());
        ini.SaveSetting(u"MAIL"_s, u"SMTP_SERVER"_s, u"127.0.0.1:%1"_s.arg(m_base + 25));
        ini.SaveSetting(u"MAIL"_s, u"FROM"_s, u"korvani@example.test"_s);
        ini.SaveSetting(u"MAIL"_s, u"TO"_s, to);
        ini.SaveSetting(u"MAIL"_s, u"SUBJECT"_s, u"1"_s);
        ini.SaveSetting(u"MAIL"_s, u"TIMERTIME"_s, u"3600"_s);
        ini.SaveSetting(u"KEYWORD"_s, u"KEY0"_s, u"@ 詳細"_s);
        ini.SaveSetting(u"KEYWORD"_s, u"KEY1"_s, u"大阪"_s);
        ini.SaveSetting(u"URL"_s, u"URL0"_s, u"http://127.0.0.1:%1/files/top.html"_s.arg(m_port));
        QVERIFY(ini.commit());
    }
    Module1::testing::setSettingsFolder(folder.path());
    writePage(u"top.html"_s,
        u"<html><head><meta charset='utf-8'><title>top</title></head><body>"
        "<div>トップ</div><div><a href='detail.html'>詳細はこちら</a></div>"
        "<div><a href='mailto:someone@example.test'>メールで詳細</a></div><div>おわり</div></body></html>"_s);
    writePage(u"detail.html"_s,
        u"<html><head><meta charset='utf-8'><title>detail</title></head><body>"
        "<div>詳細 大阪の情報</div><div>詳細だけ</div><div><a href='deeper.html'>大阪の詳細</a></div>"
        "<div>おわり</div></body></html>"_s);
    writePage(u"deeper.html"_s,
        u"<html><head><meta charset='utf-8'><title>deeper</title></head><body>"
        "<div>大阪の奥のページ</div><div>おわり</div></body></html>"_s);

    Form1 w;
    w.setSettingsFolder(folder.path());
    w.Form_Load();
    w.Timer1->stop();
    w.scheduler()->cmdRun_Click();
    QCOMPARE(w.ListURL->currentRow(), 0);
    QVERIFY(w.cmdRun->isEnabled());
    // One level deep: the deeper page is never loaded, so only the linked page's hit arrives.
    const QList<maildecode::Parsed> mails = mailsTo(to);
    QCOMPARE(mails.size(), 1);
    QCOMPARE(maildecode::decodeWords(mails[0].header("Subject")), u"[KVS]"_s);
    QCOMPARE(maildecode::decodeBody(mails[0].body), u"詳細 大阪の情報\r\n大阪の詳細\r\n"_s);
    QCOMPARE(rows(w.List3), (QStringList {u"大阪の詳細"_s, u"詳細 大阪の情報"_s}));
    w.Form_Unload();
    Module1::testing::reset();
}

// A mail server that takes most of a second over every reply: the window's one-second timer goes
// on ticking while the mail is on its way, and the hit arrives once the server has answered.
void TestCheckPage::slowMailServer_windowGoesOnAndTheHitArrives()
{
    QTemporaryDir folder;
    const QString maildir = folder.filePath(u"slow-mail"_s);
    QProcess server;
    server.start(u"/usr/bin/python3"_s,
        {QStringLiteral(KORVANI_SOURCE_DIR "/tests/mail/servers/slow_server.py"), u"--delay"_s, u"0.7"_s,
            u"--maildir"_s, maildir});
    QVERIFY(server.waitForStarted(10000));
    QTRY_VERIFY_WITH_TIMEOUT(server.canReadLine(), 10000);
    const int port = server.readLine().trimmed().toInt();
    QVERIFY(port > 0);
    {
        clINI ini(folder.path());
        ini.SaveSetting(u"MAIL"_s, u"SMTP_SERVER"_s, u"127.0.0.1:%1"_s.arg(port));
        ini.SaveSetting(u"MAIL"_s, u"FROM"_s, u"korvani@example.test"_s);
        ini.SaveSetting(u"MAIL"_s, u"TO"_s, u"slow@example.test"_s);
        ini.SaveSetting(u"MAIL"_s, u"TIMERTIME"_s, u"3600"_s);
        ini.SaveSetting(u"KEYWORD"_s, u"KEY0"_s, u"遅い"_s);
        QVERIFY(ini.commit());
    }
    Module1::testing::setSettingsFolder(folder.path());
    writePage(u"slow.html"_s,
        u"<html><head><meta charset='utf-8'><title>slow</title></head><body><div>遅い便り</div><div>end</div>"
        "</body></html>"_s);
    Form1 w;
    w.setSettingsFolder(folder.path());
    w.Form_Load();
    int ticks = 0;
    connect(w.Timer1, &QTimer::timeout, this, [&ticks] { ++ticks; });
    w.patrol()->CheckPage(u"http://127.0.0.1:%1/files/slow.html"_s.arg(m_port));
    // Seven replies of 0.7 s: the countdown went on meanwhile.
    QVERIFY2(ticks >= 3, qPrintable(QString::number(ticks)));
    QVERIFY(w.LaCountDown->text().toInt() <= 3600 - 3);
    QCOMPARE(rows(w.List3), QStringList {u"遅い便り"_s});
    const QStringList stored = QDir(maildir + u"/new"_s).entryList(QDir::Files);
    QCOMPARE(stored.size(), 1);
    w.Form_Unload();
    Module1::testing::reset();
    server.closeWriteChannel();
    QVERIFY(server.waitForFinished(5000));
}

void TestCheckPage::badTargetAfterLinkedPage_examinesAndFollowsNothing_data()
{
    QTcpServer closed;
    QVERIFY(closed.listen(QHostAddress::LocalHost));
    const quint16 refusedPort = closed.serverPort();
    closed.close();
    QTest::addColumn<QString>("target");
    QTest::addColumn<bool>("killRenderer");
    QTest::addColumn<QString>("outcome");
    const QString local = u"http://127.0.0.1:%1"_s.arg(m_port);
    const QString noPage = u"ページが届きません（ダウンロードまたは空の応答）"_s;
    QTest::newRow("refused port") << u"http://127.0.0.1:%1/"_s.arg(refusedPort) << false << u"接続できません"_s;
    QTest::newRow("unsigned certificate")
        << u"https://127.0.0.1:%1/files/top.html"_s.arg(m_tlsPort) << false << u"TLS証明書が拒否されました"_s;
    QTest::newRow("name under .invalid") << u"http://korvani-test.invalid/"_s << false
                                         << u"サーバー名が見つかりません"_s;
    QTest::newRow("204") << local + u"/nocontent"_s << false << noPage;
    QTest::newRow("attachment") << local + u"/attachment"_s << false << noPage;
    QTest::newRow("zip") << local + u"/archive.zip"_s << false << noPage;
    QTest::newRow("refused address") << u"no address"_s << false << u"読み込めないアドレスです"_s;
    QTest::newRow("renderer ended") << local + u"/silent"_s << true << u"ページの表示処理が終了しました"_s;
    QTest::newRow("never answers") << local + u"/silent"_s << false << u"応答がありません"_s;
}

// The browser shows a linked page when the next target fails: that page is neither examined
// again under the target's address nor followed further, a second level the user never asked for.
void TestCheckPage::badTargetAfterLinkedPage_examinesAndFollowsNothing()
{
    QFETCH(QString, target);
    QFETCH(bool, killRenderer);
    QFETCH(QString, outcome);
    QTemporaryDir folder;
    {
        clINI ini(folder.path());
        ini.SaveSetting(u"MAIL"_s, u"TIMERTIME"_s, u"3600"_s);
        ini.SaveSetting(u"KEYWORD"_s, u"KEY0"_s, u"@ 記事"_s);
        ini.SaveSetting(u"KEYWORD"_s, u"KEY1"_s, u"深い"_s);
        ini.SaveSetting(u"URL"_s, u"URL0"_s, u"http://127.0.0.1:%1/files/top.html"_s.arg(m_port));
        ini.SaveSetting(u"URL"_s, u"URL1"_s, target);
        QVERIFY(ini.commit());
    }
    Module1::testing::setSettingsFolder(folder.path());
    const QString head = u"<html><head><meta charset='utf-8'><title>%1</title></head><body>"_s;
    writePage(u"top.html"_s, head.arg(u"top"_s) + u"<div><a href='art.html'>記事</a></div><div>end</div>"_s);
    writePage(u"art.html"_s,
        head.arg(u"art"_s) + u"<div>記事の本文</div><div><a href='deep.html'>深い話</a></div><div>end</div>"_s);
    writePage(u"deep.html"_s, head.arg(u"deep"_s) + u"<div>深い行</div><div>end</div>"_s);

    Form1 w;
    w.setSettingsFolder(folder.path());
    w.Form_Load();
    w.Timer1->stop();
    w.scheduler()->cmdRun_Click();
    QCOMPARE(w.windowTitle(), u"Korvani  1.8.0 [art]"_s);
    // The first hit without a mail server was on the linked page: the step ends saying so.
    QCOMPARE(w.LaStatus->text(), Patrol::noMailServerText());
    const QStringList history = rows(w.List3);
    QCOMPARE(history, QStringList {u"深い話"_s});

    if (killRenderer) {
        auto *browser = dynamic_cast<WebEngineBrowser *>(w.WebBrowser1);
        QVERIFY(browser);
        const qint64 pid = browser->page()->renderProcessPid();
        QTimer::singleShot(1000, &w, [pid] { QProcess::execute(u"kill"_s, {u"-KILL"_s, QString::number(pid)}); });
    }
    w.scheduler()->cmdRun_Click();
    QCOMPARE(w.ListURL->currentRow(), 1);
    QVERIFY(rows(w.List1).isEmpty());
    QCOMPARE(rows(w.List3), history);
    QCOMPARE(w.windowTitle(), u"Korvani  1.8.0 ["_s + target + u"]"_s);
    QCOMPARE(w.LaStatus->text(), u"巡回完了"_s);
    QVERIFY(!requested().contains(u"/files/deep.html"_s));
    // The target's row says why, and that it is its first failure.
    QVERIFY2(w.ListURL->item(1)->toolTip().endsWith(u' ' + outcome + u"（1回目）"_s),
        qPrintable(w.ListURL->item(1)->toolTip()));
    QVERIFY(w.ListURL->item(0)->toolTip().startsWith(u"最終巡回 "_s));
    w.Form_Unload();
    Module1::testing::reset();
}

// The condition prompt counts the lines of the page on screen and tells a pattern's fault, while
// a page check that a tick started runs beneath it, undisturbed.
void TestCheckPage::conditionPrompt_previewsTheServedPage_whileACheckRuns()
{
    QTemporaryDir folder;
    Module1::testing::setSettingsFolder(folder.path());
    writePage(u"news.html"_s,
        u"<html><head><meta charset='utf-8'><title>news</title></head><body><div>大阪の求人</div>"
        "<div>ニュース一覧</div><div>大阪のニュース</div><div>東京の天気</div><div>おわり</div></body></html>"_s);
    const QString url = u"http://127.0.0.1:%1/files/news.html"_s.arg(m_port);
    Form1 w;
    w.setSettingsFolder(folder.path());
    w.Form_Load();
    w.Timer1->stop();
    w.ListKeyWord->item(0)->setText(u"大阪"_s);

    bool checking = false;
    bool typedWhileChecking = false;
    QStringList lines;
    QTimer::singleShot(50, this, [&] {
        QWidget *dlg = QApplication::activeModalWidget();
        QVERIFY(dlg);
        auto *line = dlg->findChild<QLabel *>(u"preview"_s);
        auto *field = dlg->findChild<QLineEdit *>();
        QVERIFY(line && field);
        lines << line->text();
        // Typed at the check's first pause, while it waits for the page.
        QTimer::singleShot(0, this, [&] {
            typedWhileChecking = checking;
            field->insert(u"ニュース"_s);
        });
        checking = true;
        w.patrol()->CheckPage(url);
        checking = false;
        QTRY_VERIFY(line->text().startsWith(u"抜き出されたテキスト 4 行"_s));
        lines << line->text();
        field->setText(u"(大阪"_s);
        QTRY_VERIFY(line->text().startsWith(u"正規表現"_s));
        lines << line->text();
        field->setText(u"@ 大阪"_s);
        QTRY_VERIFY(line->text().startsWith(u"リンク専用"_s));
        lines << line->text();
        dlg->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok)->click();
    });
    Q_EMIT w.ListKeyWord->itemDoubleClicked(w.ListKeyWord->item(3));

    QVERIFY(typedWhileChecking);
    QCOMPARE(lines,
        (QStringList {u"空のまま OK を押すと、この行の検索単語はなくなります"_s,
            u"抜き出されたテキスト 4 行のうち 2 行にヒットします\nページの文字は半角に変換されます：ニュース → ﾆｭｰｽ"_s,
            u"正規表現として使えません（末尾）：「(」を閉じる「)」がありません"_s,
            u"リンク専用の条件です（メールは送りません）。リンクの文字として調べると、抜き出されたテキスト 4 行のうち 2 行にヒットします"_s}));
    QCOMPARE(w.ListKeyWord->item(3)->text(), u"@ 大阪"_s);
    // The check went its way: its lines listed, its hits recorded.
    QCOMPARE(rows(w.List1),
        (QStringList {u"●000:大阪の求人"_s, u"\u3000001:ﾆｭｰｽ一覧"_s, u"●002:大阪のﾆｭｰｽ"_s, u"\u3000003:東京の天気"_s}));
    QCOMPARE(rows(w.List3), (QStringList {u"大阪のﾆｭｰｽ"_s, u"大阪の求人"_s}));
    w.Form_Unload();
    Module1::testing::reset();
}

namespace {

struct Run
{
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

// Runs the program with arguments given as bytes, so that they can be in any encoding.
Run runProgram(const QString &program, const QList<QByteArray> &arguments, const QProcessEnvironment &env)
{
    QStringList hex {u"-c"_s, u"import os, sys; a = [bytes.fromhex(x) for x in sys.argv[1:]]; os.execv(a[0], a)"_s,
        QString::fromLatin1(program.toUtf8().toHex())};
    for (const QByteArray &a : arguments)
        hex << QString::fromLatin1(a.toHex());
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(u"/usr/bin/python3"_s, hex);
    Run r;
    if (!p.waitForFinished(60000)) {
        p.kill();
        p.waitForFinished();
        return r;
    }
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

// Every file under a folder with its size and time, to see that nothing was written there.
QStringList filesUnder(const QString &folder)
{
    QStringList found;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        found << it.filePath() + u' ' + QString::number(it.fileInfo().size()) + u' '
                + QString::number(it.fileInfo().lastModified().toMSecsSinceEpoch());
    }
    found.sort();
    return found;
}

} // namespace

void TestCheckPage::checkCommand_listsWhatAPatrolStepLists_data()
{
    QTcpServer closed;
    QVERIFY(closed.listen(QHostAddress::LocalHost));
    const quint16 refusedPort = closed.serverPort();
    closed.close();
    QTest::addColumn<QString>("address"); // "page", "file" or one taken as it stands
    QTest::addColumn<QStringList>("conditions"); // none: the saved ones
    QTest::addColumn<bool>("eucJp");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("error"); // on standard error
    const QStringList typed {u"大阪 -東京"_s, u"兵庫|ニュース"_s, u"(大阪"_s};
    QTest::newRow("hits, conditions in the locale's EUC-JP")
        << u"page"_s << typed << true << 0
        << u"korvani: 3番目「(大阪」 正規表現として使えません（末尾）：「(」を閉じる「)」がありません"_s;
    QTest::newRow("no line hits") << u"page"_s << QStringList {u"京都"_s} << false << 1 << QString();
    QTest::newRow("a file page and the saved conditions") << u"file"_s << QStringList() << false << 0 << QString();
    QTest::newRow("not loaded") << u"http://127.0.0.1:%1/"_s.arg(refusedPort) << typed << false << 2
                                << u"http://127.0.0.1:%1/ 接続できません"_s.arg(refusedPort);
    QTest::newRow("no address") << QString() << QStringList() << false << 2
                                << u"korvani: --check にはページのアドレスが必要です"_s;
}

// korvani --check against the real engine: its lines are the rows a patrol step lists for the
// same page with the same conditions, each hit followed by the conditions that hit it, and it
// writes nothing, neither beside the program nor in the user's folders.
void TestCheckPage::checkCommand_listsWhatAPatrolStepLists()
{
    QFETCH(QString, address);
    QFETCH(QStringList, conditions);
    QFETCH(bool, eucJp);
    QFETCH(int, exitCode);
    QFETCH(QString, error);
    QVERIFY2(!qEnvironmentVariable("KORVANI_EXE").isEmpty(), "run through ctest: the program is named there");
    writePage(u"check.html"_s,
        u"<html><head><meta charset='utf-8'><title>check</title></head><body><div>大阪府の求人　ＡＢＣ商事</div>"
        "<div>大阪と東京の求人</div><div>　</div><div>兵庫県の求人</div><div>ニュース一覧</div><div>おわり</div>"
        "</body></html>"_s);
    if (address == u"page")
        address = u"http://127.0.0.1:%1/files/check.html"_s.arg(m_port);
    else if (address == u"file")
        address = QUrl::fromLocalFile(m_pages.filePath(u"check.html"_s)).toString();

    // The program in a folder of its own, with saved conditions; a home of its own.
    QTemporaryDir program, home, locales;
    QVERIFY(QFile::copy(qEnvironmentVariable("KORVANI_EXE"), program.filePath(u"korvani"_s)));
    const QStringList saved {u"ﾆｭｰｽ"_s, u"@ 求人"_s, u"-大阪 -兵庫"_s};
    {
        clINI ini(program.path());
        for (int i = 0; i < saved.size(); ++i)
            ini.SaveSetting(u"KEYWORD"_s, u"KEY%1"_s.arg(i), saved[i]);
        QVERIFY(ini.commit());
    }
    const QStringList before = filesUnder(program.path()) + filesUnder(home.path());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"HOME"_s, home.path());
    env.remove(u"XDG_CONFIG_HOME"_s);
    env.insert(u"LANG"_s, u"C.UTF-8"_s);
    QStringDecoder decode(QStringDecoder::Utf8);
    QStringEncoder encode(QStringEncoder::Utf8);
    if (eucJp) {
        // A locale of its own making, so that the system need not have it.
        QProcess localedef;
        localedef.start(
            u"localedef"_s, {u"-i"_s, u"ja_JP"_s, u"-f"_s, u"EUC-JP"_s, locales.filePath(u"ja_JP.eucJP"_s)});
        QVERIFY(localedef.waitForFinished(30000) && localedef.exitCode() == 0);
        env.insert(u"LOCPATH"_s, locales.path());
        env.insert(u"LC_ALL"_s, u"ja_JP.eucJP"_s);
        decode = QStringDecoder("EUC-JP");
        encode = QStringEncoder("EUC-JP");
    }
    QList<QByteArray> arguments {"--check"};
    if (!address.isEmpty())
        arguments << encode.encode(address);
    for (const QString &c : std::as_const(conditions))
        arguments << encode.encode(c);
    const Run run = runProgram(program.filePath(u"korvani"_s), arguments, env);
    const QString out = decode.decode(run.out);
    const QString err = decode.decode(run.err);
    QVERIFY2(run.exitCode == exitCode, qPrintable(u"exit %1\n"_s.arg(run.exitCode) + err));
    QVERIFY2(err.contains(error), qPrintable(err));
    QCOMPARE(filesUnder(program.path()) + filesUnder(home.path()), before);
    if (exitCode == 2)
        return;

    // The same page examined by a patrol step, with the same conditions stored as the editor stores them.
    QTemporaryDir folder;
    Module1::testing::setSettingsFolder(folder.path());
    Form1 w;
    w.setSettingsFolder(conditions.isEmpty() ? program.path() : folder.path());
    w.Form_Load();
    w.Timer1->stop();
    for (int i = 0; i < conditions.size(); ++i)
        w.ListKeyWord->item(i)->setText(width::narrow(conditions[i]));
    w.patrol()->CheckPage(address);
    QStringList expected;
    for (int i = 0; i < w.List1->count(); ++i) {
        expected << w.List1->item(i)->text();
        const QString why = HitRow::explanation(w.List1->item(i));
        if (!why.isEmpty())
            expected << u"    "_s + why.section(u'\n', 0, 0);
    }
    QVERIFY(w.List1->count() == 4);
    QCOMPARE(out.split(u'\n', Qt::SkipEmptyParts), expected);
    w.Form_Unload();
    Module1::testing::reset();
}

QTEST_MAIN(TestCheckPage)
#include "tst_checkpage.moc"
