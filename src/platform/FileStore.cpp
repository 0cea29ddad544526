#include "platform/FileStore.h"

#include "platform/FileTrust.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSaveFile>
#include <QTemporaryFile>

#include <algorithm>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#endif

using namespace Qt::StringLiterals;

namespace filestore {

Stamp stamp(const QString &path)
{
    Stamp s;
#ifdef Q_OS_UNIX
    struct stat st
    { };
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return s;
    s.exists = true;
    s.inode = st.st_ino;
    s.size = st.st_size;
    s.mtimeNs = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
#else
    const QFileInfo fi(path);
    if (!fi.exists())
        return s;
    s.exists = true;
    s.size = fi.size();
    s.mtimeNs = fi.lastModified().toMSecsSinceEpoch() * 1000000;
#endif
    return s;
}

std::optional<QByteArray> readAll(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return std::nullopt;
    return f.readAll();
}

#ifdef Q_OS_UNIX

namespace {

QString temporaryPrefix(const QString &fileName)
{
    return u'.' + fileName + u".tmp-"_s;
}

constexpr int kSuffixLength = 6;

bool isSuffixChar(QChar c)
{
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9');
}

QString randomSuffix()
{
    static constexpr char16_t chars[] = u"abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    QString s(kSuffixLength, Qt::Uninitialized);
    for (QChar &c : s)
        c = QChar(chars[QRandomGenerator::global()->bounded(62)]);
    return s;
}

bool writeAll(int fd, const QByteArray &bytes)
{
    const char *at = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, at, size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        at += n;
        left -= n;
    }
    return true;
}

// Makes the rename itself survive a power cut. Some file systems cannot flush a folder at all.
bool syncFolder(const QByteArray &folder)
{
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::fsync(fd) == 0 || errno == EINVAL;
    ::close(fd);
    return ok;
}

} // namespace

bool writeAtomically(const QString &path, const QByteArray &bytes, Privacy privacy)
{
    const QString target = filetrust::writeTarget(path, filetrust::currentUser());
    if (target.isEmpty())
        return false;
    const QByteArray file = QFile::encodeName(target);
    const QFileInfo info(target);
    mode_t mode = S_IRUSR | S_IWUSR;
    struct stat st
    { };
    if (::lstat(file.constData(), &st) == 0) {
        // A read-only file stays as it is, as does anything that is no plain file.
        if (!S_ISREG(st.st_mode) || ::faccessat(AT_FDCWD, file.constData(), W_OK, AT_EACCESS) != 0)
            return false;
        mode = st.st_mode & 0777;
        if (privacy == Privacy::Secret && (mode & (S_IRGRP | S_IROTH)))
            mode = S_IRUSR | S_IWUSR;
    } else if (errno != ENOENT) {
        return false;
    }

    const QString folder = info.absolutePath();
    const QString prefix = folder + u'/' + temporaryPrefix(info.fileName());
    QByteArray temporary;
    int fd = -1;
    for (int attempt = 0; attempt < 64 && fd < 0; ++attempt) {
        temporary = QFile::encodeName(prefix + randomSuffix());
        fd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (fd < 0 && errno != EEXIST)
            return false;
    }
    if (fd < 0)
        return false;
    // The umask may have taken bits from the mode given to open(); it never adds any.
    bool ok = ::fchmod(fd, mode) == 0 && writeAll(fd, bytes) && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    ok = ok && ::rename(temporary.constData(), file.constData()) == 0;
    if (!ok) {
        ::unlink(temporary.constData());
        return false;
    }
    return syncFolder(QFile::encodeName(folder));
}

bool removeLeftovers(const QString &path)
{
    QStringList files {path};
    const QString target = filetrust::writeTarget(path, filetrust::currentUser());
    if (!target.isEmpty() && target != path)
        files.append(target);
    const uid_t user = ::geteuid();
    bool ok = true;
    for (const QString &f : std::as_const(files)) {
        const QFileInfo info(f);
        const QString prefix = temporaryPrefix(info.fileName());
        const QDir dir(info.absolutePath());
        const QStringList names = dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
        for (const QString &name : names) {
            if (name.size() != prefix.size() + kSuffixLength || !name.startsWith(prefix)
                || !std::all_of(name.cbegin() + prefix.size(), name.cend(), isSuffixChar))
                continue;
            const QByteArray full = QFile::encodeName(dir.filePath(name));
            struct stat st
            { };
            if (::lstat(full.constData(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != user)
                continue;
            if (::unlink(full.constData()) != 0 && errno != ENOENT)
                ok = false;
        }
    }
    return ok;
}

#else

bool writeAtomically(const QString &path, const QByteArray &bytes, Privacy privacy)
{
    const QFileDevice::Permissions ownerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
    QFileDevice::Permissions perms = QFile::exists(path) ? QFile::permissions(path) : ownerOnly;
    if (privacy == Privacy::Secret && (perms & (QFileDevice::ReadGroup | QFileDevice::ReadOther)))
        perms = ownerOnly;
    QSaveFile f(path);
    f.setDirectWriteFallback(false);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    if (!f.setPermissions(perms)) {
        f.cancelWriting();
        return false;
    }
    if (f.write(bytes) != bytes.size()) {
        f.cancelWriting();
        return false;
    }
    return f.commit();
}

bool removeLeftovers(const QString &)
{
    return true;
}

#endif

bool canWrite(const QString &path)
{
    const QString target = filetrust::writeTarget(path, filetrust::currentUser());
    if (target.isEmpty())
        return false;
    const QFileInfo info(target);
    if (info.exists() && !info.isWritable())
        return false;
    QTemporaryFile probe(info.absolutePath() + QStringLiteral("/.probe-XXXXXX"));
    return probe.open();
}

} // namespace filestore
