// The built program, started from a folder of its own, saves its lists when a signal ends it.
#include "settings/clINI.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

using namespace Qt::StringLiterals;

class TestSigterm : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void signal_savesListsAndEnds_data();
    void signal_savesListsAndEnds();
};

namespace {

// True once the process has its own handler for sig: before that the signal would kill it outright.
bool catches(qint64 pid, int sig)
{
    QFile status(u"/proc/%1/status"_s.arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return false;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("SigCgt:"))
            return (line.mid(7).trimmed().toULongLong(nullptr, 16) >> (sig - 1)) & 1;
    }
    return false;
}

} // namespace

void TestSigterm::signal_savesListsAndEnds_data()
{
    QTest::addColumn<int>("sig");
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGINT") << int(SIGINT);
}

void TestSigterm::signal_savesListsAndEnds()
{
    QFETCH(int, sig);
    QTemporaryDir dir;
    const QString exe = dir.path() + u"/korvani"_s;
    QVERIFY(QFile::copy(qEnvironmentVariable("KORVANI_EXE"), exe));
    {
        QFile ini(dir.path() + u"/KVN.ini"_s);
        QVERIFY(ini.open(QIODevice::WriteOnly));
        // The save is visible: conditions and addresses close up, conditions sorted.
        ini.write("[MAIL]\r\nRIREKISUU=1\r\nTIMERTIME=3600\r\n"
                  "[KEYWORD]\r\nKEY0=b\r\nKEY2=A\r\n[URL]\r\nURL3=http://127.0.0.1:1/\r\n"
                  "[RIREKI]\r\nTEXT0=new\r\nTEXT1=old\r\nTEXT2=oldest\r\n");
    }

    QProcess p;
    p.setProgram(exe);
    p.setWorkingDirectory(QDir::tempPath());
    p.setProcessChannelMode(QProcess::ForwardedChannels);
    p.start();
    QVERIFY(p.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(catches(p.processId(), sig), 30000);
    QTest::qWait(500);
    ::kill(pid_t(p.processId()), sig);
    QVERIFY2(p.waitForFinished(5000), "the program did not end within 5 s of the signal");
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);

    clINI ini(dir.path());
    QCOMPARE(ini.GetSetting(u"KEYWORD"_s, u"KEY0"_s, QString()), u"A"_s);
    QCOMPARE(ini.GetSetting(u"KEYWORD"_s, u"KEY1"_s, QString()), u"b"_s);
    QCOMPARE(ini.GetSetting(u"KEYWORD"_s, u"KEY2"_s, QString()), QString());
    QCOMPARE(ini.GetSetting(u"URL"_s, u"URL0"_s, QString()), u"http://127.0.0.1:1/"_s);
    QCOMPARE(ini.GetSetting(u"URL"_s, u"URL3"_s, QString()), QString());
    QCOMPARE(ini.GetSetting(u"RIREKI"_s, u"TEXT0"_s, QString()), u"new"_s);
    QCOMPARE(ini.GetSetting(u"RIREKI"_s, u"TEXT1"_s, QString()), u"old"_s);
}

QTEST_GUILESS_MAIN(TestSigterm)
#include "tst_sigterm.moc"
