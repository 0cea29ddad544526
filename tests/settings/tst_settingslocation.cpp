#include "settings/SettingKeys.h"
#include "settings/SettingsLocation.h"
#include "settings/clINI.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace Qt::StringLiterals;

namespace {

// How a test builds the folder beside the executable: whose each part is and who may write it.
enum class Who { Me, Other };
enum class Ini { None, File, Link, Dangling, Folder };
enum class Group { Mine, Shared };
// What stands at the user's configuration folder before the start.
enum class Cfg { None, Folder, Link, File };

struct Setup
{
    int folderMode = 0755;
    Who folderOwner = Who::Me;
    Group folderGroup = Group::Mine;
    Ini ini = Ini::None;
    int iniMode = 0644;
    Who iniOwner = Who::Me;
    Group iniGroup = Group::Mine;
    // For a link: who made it, and the file it leads to in a folder of its own.
    Who linkOwner = Who::Me;
    Who targetOwner = Who::Me;
    int targetFolderMode = 0755;
    // Without a folder beside the executable; the user's folder, and for a link the folder it
    // leads to, owned by configOwner; xdg puts it in XDG_CONFIG_HOME instead of ~/.config.
    bool portable = true;
    Cfg config = Cfg::None;
    int configMode = 0700;
    Who configOwner = Who::Me;
    Who configLinkOwner = Who::Me;
    bool xdg = false;
};

} // namespace

Q_DECLARE_METATYPE(Setup)

class TestSettingsLocation : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void folder_data();
    void folder();
    void existingConfigFolder_keepsItsMode();
    void defaultObject_usesTheDecidedFolder();
    void trust_data();
    void trust();

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

// Another user of a shared machine: nobody, and the group nogroup, which holds more than the user.
static constexpr uint kOther = 65534;

void TestSettingsLocation::trust_data()
{
    QTest::addColumn<Setup>("setup");
    QTest::addColumn<QString>("chosen"); // $EXE, $CFG (~/.config/korvani) or $OWN (korvani-<id>)
    QTest::addColumn<QString>("reason"); // empty: nothing said

    QTest::newRow("portable folder, umask 022") << Setup {} << u"$EXE"_s << QString();
    QTest::newRow("portable folder and file, umask 002 and a private group")
        << Setup {.folderMode = 0775, .ini = Ini::File, .iniMode = 0664} << u"$EXE"_s << QString();
    QTest::newRow("a KVN.ini of the user's") << Setup {.ini = Ini::File, .iniMode = 0600} << u"$EXE"_s << QString();
    QTest::newRow("a link to the user's own file") << Setup {.ini = Ini::Link} << u"$EXE"_s << QString();
    QTest::newRow("folder owned by another user") << Setup {.folderOwner = Who::Other} << u"$CFG"_s
                                                  << u"実行ファイルのフォルダー $EXE は他のユーザーのものです"_s;
    QTest::newRow("folder and KVN.ini owned by another user")
        << Setup {.folderOwner = Who::Other, .ini = Ini::File, .iniOwner = Who::Other} << u"$CFG"_s
        << u"実行ファイルのフォルダー $EXE は他のユーザーのものです"_s;
    QTest::newRow("folder writable by its group") << Setup {.folderMode = 0775,
        .folderGroup = Group::Shared} << u"$CFG"_s << u"実行ファイルのフォルダー $EXE は他のユーザーも書き込めます"_s;
    QTest::newRow("folder writable by all, sticky")
        << Setup {.folderMode = 01777} << u"$CFG"_s << u"実行ファイルのフォルダー $EXE は他のユーザーも書き込めます"_s;
    QTest::newRow("root-owned 0600 KVN.ini") << Setup {.ini = Ini::File, .iniMode = 0600, .iniOwner = Who::Other}
                                             << u"$CFG"_s << u"$INI は他のユーザーのファイルです"_s;
    QTest::newRow("KVN.ini writable by its group")
        << Setup {.ini = Ini::File, .iniMode = 0664, .iniGroup = Group::Shared} << u"$CFG"_s
        << u"$INI は他のユーザーも書き込めます"_s;
    QTest::newRow("KVN.ini writable by all")
        << Setup {.ini = Ini::File, .iniMode = 0666} << u"$CFG"_s << u"$INI は他のユーザーも書き込めます"_s;
    QTest::newRow("link to another user's file, as to /etc/passwd") << Setup {
        .ini = Ini::Link, .targetOwner = Who::Other} << u"$CFG"_s << u"$INI のリンク先は他のユーザーが変えられます"_s;
    QTest::newRow("link into a folder that all may write") << Setup {.ini = Ini::Link,
        .targetFolderMode = 0777} << u"$CFG"_s << u"$INI のリンク先は他のユーザーが変えられます"_s;
    QTest::newRow("link made by another user")
        << Setup {.ini = Ini::Link, .linkOwner = Who::Other} << u"$CFG"_s << u"$INI は他のユーザーが作ったリンクです"_s;
    QTest::newRow("dangling link") << Setup {.ini = Ini::Dangling} << u"$CFG"_s << u"$INI のリンク先がありません"_s;
    QTest::newRow("KVN.ini is a folder") << Setup {.ini = Ini::Folder} << u"$CFG"_s
                                         << u"$INI は普通のファイルではありません"_s;
    QTest::newRow("user folder of another user")
        << Setup {.portable = false, .config = Cfg::Folder, .configOwner = Who::Other} << u"$OWN"_s
        << u"設定フォルダー $CFG は他のユーザーのものです"_s;
    QTest::newRow("user folder that all may write")
        << Setup {.portable = false, .config = Cfg::Folder, .configMode = 0777} << u"$OWN"_s
        << u"設定フォルダー $CFG は他のユーザーも書き込めます"_s;
    QTest::newRow("user folder a link to another user's folder")
        << Setup {.portable = false, .config = Cfg::Link, .configOwner = Who::Other} << u"$OWN"_s
        << u"設定フォルダー $CFG のリンク先は他のユーザーが変えられます"_s;
    QTest::newRow("user folder a link made by another user")
        << Setup {.portable = false, .config = Cfg::Link, .configLinkOwner = Who::Other} << u"$OWN"_s
        << u"設定フォルダー $CFG は他のユーザーが作ったリンクです"_s;
    QTest::newRow("user folder a link to the user's own folder")
        << Setup {.portable = false, .config = Cfg::Link} << u"$CFG"_s << QString();
    QTest::newRow("user folder a file") << Setup {.portable = false, .config = Cfg::File} << u"$OWN"_s
                                        << u"設定フォルダー $CFG はフォルダーではありません"_s;
    QTest::newRow("XDG_CONFIG_HOME holds another user's folder")
        << Setup {.portable = false, .config = Cfg::Folder, .configOwner = Who::Other, .xdg = true} << u"$CFG"_s
        << u"設定フォルダー $XDG は他のユーザーのものです"_s;
    QTest::newRow("beside and user folder both passed over")
        << Setup {.folderOwner = Who::Other, .config = Cfg::Folder, .configOwner = Who::Other} << u"$OWN"_s
        << u"実行ファイルのフォルダー $EXE は他のユーザーのものです。設定フォルダー $CFG は他のユーザーのものです"_s;
}

// Real files, links and modes; the parts of another user are given away, which takes root.
void TestSettingsLocation::trust()
{
#ifdef Q_OS_UNIX
    QFETCH(Setup, setup);
    QFETCH(QString, chosen);
    QFETCH(QString, reason);

    const uint me = filetrust::currentUser();
    const bool needsRoot = setup.folderOwner == Who::Other || setup.iniOwner == Who::Other
        || setup.linkOwner == Who::Other || setup.targetOwner == Who::Other || setup.folderGroup == Group::Shared
        || setup.iniGroup == Group::Shared || setup.configOwner == Who::Other || setup.configLinkOwner == Who::Other;
    if (needsRoot && me != 0)
        QSKIP("giving files to another user takes root");
    if ((setup.folderMode & 020 || setup.iniMode & 020) && !filetrust::isPrivateGroup(::getegid(), me))
        QSKIP("the user's primary group is no private group");

    QTemporaryDir dir;
    const QString exe = dir.path() + u"/exe"_s;
    const QString ini = exe + u"/KVN.ini"_s;
    const QString elsewhere = dir.path() + u"/elsewhere"_s;
    const QString target = elsewhere + u"/target.ini"_s;
    const QByteArray planted = "[MAIL]\r\nSMTP_SERVER=smtp://them:x@mail.example.jp\r\nTIMERTIME=7\r\n";
    auto give = [](const QString &path, Who who, Group group, bool link = false) {
        const uid_t owner = who == Who::Other ? kOther : uid_t(-1);
        const gid_t grp = group == Group::Shared || who == Who::Other ? kOther : gid_t(-1);
        const QByteArray name = QFile::encodeName(path);
        QVERIFY(link ? ::lchown(name.constData(), owner, grp) == 0 : ::chown(name.constData(), owner, grp) == 0);
    };
    auto mode
        = [](const QString &path, int m) { QCOMPARE(::chmod(QFile::encodeName(path).constData(), mode_t(m)), 0); };

    QVERIFY(QDir().mkpath(exe));
    QVERIFY(QDir().mkpath(elsewhere));
    QVERIFY(QDir().mkpath(dir.path() + u"/home"_s));
    switch (setup.ini) {
    case Ini::None:
        break;
    case Ini::File:
        touch(ini, planted);
        mode(ini, setup.iniMode);
        give(ini, setup.iniOwner, setup.iniGroup);
        break;
    case Ini::Link:
    case Ini::Dangling:
        if (setup.ini == Ini::Link) {
            touch(target, planted);
            mode(target, 0644);
            give(target, setup.targetOwner, Group::Mine);
        }
        mode(elsewhere, setup.targetFolderMode);
        QVERIFY(QFile::link(target, ini));
        give(ini, setup.linkOwner, Group::Mine, true);
        break;
    case Ini::Folder:
        QVERIFY(QDir().mkpath(ini));
        break;
    }
    mode(exe, setup.folderMode);
    give(exe, setup.folderOwner, setup.folderGroup);

    const QString config = dir.path() + u"/home/.config/korvani"_s;
    const QString xdg = dir.path() + u"/xdg"_s;
    const QString user = setup.xdg ? xdg + u"/korvani"_s : config;
    switch (setup.config) {
    case Cfg::None:
        break;
    case Cfg::Folder:
        QVERIFY(QDir().mkpath(user));
        mode(user, setup.configMode);
        give(user, setup.configOwner, Group::Mine);
        break;
    case Cfg::Link: {
        const QString theirs = dir.path() + u"/theirs"_s;
        QVERIFY(QDir().mkpath(theirs) && QDir().mkpath(QFileInfo(user).path()));
        mode(theirs, 0700);
        give(theirs, setup.configOwner, Group::Mine);
        QVERIFY(QFile::link(theirs, user));
        give(user, setup.configLinkOwner, Group::Mine, true);
        break;
    }
    case Cfg::File:
        touch(user);
        break;
    }
    const bool beside = chosen == u"$EXE";
    chosen.replace(u"$EXE"_s, exe).replace(u"$CFG"_s, config).replace(u"$OWN"_s, config + u"-"_s + QString::number(me));
    const SettingsLocation::Environment env {
        setup.portable ? exe : QString(), setup.xdg ? xdg : QString(), dir.path() + u"/home"_s, me};
    // A run that only reads (korvani --check) reads the file the window would use.
    QCOMPARE(SettingsLocation::readingFolder(env), chosen);
    const SettingsLocation::Choice choice = SettingsLocation::choose(env);
    QCOMPARE(choice.folder, chosen);
    if (reason.isEmpty()) {
        QCOMPARE(choice.notice, QString());
    } else {
        reason.replace(u"$EXE"_s, exe).replace(u"$INI"_s, ini).replace(u"$CFG"_s, config).replace(u"$XDG"_s, user);
        QCOMPARE(choice.notice, reason + u"。設定は "_s + chosen + u"/KVN.ini を使います。"_s);
    }
    if (chosen != user && setup.config != Cfg::None) {
        QVERIFY2(!QFileInfo::exists(user + u"/KVN.ini"_s), "a folder passed over was written");
        // A folder of the user's alone, made afresh.
        QCOMPARE(modeOf(chosen), kOwnerOnlyFolder);
    }

    // The save goes where the choice says, and never through a link the choice passed over.
    const QString shown = setup.ini == Ini::Link ? target : ini;
    {
        clINI chosen(choice.folder);
        chosen.SaveSetting(Keys::TimerTime, u"8"_s);
        QVERIFY(chosen.commit());
    }
    if (setup.ini == Ini::File || setup.ini == Ini::Link) {
        QFile f(shown);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray now = f.readAll();
        QCOMPARE(now.contains("TIMERTIME=8"), beside);
    }
    if (setup.ini == Ini::Link || setup.ini == Ini::Dangling) {
        QVERIFY(QFileInfo(ini).isSymLink());
        // Written straight at the folder, a link is still followed only where it is trusted.
        clINI direct(exe);
        direct.SaveSetting(Keys::TimerTime, u"9"_s);
        QCOMPARE(direct.commit(), beside);
        QVERIFY(QFileInfo(ini).isSymLink());
        QCOMPARE(QFileInfo::exists(target), setup.ini == Ini::Link);
    }
#else
    QSKIP("file owners and modes are POSIX");
#endif
}

QTEST_GUILESS_MAIN(TestSettingsLocation)
#include "tst_settingslocation.moc"
