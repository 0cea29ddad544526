#include "settings/SettingKeys.h"
#include "settings/SettingsLocation.h"
#include "settings/clINI.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

class TestSettingsLocation : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void folder_data();
    void folder();
    void existingConfigFolder_keepsItsMode();
    void defaultObject_usesTheDecidedFolder();

private:
    static QFile::Permissions modeOf(const QString &path)
    {
        return QFile::permissions(path)
            & (QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup | QFile::WriteGroup
                | QFile::ExeGroup | QFile::ReadOther | QFile::WriteOther | QFile::ExeOther);
    }
    static void touch(const QString &path, const QByteArray &bytes = {})
    {
        QVERIFY(QDir().mkpath(QFileInfo(path).path()));
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
};

static const auto kOwnerOnlyFolder = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;

// $ROOT stands for a fresh temporary folder that holds a writable folder exe/, a home/ and a
// plain file named file (a path through it can never be written, not even by root).
void TestSettingsLocation::folder_data()
{
    QTest::addColumn<QString>("exe");
    QTest::addColumn<bool>("iniBeside");
    QTest::addColumn<QString>("xdg");
    QTest::addColumn<QString>("home");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<bool>("usable");

    const QString home = u"$ROOT/home"_s;
    const QString config = u"$ROOT/home/.config/korvani"_s;
    QTest::newRow("portable folder that can be written")
        << u"$ROOT/exe"_s << false << QString() << home << u"$ROOT/exe"_s << true;
    QTest::newRow("a KVN.ini in both places: the one beside wins")
        << u"$ROOT/exe"_s << true << QString() << home << u"$ROOT/exe"_s << true;
    QTest::newRow("executable folder unwritable, XDG_CONFIG_HOME unset")
        << u"$ROOT/file/exe"_s << false << QString() << home << config << true;
    QTest::newRow("XDG_CONFIG_HOME absolute")
        << u"$ROOT/file/exe"_s << false << u"$ROOT/xdg/conf"_s << home << u"$ROOT/xdg/conf/korvani"_s << true;
    QTest::newRow("XDG_CONFIG_HOME relative: ignored")
        << u"$ROOT/file/exe"_s << false << u"relative/conf"_s << home << config << true;
    QTest::newRow("XDG_CONFIG_HOME names a file: ignored")
        << u"$ROOT/file/exe"_s << false << u"$ROOT/file"_s << home << config << true;
    QTest::newRow("system binary folder, even where it can be written")
        << u"/usr/bin"_s << false << QString() << home << config << true;
    QTest::newRow("neither can be written") << u"$ROOT/file/exe"_s << false << QString() << u"$ROOT/file/home"_s
                                            << u"$ROOT/file/home/.config/korvani"_s << false;
}

void TestSettingsLocation::folder()
{
    QFETCH(QString, exe);
    QFETCH(bool, iniBeside);
    QFETCH(QString, xdg);
    QFETCH(QString, home);
    QFETCH(QString, expected);
    QFETCH(bool, usable);

    QTemporaryDir dir;
    const QString root = dir.path();
    for (QString *s : {&exe, &xdg, &home, &expected})
        s->replace(u"$ROOT"_s, root);
    QVERIFY(QDir().mkpath(root + u"/exe"_s));
    QVERIFY(QDir().mkpath(root + u"/home"_s));
    touch(root + u"/file"_s);
    if (iniBeside) {
        touch(exe + u"/KVN.ini"_s, "[MAIL]\r\nTIMERTIME=7\r\n");
        touch(root + u"/home/.config/korvani/KVN.ini"_s, "[MAIL]\r\nTIMERTIME=9\r\n");
    }
    const QString cwd = QDir::currentPath();
    QVERIFY(QDir::setCurrent(root));

    const QString chosen = SettingsLocation::folder({exe, xdg, home});
    QVERIFY(QDir::setCurrent(cwd));
    QCOMPARE(chosen, expected);
    QVERIFY2(!QFileInfo::exists(root + u"/relative"_s), "a relative XDG_CONFIG_HOME was used");
    if (chosen == exe) {
        QVERIFY2(!QFileInfo::exists(root + u"/home/.config"_s) || iniBeside, "the user folder was made needlessly");
    } else if (usable) {
        // Every folder made on the way is the user's alone.
        QCOMPARE(modeOf(chosen), kOwnerOnlyFolder);
        QCOMPARE(modeOf(QFileInfo(chosen).path()), kOwnerOnlyFolder);
    }

    clINI ini(chosen);
    if (iniBeside)
        QCOMPARE(ini.GetSetting(Keys::TimerTime), u"7"_s);
    ini.SaveSetting(Keys::TimerTime, u"8"_s);
    QCOMPARE(ini.commit(), usable);
    if (usable && !iniBeside)
        QCOMPARE(modeOf(ini.path()), QFile::ReadOwner | QFile::WriteOwner);
    else if (!usable)
        QVERIFY(!filestore::canWrite(ini.path()));
}

void TestSettingsLocation::existingConfigFolder_keepsItsMode()
{
    QTemporaryDir dir;
    const QString config = dir.path() + u"/home/.config"_s;
    QVERIFY(QDir().mkpath(config));
    const auto shared = kOwnerOnlyFolder | QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther;
    QVERIFY(QFile::setPermissions(config, shared));
    touch(dir.path() + u"/file"_s);
    const QString chosen = SettingsLocation::folder({dir.path() + u"/file"_s, QString(), dir.path() + u"/home"_s});
    QCOMPARE(chosen, config + u"/korvani"_s);
    QCOMPARE(modeOf(chosen), kOwnerOnlyFolder);
    QCOMPARE(modeOf(config), shared);
}

void TestSettingsLocation::defaultObject_usesTheDecidedFolder()
{
    // The test's own folder in the build tree can be written, so it holds the file.
    QCOMPARE(clINI().path(), QCoreApplication::applicationDirPath() + u"/KVN.ini"_s);
    QCOMPARE(clINI(QString()).path(), clINI().path());
    QCOMPARE(SettingsLocation::folder(), QCoreApplication::applicationDirPath());
}

QTEST_GUILESS_MAIN(TestSettingsLocation)
#include "tst_settingslocation.moc"
