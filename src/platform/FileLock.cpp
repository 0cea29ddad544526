#include "platform/FileLock.h"

#include <QDir>
#include <QFile>
#include <QLockFile>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#endif

using namespace Qt::StringLiterals;

namespace {

QString reason(const QString &path, const QString &what)
{
    return u"%1 %2"_s.arg(QDir::toNativeSeparators(path), what);
}

} // namespace

FileLock::FileLock() = default;

FileLock::~FileLock()
{
    release();
}

#ifdef Q_OS_UNIX

namespace {

QString systemError(int code)
{
    return u"（%1）"_s.arg(QString::fromLocal8Bit(std::strerror(code)));
}

// Waits for nothing: EWOULDBLOCK means another open file holds it.
int tryLock(int fd)
{
    int r;
    do
        r = ::flock(fd, LOCK_EX | LOCK_NB);
    while (r != 0 && errno == EINTR);
    return r == 0 ? 0 : errno;
}

QString identityOf(const struct stat &st)
{
    return u"%1:%2"_s.arg(quint64(st.st_dev)).arg(quint64(st.st_ino));
}

} // namespace

// Locks the open file; on failure closes it and says why.
FileLock::Outcome FileLock::take(int fd, const QString &path)
{
    const int e = tryLock(fd);
    if (e == 0)
        return Outcome::Acquired;
    ::close(fd);
    if (e == EWOULDBLOCK)
        return Outcome::Held;
    m_error = reason(path, u"をロックできません"_s + systemError(e));
    return Outcome::Failed;
}

bool FileLock::holds() const
{
    return m_fd >= 0;
}

FileLock::Outcome FileLock::lockFile(const QString &path)
{
    release();
    m_error.clear();
    const QByteArray name = QFile::encodeName(path);
    // A holder removes the file while still holding it; whoever locked the removed file tries anew.
    for (int attempt = 0; attempt < 16; ++attempt) {
        const int fd = ::open(name.constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0600);
        if (fd < 0) {
            m_error = reason(path, errno == ELOOP ? u"はリンクです"_s : u"を開けません"_s + systemError(errno));
            return Outcome::Failed;
        }
        struct stat st
        { };
        if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) {
            ::close(fd);
            m_error = reason(path, u"は自分の普通のファイルではありません"_s);
            return Outcome::Failed;
        }
        m_identity = identityOf(st);
        if (const Outcome o = take(fd, path); o != Outcome::Acquired)
            return o;
        struct stat now
        { };
        if (::lstat(name.constData(), &now) != 0 || now.st_dev != st.st_dev || now.st_ino != st.st_ino) {
            ::close(fd);
            continue;
        }
        // Nobody else may open it to hold it against this user; what it says is for people only.
        ::fchmod(fd, 0600);
        const QByteArray pid = QByteArray::number(qint64(::getpid())) + '\n';
        [[maybe_unused]] const bool noted
            = ::ftruncate(fd, 0) == 0 && ::write(fd, pid.constData(), size_t(pid.size())) == pid.size();
        m_fd = fd;
        m_removeAt = path;
        return Outcome::Acquired;
    }
    m_error = reason(path, u"が作り直され続けています"_s);
    return Outcome::Failed;
}

FileLock::Outcome FileLock::lockExisting(const QString &path)
{
    release();
    m_error.clear();
    m_identity.clear();
    // Not blocking: a FIFO planted at the path must not hang the start.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return Outcome::Acquired;
    struct stat st
    { };
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return Outcome::Acquired;
    }
    m_identity = identityOf(st);
    if (const Outcome o = take(fd, path); o != Outcome::Acquired)
        return o;
    m_fd = fd;
    return Outcome::Acquired;
}

void FileLock::release()
{
    if (m_fd < 0)
        return;
    if (!m_removeAt.isEmpty()) {
        // Only the file this lock is on: a name taken over by another file stays.
        const QByteArray name = QFile::encodeName(m_removeAt);
        struct stat mine
        { };
        struct stat now
        { };
        if (::fstat(m_fd, &mine) == 0 && ::lstat(name.constData(), &now) == 0 && mine.st_dev == now.st_dev
            && mine.st_ino == now.st_ino)
            ::unlink(name.constData());
    }
    ::close(m_fd);
    m_fd = -1;
    m_removeAt.clear();
}

#else

// Elsewhere Qt's lock file stands in: its owner is judged by the process id it holds.
bool FileLock::holds() const
{
    return m_portable && m_portable->isLocked();
}

FileLock::Outcome FileLock::lockFile(const QString &path)
{
    release();
    m_error.clear();
    m_identity.clear();
    m_portable = std::make_unique<QLockFile>(path);
    m_portable->setStaleLockTime(0);
    if (m_portable->tryLock(0))
        return Outcome::Acquired;
    if (m_portable->error() == QLockFile::LockFailedError)
        return Outcome::Held;
    m_error = reason(path, u"をロックできません"_s);
    return Outcome::Failed;
}

FileLock::Outcome FileLock::lockExisting(const QString &)
{
    release();
    m_identity.clear();
    return Outcome::Acquired;
}

void FileLock::release()
{
    m_portable.reset();
}

#endif
