#include "settings/SettingsLocation.h"

#include "platform/FileStore.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

using namespace Qt::StringLiterals;

namespace SettingsLocation {

namespace {

// Folders of the system's own programs: writable by root only, shared by every user. A settings
// file made there by a run as root would shadow every user's own.
bool isSystemBinFolder(const QString &folder)
{
    static const QStringList system {u"/bin"_s, u"/sbin"_s, u"/usr/bin"_s, u"/usr/sbin"_s, u"/usr/games"_s,
        u"/usr/local/bin"_s, u"/usr/local/sbin"_s, u"/usr/local/games"_s};
    return system.contains(QDir::cleanPath(folder));
}

// Each missing folder on the way gets mode 0700, as the XDG base directory rules ask.
void makeFolders(const QString &path)
{
    const QString clean = QDir::cleanPath(path);
    QStringList missing;
    QString at = clean;
    while (!at.isEmpty() && !QFileInfo::exists(at)) {
        missing.prepend(at);
        const QString up = QFileInfo(at).path();
        if (up == at)
            break;
        at = up;
    }
    const auto ownerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;
    for (const QString &f : std::as_const(missing)) {
        if (!QDir().mkdir(f, ownerOnly))
            return;
    }
}

QString folderReason(filetrust::Verdict v, const QString &folder)
{
    using V = filetrust::Verdict;
    const QString name = QDir::toNativeSeparators(folder);
    if (v == V::OthersMayWrite)
        return u"実行ファイルのフォルダー %1 は他のユーザーも書き込めます"_s.arg(name);
    return u"実行ファイルのフォルダー %1 は他のユーザーのものです"_s.arg(name);
}

QString fileReason(filetrust::Verdict v, const QString &file)
{
    using V = filetrust::Verdict;
    const QString name = QDir::toNativeSeparators(file);
    switch (v) {
    case V::OtherOwner:
        return u"%1 は他のユーザーのファイルです"_s.arg(name);
    case V::OthersMayWrite:
        return u"%1 は他のユーザーも書き込めます"_s.arg(name);
    case V::LinkByOther:
        return u"%1 は他のユーザーが作ったリンクです"_s.arg(name);
    case V::LinkToUntrusted:
        return u"%1 のリンク先は他のユーザーが変えられます"_s.arg(name);
    case V::DanglingLink:
        return u"%1 のリンク先がありません"_s.arg(name);
    default:
        break;
    }
    return u"%1 は普通のファイルではありません"_s.arg(name);
}

QString userFolderReason(filetrust::Verdict v, const QString &folder)
{
    using V = filetrust::Verdict;
    const QString name = u"設定フォルダー "_s + QDir::toNativeSeparators(folder);
    switch (v) {
    case V::OtherOwner:
        return name + u" は他のユーザーのものです"_s;
    case V::OthersMayWrite:
        return name + u" は他のユーザーも書き込めます"_s;
    case V::LinkByOther:
        return name + u" は他のユーザーが作ったリンクです"_s;
    case V::LinkToUntrusted:
        return name + u" のリンク先は他のユーザーが変えられます"_s;
    case V::DanglingLink:
        return name + u" のリンク先がありません"_s;
    default:
        break;
    }
    return name + u" はフォルダーではありません"_s;
}

// Where the settings may go when the folder beside the executable is not used, best first: the
// user's configuration folder; the one under the home folder, where XDG_CONFIG_HOME named
// another; and one named after the user's id, which nobody else's folder or link takes the place
// of (a home shared by several accounts gives each its own).
QStringList userCandidates(const Environment &env)
{
    QStringList candidates {userFolder(env)};
    for (const QString &c : {env.home + u"/.config/korvani"_s, env.home + u"/.config/korvani-%1"_s.arg(env.user)}) {
        if (!candidates.contains(QDir::cleanPath(c)))
            candidates << QDir::cleanPath(c);
    }
    return candidates;
}

struct Beside
{
    bool used = false;
    // Why it was passed over, where it asked to be used.
    QString reason;
};

// The folder beside the executable, by the trust rules. A missing KVN.ini is used where the folder
// takes a new file: probed with a file when probe is set, otherwise by its permissions alone.
Beside judgeBeside(const Environment &env, bool probe)
{
    using V = filetrust::Verdict;
    const QString beside = env.executableFolder;
    if (beside.isEmpty() || isSystemBinFolder(beside))
        return {};
    const QString file = filePath(beside);
    const V place = filetrust::folder(beside, env.user);
    const V ini = filetrust::file(file, env.user);
    const bool writable = QFileInfo(beside).isWritable();
    if (place == V::Trusted
        && (ini == V::Trusted || (ini == V::Missing && (probe ? filestore::canWrite(file) : writable))))
        return {true, QString()};
    // Said only where the file beside would have been used but for whose it is: not for the
    // folder of an installed program that simply cannot be written. Nothing is tried in another
    // user's folder to find that out.
    if ((ini != V::Missing || writable) && (place == V::OtherOwner || place == V::OthersMayWrite))
        return {false, folderReason(place, beside)};
    if (ini != V::Trusted && ini != V::Missing)
        return {false, fileReason(ini, file)};
    return {};
}

} // namespace

QString filePath(const QString &folder)
{
    return folder + u"/KVN.ini"_s;
}

Environment current()
{
    return {QCoreApplication::applicationDirPath(), qEnvironmentVariable("XDG_CONFIG_HOME"), QDir::homePath()};
}

QString configHome(const Environment &env)
{
    const QString &base = env.xdgConfigHome;
    const QFileInfo info(base);
    if (base.isEmpty() || QDir::isRelativePath(base) || (info.exists() && !info.isDir()))
        return QDir::cleanPath(env.home + u"/.config"_s);
    return QDir::cleanPath(base);
}

QString configHome()
{
    return configHome(current());
}

QString userFolder(const Environment &env)
{
    return configHome(env) + u"/korvani"_s;
}

Choice choose(const Environment &env)
{
    using V = filetrust::Verdict;
    const Beside beside = judgeBeside(env, true);
    if (beside.used)
        return {env.executableFolder, QString()};
    QStringList reasons;
    if (!beside.reason.isEmpty())
        reasons << beside.reason;
    // Where none is the user's alone: the first that could not be made, where nothing can be
    // planted and a save fails aloud; else the last.
    const QStringList candidates = userCandidates(env);
    QString chosen;
    QString missing;
    for (const QString &c : candidates) {
        if (filetrust::folder(c, env.user) == V::Missing)
            makeFolders(c);
        const V v = filetrust::folder(c, env.user);
        if (v == V::Trusted) {
            chosen = c;
            break;
        }
        if (v == V::Missing) {
            if (missing.isEmpty())
                missing = c;
        } else {
            reasons << userFolderReason(v, c);
        }
    }
    if (chosen.isEmpty())
        chosen = missing.isEmpty() ? candidates.last() : missing;
    if (reasons.isEmpty())
        return {chosen, QString()};
    return {chosen,
        reasons.join(u"。"_s) + u"。設定は "_s + QDir::toNativeSeparators(filePath(chosen)) + u" を使います。"_s};
}

Choice choose()
{
    return choose(current());
}

QString folder(const Environment &env)
{
    return choose(env).folder;
}

QString readingFolder(const Environment &env)
{
    if (judgeBeside(env, false).used)
        return env.executableFolder;
    using V = filetrust::Verdict;
    const QStringList candidates = userCandidates(env);
    for (const QString &c : candidates) {
        const V v = filetrust::folder(c, env.user);
        if (v == V::Trusted || v == V::Missing)
            return c;
    }
    return candidates.last();
}

namespace {

QString &kept()
{
    static QString folder;
    return folder;
}

} // namespace

QString folder()
{
    return kept().isEmpty() ? folder(current()) : kept();
}

void keep(const QString &folder)
{
    kept() = folder;
}

} // namespace SettingsLocation
