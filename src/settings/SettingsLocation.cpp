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

} // namespace

QString filePath(const QString &folder)
{
    return folder + u"/KVN.ini"_s;
}

Environment current()
{
    return {QCoreApplication::applicationDirPath(), qEnvironmentVariable("XDG_CONFIG_HOME"), QDir::homePath()};
}

QString userFolder(const Environment &env)
{
    QString base = env.xdgConfigHome;
    const QFileInfo info(base);
    if (base.isEmpty() || QDir::isRelativePath(base) || (info.exists() && !info.isDir()))
        base = env.home + u"/.config"_s;
    return QDir::cleanPath(base + u"/korvani"_s);
}

QString folder(const Environment &env)
{
    const QString beside = env.executableFolder;
    if (!beside.isEmpty() && !isSystemBinFolder(beside)) {
        const QString file = filePath(beside);
        if (QFileInfo::exists(file) || filestore::canWrite(file))
            return beside;
    }
    const QString user = userFolder(env);
    makeFolders(user);
    return user;
}

QString readingFolder(const Environment &env)
{
    const QString beside = env.executableFolder;
    if (!beside.isEmpty() && !isSystemBinFolder(beside)) {
        const QFileInfo file(filePath(beside));
        if (file.exists() || QFileInfo(beside).isWritable())
            return beside;
    }
    return userFolder(env);
}

QString folder()
{
    return folder(current());
}

} // namespace SettingsLocation
