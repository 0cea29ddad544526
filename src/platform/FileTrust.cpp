#include "platform/FileTrust.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>
#endif

namespace filetrust {

#ifdef Q_OS_UNIX

namespace {

bool othersMayWrite(const struct stat &st, uint user)
{
    if (st.st_mode & S_IWOTH)
        return true;
    return (st.st_mode & S_IWGRP) && !isPrivateGroup(st.st_gid, user);
}

Verdict judge(const struct stat &st, uint user, bool wantFolder)
{
    if (wantFolder ? !S_ISDIR(st.st_mode) : !S_ISREG(st.st_mode))
        return Verdict::NotAFile;
    if (st.st_uid != user)
        return Verdict::OtherOwner;
    if (othersMayWrite(st, user))
        return Verdict::OthersMayWrite;
    return Verdict::Trusted;
}

} // namespace

uint currentUser()
{
    return ::geteuid();
}

bool isPrivateGroup(uint group, uint user)
{
    // Entries point into the buffers, which grow while the databases ask for more room.
    struct passwd pw
    { };
    std::vector<char> pwBuffer(4096);
    struct passwd *pwFound = nullptr;
    while (
        ::getpwuid_r(user, &pw, pwBuffer.data(), pwBuffer.size(), &pwFound) == ERANGE && pwBuffer.size() < (1u << 20))
        pwBuffer.resize(pwBuffer.size() * 2);
    if (!pwFound || pw.pw_gid != group)
        return false;
    struct group gr
    { };
    std::vector<char> grBuffer(4096);
    struct group *grFound = nullptr;
    while (
        ::getgrgid_r(group, &gr, grBuffer.data(), grBuffer.size(), &grFound) == ERANGE && grBuffer.size() < (1u << 20))
        grBuffer.resize(grBuffer.size() * 2);
    if (!grFound || std::strcmp(gr.gr_name, pw.pw_name) != 0)
        return false;
    for (char **member = gr.gr_mem; member && *member; ++member) {
        if (std::strcmp(*member, pw.pw_name) != 0)
            return false;
    }
    return true;
}

Verdict folder(const QString &path, uint user)
{
    const QByteArray name = QFile::encodeName(QDir::cleanPath(path));
    struct stat st
    { };
    if (::lstat(name.constData(), &st) != 0)
        return Verdict::Missing;
    const bool link = S_ISLNK(st.st_mode);
    if (link && st.st_uid != user)
        return Verdict::LinkByOther;
    if (::stat(name.constData(), &st) != 0)
        return link ? Verdict::DanglingLink : Verdict::Missing;
    const Verdict target = judge(st, user, true);
    return link && (target == Verdict::OtherOwner || target == Verdict::OthersMayWrite) ? Verdict::LinkToUntrusted
                                                                                        : target;
}

Verdict file(const QString &path, uint user)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat st
    { };
    if (::lstat(name.constData(), &st) != 0)
        return Verdict::Missing;
    if (!S_ISLNK(st.st_mode))
        return judge(st, user, false);
    if (st.st_uid != user)
        return Verdict::LinkByOther;
    if (::stat(name.constData(), &st) != 0)
        return Verdict::DanglingLink;
    const Verdict target = judge(st, user, false);
    if (target == Verdict::NotAFile)
        return target;
    if (target != Verdict::Trusted)
        return Verdict::LinkToUntrusted;
    // Whoever may write the target's folder could put another file in its place.
    const QString real = QFileInfo(path).canonicalFilePath();
    if (real.isEmpty() || folder(QFileInfo(real).path(), user) != Verdict::Trusted)
        return Verdict::LinkToUntrusted;
    return Verdict::Trusted;
}

QString writeTarget(const QString &path, uint user)
{
    struct stat st
    { };
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISLNK(st.st_mode))
        return path;
    if (file(path, user) != Verdict::Trusted)
        return QString();
    return QFileInfo(path).canonicalFilePath();
}

#else

uint currentUser()
{
    return 0;
}

bool isPrivateGroup(uint, uint)
{
    return false;
}

Verdict folder(const QString &path, uint)
{
    const QFileInfo info(path);
    if (!info.exists())
        return Verdict::Missing;
    return info.isDir() ? Verdict::Trusted : Verdict::NotAFile;
}

Verdict file(const QString &path, uint)
{
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
        return Verdict::Missing;
    return info.isFile() ? Verdict::Trusted : Verdict::NotAFile;
}

QString writeTarget(const QString &path, uint)
{
    return path;
}

#endif

} // namespace filetrust
