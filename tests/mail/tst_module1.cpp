#include "mail/MailClient.h"
#include "mail/Module1.h"
#include "mail/Module1Testing.h"
#include "settings/SettingKeys.h"
#include "settings/clINI.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <thread>

using namespace Qt::Literals::StringLiterals;

namespace {

struct SendCall
{
    int count = 0;
    QStringList args;
};

} // namespace

class TestModule1 : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void smtpSend_recipients_data();
    void smtpSend_recipients();
    void smtpSend_answerUnchanged_data();
    void smtpSend_answerUnchanged();
    void smtpSend_readsSettingsAtEveryCall();
    void smtpSend_withoutServer_failsThroughClient();
    void popLogin_result_data();
    void popLogin_result();
    void popLogin_passesAccountAndFolder();
    void transfer_onWorker_windowMessagesRun();
    void goOnFalse_endsTheWaitAtOnce();
    void cancelAll_endsWaitsAndLaterCalls();

private:
    void save(const SettingKey &key, const QString &value);
    void hookSend(const QString &answer);

    QTemporaryDir m_dir;
    SendCall m_send;
};

void TestModule1::init()
{
    QVERIFY(m_dir.isValid());
    QFile::remove(m_dir.filePath(u"KVN.ini"_s));
    Module1::testing::setSettingsFolder(m_dir.path());
    m_send = {};
}

void TestModule1::cleanup()
{
    Module1::testing::reset();
}

void TestModule1::save(const SettingKey &key, const QString &value)
{
    clINI ini(m_dir.path());
    ini.SaveSetting(key, value);
    QVERIFY(ini.commit());
}

void TestModule1::hookSend(const QString &answer)
{
    Module1::testing::setSendMail(
        [this, answer](const QString &server, const QString &recipients, const QString &sender, const QString &subject,
            const QString &body, const QString &reserved) {
            ++m_send.count;
            m_send.args = {server, recipients, sender, subject, body, reserved};
            return answer;
        });
}

void TestModule1::smtpSend_recipients_data()
{
    QTest::addColumn<QString>("to");
    QTest::addColumn<QString>("handedOver");
    QTest::newRow("one") << u"a@x.jp"_s << u"a@x.jp"_s;
    QTest::newRow("two") << u"a@x.jp;b@y.jp"_s << u"a@x.jp\tb@y.jp"_s;
    QTest::newRow("space stays") << u"a@x.jp; b@y.jp"_s << u"a@x.jp\t b@y.jp"_s;
    QTest::newRow("trailing semicolon") << u"a@x.jp;"_s << u"a@x.jp\t"_s;
    QTest::newRow("three with doubles") << u"a@x.jp;;c@z.jp ;"_s << u"a@x.jp\t\tc@z.jp \t"_s;
    QTest::newRow("empty") << QString() << QString();
}

void TestModule1::smtpSend_recipients()
{
    QFETCH(QString, to);
    save(Keys::SmtpServer, u"smtp.example.jp:587"_s);
    save(Keys::From, u"me@example.jp"_s);
    save(Keys::To, to);
    hookSend(QString());

    QCOMPARE(Module1::SmtpSend(u"本文です"_s, u"件名です"_s), QString());
    QCOMPARE(m_send.count, 1);
    QFETCH(QString, handedOver);
    QCOMPARE(m_send.args,
        (QStringList {
            u"smtp.example.jp:587"_s, handedOver, u"me@example.jp"_s, u"件名です"_s, u"本文です"_s, QString()}));
}

void TestModule1::smtpSend_answerUnchanged_data()
{
    QTest::addColumn<QString>("answer");
    QTest::newRow("success") << QString();
    QTest::newRow("only spaces") << u"   "_s;
    QTest::newRow("japanese failure") << u"宛先アドレスがサーバーに拒否されました。 550 no such user"_s;
}

void TestModule1::smtpSend_answerUnchanged()
{
    QFETCH(QString, answer);
    hookSend(answer);
    const QString result = Module1::SmtpSend(u"b"_s, u"s"_s);
    QCOMPARE(result, answer);
    QCOMPARE(result.isEmpty(), answer.isEmpty());
}

void TestModule1::smtpSend_readsSettingsAtEveryCall()
{
    hookSend(QString());
    save(Keys::To, u"first@x.jp"_s);
    Module1::SmtpSend(u"b"_s, u"s"_s);
    QCOMPARE(m_send.args.value(1), u"first@x.jp"_s);
    save(Keys::To, u"second@x.jp;third@x.jp"_s);
    Module1::SmtpSend(u"b"_s, u"s"_s);
    QCOMPARE(m_send.args.value(1), u"second@x.jp\tthird@x.jp"_s);
}

void TestModule1::smtpSend_withoutServer_failsThroughClient()
{
    save(Keys::To, u"a@x.jp"_s);
    save(Keys::From, u"me@x.jp"_s);
    QCOMPARE(Module1::SmtpSend(u"b"_s, u"s"_s), u"SMTPサーバーが設定されていません。"_s);
    QCOMPARE(Module1::PopLogin(u"STAT"_s), u"POPサーバーが設定されていません。"_s);
}

void TestModule1::popLogin_result_data()
{
    QTest::addColumn<QVariant>("result");
    QTest::addColumn<QString>("answer");
    QTest::newRow("STAT list") << QVariant(QStringList {u"3"_s, u"4096"_s}) << QString();
    QTest::newRow("empty list") << QVariant(QStringList {}) << QString();
    QTest::newRow("empty variant list") << QVariant(QVariantList {}) << QString();
    QTest::newRow("zero") << QVariant(0) << u"0"_s;
    QTest::newRow("number") << QVariant(-1) << u"-1"_s;
    QTest::newRow("text") << QVariant(u"認証に失敗しました。 -ERR"_s) << u"認証に失敗しました。 -ERR"_s;
}

void TestModule1::popLogin_result()
{
    QFETCH(QVariant, result);
    Module1::testing::setRcvMail([result](const QString &, const QString &, const QString &, const QString &,
                                     const QString &) { return result; });
    QTEST(Module1::PopLogin(u"STAT"_s), "answer");
}

void TestModule1::popLogin_passesAccountAndFolder()
{
    save(Keys::PopServer, u"pop3://pop.example.jp"_s);
    save(Keys::PopAccount, u"アカウント"_s);
    save(Keys::PopPassword, u"pass;word"_s);
    QStringList seen;
    Module1::testing::setRcvMail([&seen](const QString &server, const QString &account, const QString &password,
                                     const QString &command, const QString &folder) {
        seen = {server, account, password, command, folder};
        return QVariant(QStringList {});
    });
    QCOMPARE(Module1::PopLogin(u"STAT"_s), QString());
    QCOMPARE(seen,
        (QStringList {u"pop3://pop.example.jp"_s, u"アカウント"_s, u"pass;word"_s, u"STAT"_s,
            QCoreApplication::applicationDirPath()}));
}

// The sender runs on a thread of its own while the caller's queued events go on running.
void TestModule1::transfer_onWorker_windowMessagesRun()
{
    std::atomic<bool> release {false};
    std::thread::id senderThread;
    Module1::testing::setSendMail([&](auto &&...) {
        senderThread = std::this_thread::get_id();
        while (!release)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        return u"550 later"_s;
    });
    int ticks = 0;
    QTimer tick;
    tick.setInterval(5);
    connect(&tick, &QTimer::timeout, this, [&] {
        if (++ticks == 5)
            release = true;
    });
    tick.start();
    QCOMPARE(Module1::SmtpSend(u"b"_s, u"s"_s), u"550 later"_s);
    QVERIFY(ticks >= 5);
    QVERIFY(senderThread != std::this_thread::get_id());
    QVERIFY(Module1::waitForWorkers(5000));
}

void TestModule1::goOnFalse_endsTheWaitAtOnce()
{
    std::atomic<bool> release {false};
    std::atomic<int> calls {0};
    auto hold = [&](auto &&...) {
        ++calls;
        while (!release)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        return QString();
    };
    Module1::testing::setSendMail(hold);
    Module1::testing::setRcvMail([&](auto &&...) {
        hold();
        return QVariant(QStringList {});
    });
    int asked = 0;
    const auto goOn = [&asked] { return ++asked < 10; };
    QCOMPARE(Module1::SmtpSend(u"b"_s, u"s"_s, goOn), mail::cancelledText());
    QCOMPARE(asked, 10);
    asked = 0;
    QCOMPARE(Module1::PopLogin(u"STAT"_s, goOn), mail::cancelledText());
    // The workers go on until their transfer ends, and nothing waits for them.
    QCOMPARE(calls.load(), 2);
    QVERIFY(!Module1::waitForWorkers(50));
    release = true;
    QVERIFY(Module1::waitForWorkers(5000));
}

void TestModule1::cancelAll_endsWaitsAndLaterCalls()
{
    std::atomic<bool> release {false};
    Module1::testing::setSendMail([&](auto &&...) {
        while (!release)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        return QString();
    });
    QTimer::singleShot(50, this, [] { Module1::cancelAll(); });
    QCOMPARE(Module1::SmtpSend(u"b"_s, u"s"_s), mail::cancelledText());
    QVERIFY(Module1::ending());
    hookSend(QString());
    QCOMPARE(Module1::SmtpSend(u"b"_s, u"s"_s), mail::cancelledText());
    QCOMPARE(m_send.count, 0);
    release = true;
    QVERIFY(Module1::waitForWorkers(5000));
    Module1::testing::reset();
    QVERIFY(!Module1::ending());
    Module1::testing::setSettingsFolder(m_dir.path());
    hookSend(QString());
    QCOMPARE(Module1::SmtpSend(u"b"_s, u"s"_s), QString());
    QCOMPARE(m_send.count, 1);
}

QTEST_GUILESS_MAIN(TestModule1)
#include "tst_module1.moc"
