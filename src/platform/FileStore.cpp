#include "platform/FileStore.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QTemporaryFile>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

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

bool canWrite(const QString &path)
{
    const QFileInfo info(path);
    if (info.exists() && !info.isWritable())
        return false;
    QTemporaryFile probe(info.absolutePath() + QStringLiteral("/.probe-XXXXXX"));
    return probe.open();
}

} // namespace filestore
