// The autostart entry: what it says, checked by desktop-file-validate, and that it comes and goes
// whole. (A folder that cannot be written is the settings dialog's test.)
#include "settings/Autostart.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

class TestAutostart : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void entry_validForAnyProgramPath_data();
    void entry_validForAnyProgramPath();
    void set_writesAndRemoves();

private:
    static QString validate(const QString &path);
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestAutostart::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    qputenv("XDG_CONFIG_HOME", m_dir->path().toUtf8());
}

// What desktop-file-validate says about the file; empty when it finds nothing wrong.
QString TestAutostart::validate(const QString &path)
{
    const QString tool = QStandardPaths::findExecutable(u"desktop-file-validate"_s);
    if (tool.isEmpty())
        return u"desktop-file-validate is not installed (scripts/setup installs desktop-file-utils)"_s;
    QProcess p;
    p.start(tool, {path});
    if (!p.waitForFinished(10000))
        return u"desktop-file-validate did not finish"_s;
    const QString out = QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError()).trimmed();
    return p.exitCode() == 0 && out.isEmpty() ? QString() : u"exit %1: %2"_s.arg(p.exitCode()).arg(out);
}

void TestAutostart::entry_validForAnyProgramPath_data()
{
    QTest::addColumn<QString>("executable");
    QTest::addColumn<QString>("exec");
    QTest::newRow("plain") << u"/usr/bin/korvani"_s << u"\"/usr/bin/korvani\""_s;
    QTest::newRow("space and Japanese") << u"/home/u/巡回 ツール/korvani"_s << u"\"/home/u/巡回 ツール/korvani\""_s;
    // The quoting rule escapes these with a backslash, which the string rule doubles.
    QTest::newRow("quote dollar backquote") << u"/opt/a\"b$c`d/korvani"_s << u"\"/opt/a\\\\\"b\\\\$c\\\\`d/korvani\""_s;
    QTest::newRow("backslash") << u"/opt/a\\b/korvani"_s << u"\"/opt/a\\\\\\\\b/korvani\""_s;
    // A field code must not be read into it.
    QTest::newRow("percent") << u"/opt/100%u/korvani"_s << u"\"/opt/100%%u/korvani\""_s;
}

void TestAutostart::entry_validForAnyProgramPath()
{
    QFETCH(QString, executable);
    QFETCH(QString, exec);
    const QString text = Autostart::entryText(executable, u"korvani"_s);
    QVERIFY(text.startsWith(u"[Desktop Entry]\n"_s));
    QVERIFY2(text.contains(u"\nExec="_s + exec + u'\n'), qPrintable(text));
    QVERIFY(text.contains(u"\nName=Korvani\n"_s));
    QVERIFY(text.contains(u"\nIcon=korvani\n"_s));
    QVERIFY(text.endsWith(u"\nX-GNOME-Autostart-enabled=true\n"_s));
    QVERIFY(!text.contains(u'@'));
    const QString path = m_dir->filePath(u"korvani.desktop"_s);
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(text.toUtf8());
    f.close();
    const QString problems = validate(path);
    QVERIFY2(problems.isEmpty(), qPrintable(problems));
    QVERIFY(Autostart::entryText(u"/opt/a\nb/korvani"_s, u"korvani"_s).isEmpty());
}

void TestAutostart::set_writesAndRemoves()
{
    const QString path = m_dir->path() + u"/autostart/korvani.desktop"_s;
    QCOMPARE(Autostart::entryPath(), path);
    QVERIFY(!Autostart::isOn());
    QCOMPARE(Autostart::set(false, u"/usr/bin/korvani"_s), QString());

    // A portable folder's icon lies beside the program.
    QDir(m_dir->path()).mkpath(u"Korvani"_s);
    const QString exe = m_dir->path() + u"/Korvani/korvani"_s;
    QFile icon(m_dir->path() + u"/Korvani/korvani.svg"_s);
    QVERIFY(icon.open(QIODevice::WriteOnly));
    icon.close();
    QCOMPARE(Autostart::set(true, exe), QString());
    QVERIFY(Autostart::isOn());
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(f.readAll());
    f.close();
    QVERIFY2(text.contains(u"\nExec=\""_s + exe + u"\"\n"_s), qPrintable(text));
    QVERIFY(text.contains(u"\nIcon="_s + icon.fileName() + u'\n'));
    QCOMPARE(int(f.permissions() & (QFile::WriteGroup | QFile::WriteOther)), 0);
    const QString problems = validate(path);
    QVERIFY2(problems.isEmpty(), qPrintable(problems));

    // Switched off in the desktop's own settings: not on, and ticking writes it on again.
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(text.toUtf8().replace("Autostart-enabled=true", "Autostart-enabled=false"));
    f.close();
    QVERIFY(!Autostart::isOn());
    QCOMPARE(Autostart::set(true, exe), QString());
    QVERIFY(Autostart::isOn());

    QCOMPARE(Autostart::set(false, exe), QString());
    QVERIFY(!QFile::exists(path));
    QVERIFY(!Autostart::isOn());
    // Nothing else was added to the session.
    QCOMPARE(QDir(m_dir->path() + u"/autostart"_s).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList());
}

QTEST_MAIN(TestAutostart)
#include "tst_autostart.moc"
