#include "app/SingleInstance.h"
#include "platform/FileStore.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <memory>
#include <thread>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

using namespace Qt::StringLiterals;

using Claim = SingleInstance::Claim;

class TestSingleInstance : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void secondStart_judgedByTheKernel_data();
    void secondStart_judgedByTheKernel();
};

// $A and $B are two portable folders. "held by" rows run the first start in this process (the
// kernel lock belongs to the open file, so a second open here meets it as another program would).
void TestSingleInstance::secondStart_judgedByTheKernel_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<int>("claim"); // of the start on $B/KVN.ini
    QTest::addColumn<bool>("reached"); // it asks the first and gets an answer

    auto row = [](const char *name, const char *setup, Claim claim, bool reached = false) {
        QTest::newRow(name) << QString::fromLatin1(setup) << int(claim) << reached;
    };
    row("nothing there", "none", Claim::First);
    row("a lock file naming a living process of the same name", "pid", Claim::First);
    row("a lock file of garbage", "garbage", Claim::First);
    row("an empty lock file", "empty", Claim::First);
    row("held by another living process", "flock", Claim::Later);
    row("held by a process since killed", "killed", Claim::First);
    row("the same file again", "same", Claim::Later, true);
    row("KVN.ini of two folders links to one file", "symlinks", Claim::Later, true);
    row("the folder reached through a link", "folderlink", Claim::Later, true);
    row("KVN.ini of two folders hard links of one file", "hardlinks", Claim::Later, true);
    row("hard links, the first has saved since", "hardlinks-saved", Claim::Later, true);
    row("two folders, a file each", "separate", Claim::First);
    row("a link planted as the lock file", "planted", Claim::Failed);
}

void TestSingleInstance::secondStart_judgedByTheKernel()
{
#ifdef Q_OS_UNIX
    QFETCH(QString, setup);
    QFETCH(int, claim);
    QFETCH(bool, reached);

    QTemporaryDir dir;
    const QString a = dir.filePath(u"A"_s);
    const QString b = dir.filePath(u"B"_s);
    const QString shared = dir.filePath(u"shared/settings.ini"_s);
    QVERIFY(QDir().mkpath(a) && QDir().mkpath(b) && QDir().mkpath(QFileInfo(shared).path()));
    const QByteArray ini = "[MAIL]\r\nTIMERTIME=5\r\n";
    QVERIFY(filestore::writeAtomically(b + u"/KVN.ini"_s, ini));
    const QString lockB = b + u"/KVN.ini.lock"_s;
    auto put = [](const QString &path, const QByteArray &bytes) {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
    };

    std::unique_ptr<SingleInstance> first;
    QProcess holder;
    QString firstPath; // where a first start in this process runs
    if (setup == u"pid") {
        // As Qt's lock file writes it, naming this very process.
        put(lockB,
            QByteArray::number(QCoreApplication::applicationPid()) + '\n' + QCoreApplication::applicationName().toUtf8()
                + '\n' + QSysInfo::machineHostName().toUtf8() + '\n');
    } else if (setup == u"garbage") {
        put(lockB, "\x01zz not a number\n");
    } else if (setup == u"empty") {
        put(lockB, QByteArray());
    } else if (setup == u"flock" || setup == u"killed") {
        // Held by flock itself, not by the command it runs, which ends with its input.
        holder.start(u"flock"_s, {u"-n"_s, u"-o"_s, lockB, u"-c"_s, u"echo held; read x"_s});
        QVERIFY(holder.waitForReadyRead(10000));
        QCOMPARE(holder.readAllStandardOutput(), QByteArray("held\n"));
        if (setup == u"killed") {
            holder.kill();
            QVERIFY(holder.waitForFinished(10000));
        }
    } else if (setup == u"same") {
        firstPath = b + u"/KVN.ini"_s;
    } else if (setup == u"symlinks") {
        QVERIFY(QFile::rename(b + u"/KVN.ini"_s, shared));
        QVERIFY(QFile::link(shared, a + u"/KVN.ini"_s) && QFile::link(shared, b + u"/KVN.ini"_s));
        firstPath = a + u"/KVN.ini"_s;
    } else if (setup == u"folderlink") {
        QVERIFY(QFile::link(b, dir.filePath(u"C"_s)));
        firstPath = dir.filePath(u"C/KVN.ini"_s);
    } else if (setup.startsWith(u"hardlinks")) {
        firstPath = a + u"/KVN.ini"_s;
        QCOMPARE(::link(QFile::encodeName(b + u"/KVN.ini"_s).constData(), QFile::encodeName(firstPath).constData()), 0);
    } else if (setup == u"separate") {
        firstPath = a + u"/KVN.ini"_s;
        QVERIFY(filestore::writeAtomically(firstPath, ini));
    } else if (setup == u"planted") {
        QVERIFY(QFile::link(shared, lockB));
    }
    if (!firstPath.isEmpty()) {
        first = std::make_unique<SingleInstance>(firstPath);
        QCOMPARE(first->acquire(), Claim::First);
        first->listen([](const QString &) { return false; });
        // A child, such as the browser engine, holds none of the first's locks: it could outlive it.
        QProcess child;
        child.start(u"sh"_s, {u"-c"_s, u"ls -l /proc/$$/fd/"_s});
        QVERIFY(child.waitForFinished(10000));
        const QByteArray fds = child.readAllStandardOutput();
        QVERIFY2(fds.contains("/proc/") || fds.contains(" 0 -> "), fds.constData());
        QVERIFY2(!fds.contains(".lock") && !fds.contains("KVN.ini") && !fds.contains("settings.ini"), fds.constData());
    }
    if (setup == u"hardlinks-saved")
        QVERIFY(filestore::writeAtomically(firstPath, "[MAIL]\r\nTIMERTIME=6\r\n"));

    auto second = std::make_unique<SingleInstance>(b + u"/KVN.ini"_s);
    QCOMPARE(int(second->acquire()), claim);
    if (claim == int(Claim::Later)) {
        // The first answers from this thread's event loop; the second asks from another.
        std::atomic<int> answer {-1};
        std::thread asker([&] { answer = int(second->askFirst()); });
        QTRY_VERIFY_WITH_TIMEOUT(answer != -1, 10000);
        asker.join();
        QCOMPARE(answer != int(SingleInstance::Answer::NoAnswer), reached);
    }
    if (claim == int(Claim::Failed)) {
        QVERIFY2(second->failure().contains(lockB), qPrintable(second->failure()));
        QVERIFY2(!QFileInfo::exists(shared), "the planted link was followed");
    }
    if (claim == int(Claim::First)) {
        // Nobody holds a lock file with the name gone.
        second.reset();
        QVERIFY(!QFileInfo::exists(lockB));
    }
    holder.closeWriteChannel();
    holder.waitForFinished();
#else
    QSKIP("the kernel lock is POSIX");
#endif
}

QTEST_MAIN(TestSingleInstance)
#include "tst_singleinstance.moc"
