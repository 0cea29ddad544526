#include "platform/RecordFile.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <algorithm>
#include <mutex>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace recordfile {

namespace {

std::mutex &lock()
{
    static std::mutex m;
    return m;
}

// Bytes forgotten at the front of each file in this run: a mark counts them, so that one taken
// before a drop that started the file afresh forgets nothing appended since.
QHash<QString, qint64> &forgotten()
{
    static QHash<QString, qint64> h;
    return h;
}

QByteArray frame(const QByteArray &record)
{
    const quint16 sum = qChecksum(record);
    return record + '\t' + QByteArray::number(sum, 16).rightJustified(4, '0') + '\n';
}

// The end of the records: the padding and the zeros of a front that was forgotten are NULs.
qsizetype recordsEnd(const QByteArray &bytes)
{
    qsizetype end = bytes.size();
    while (end > 0 && bytes.at(end - 1) == '\0')
        --end;
    return end;
}

QByteArrayList parse(const QByteArray &bytes)
{
    QByteArrayList records;
    const qsizetype end = recordsEnd(bytes);
    qsizetype start = 0;
    for (qsizetype nl = bytes.indexOf('\n'); nl >= 0 && nl < end; start = nl + 1, nl = bytes.indexOf('\n', start)) {
        QByteArrayView line(bytes.constData() + start, nl - start);
        while (!line.isEmpty() && line.front() == '\0')
            line = line.sliced(1);
        const qsizetype tab = line.lastIndexOf('\t');
        if (tab < 0 || line.size() - tab != 5 || line.contains('\0'))
            continue;
        bool ok = false;
        const uint sum = line.sliced(tab + 1).toUInt(&ok, 16);
        const QByteArrayView record = line.first(tab);
        if (ok && sum == qChecksum(record))
            records.append(record.toByteArray());
    }
    return records;
}

#ifdef Q_OS_UNIX

class File
{
public:
    // Opens the file for reading and writing; with create, makes it when missing.
    File(const QString &path, bool create)
    {
        const QByteArray name = QFile::encodeName(path);
        if (create) {
            m_fd = ::open(name.constData(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
            m_created = m_fd >= 0;
        }
        if (m_fd < 0 && (!create || errno == EEXIST))
            m_fd = ::open(name.constData(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
        if (m_fd < 0)
            return;
        struct stat st
        { };
        if (::fstat(m_fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            ::close(m_fd);
            m_fd = -1;
            return;
        }
        m_size = st.st_size;
        if (m_created) {
            // The new name itself must survive a power cut.
            const int dir = ::open(
                QFile::encodeName(QFileInfo(path).absolutePath()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            if (dir >= 0) {
                ::fsync(dir);
                ::close(dir);
            }
        }
    }
    ~File()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    File(const File &) = delete;
    File &operator=(const File &) = delete;

    bool isOpen() const { return m_fd >= 0; }
    qint64 size() const { return m_size; }

    QByteArray readAll() const
    {
        QByteArray bytes(m_size, Qt::Uninitialized);
        qint64 done = 0;
        while (done < m_size) {
            const ssize_t n = ::pread(m_fd, bytes.data() + done, size_t(m_size - done), done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            done += n;
        }
        bytes.truncate(done);
        return bytes;
    }

    // How many bytes reached the file; all of them on success.
    qint64 write(const QByteArray &bytes, qint64 at)
    {
        qint64 done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::pwrite(m_fd, bytes.constData() + done, size_t(bytes.size() - done), at + done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            done += n;
        }
        m_size = std::max(m_size, at + done);
        return done;
    }

    bool sync() { return ::fdatasync(m_fd) == 0; }

    // Takes the file back to what it held before written bytes went in at offset at.
    void cutBack(qint64 at, qint64 written, qint64 sizeBefore)
    {
        if (m_size > sizeBefore && ::ftruncate(m_fd, std::max(sizeBefore, at)) == 0)
            m_size = std::max(sizeBefore, at);
        const qint64 within = std::min(at + written, m_size) - at;
        if (within > 0)
            write(QByteArray(within, '\0'), at);
        sync();
    }

    // Blocks the disk has given for bytes up to length, zeros where nothing was written.
    bool allocate(qint64 length)
    {
        if (::posix_fallocate(m_fd, 0, length) != 0)
            return false;
        m_size = std::max(m_size, length);
        return ::fsync(m_fd) == 0;
    }

private:
    int m_fd = -1;
    bool m_created = false;
    qint64 m_size = 0;
};

bool removeFile(const QString &path)
{
    return ::unlink(QFile::encodeName(path).constData()) == 0 || errno == ENOENT;
}

#else

// Without the calls above: the same layout, padding written as zeros.
class File
{
public:
    File(const QString &path, bool create)
        : m_file(path)
    {
        if (create || m_file.exists())
            m_file.open(QIODevice::ReadWrite);
    }
    bool isOpen() const { return m_file.isOpen(); }
    qint64 size() const { return m_file.size(); }
    QByteArray readAll()
    {
        m_file.seek(0);
        return m_file.readAll();
    }
    qint64 write(const QByteArray &bytes, qint64 at)
    {
        if (!m_file.seek(at))
            return 0;
        return std::max<qint64>(0, m_file.write(bytes));
    }
    bool sync() { return m_file.flush(); }
    void cutBack(qint64 at, qint64 written, qint64 sizeBefore)
    {
        if (m_file.size() > sizeBefore)
            m_file.resize(std::max(sizeBefore, at));
        const qint64 within = std::min(at + written, m_file.size()) - at;
        if (within > 0)
            write(QByteArray(within, '\0'), at);
        sync();
    }
    bool allocate(qint64 length)
    {
        const qint64 now = m_file.size();
        return now >= length || (write(QByteArray(length - now, '\0'), now) == length - now && sync());
    }

private:
    QFile m_file;
};

bool removeFile(const QString &path)
{
    return QFile::remove(path) || !QFile::exists(path);
}

#endif

bool topUp(File &file, qint64 end, qint64 room)
{
    return file.size() - end >= room || file.allocate(end + room);
}

} // namespace

bool reserve(const QString &path, qint64 room)
{
    const std::lock_guard guard(lock());
    File file(path, true);
    return file.isOpen() && topUp(file, recordsEnd(file.readAll()), room);
}

bool append(const QString &path, const QByteArrayList &records, qint64 room)
{
    if (records.isEmpty())
        return true;
    const std::lock_guard guard(lock());
    File file(path, true);
    if (!file.isOpen())
        return false;
    const QByteArray bytes = file.readAll();
    const qint64 end = recordsEnd(bytes);
    QByteArray out;
    // What a failed write left that could not be cut back stays a broken line of its own.
    if (end > 0 && bytes.at(end - 1) != '\n')
        out += '\n';
    for (const QByteArray &record : records)
        out += frame(record);
    const qint64 sizeBefore = file.size();
    const qint64 written = file.write(out, end);
    if (written != out.size() || !file.sync()) {
        file.cutBack(end, written, sizeBefore);
        return false;
    }
    topUp(file, end + out.size(), room);
    return true;
}

QByteArrayList read(const QString &path)
{
    const std::lock_guard guard(lock());
    File file(path, false);
    return file.isOpen() ? parse(file.readAll()) : QByteArrayList {};
}

qint64 mark(const QString &path)
{
    const std::lock_guard guard(lock());
    File file(path, false);
    return forgotten().value(path) + (file.isOpen() ? recordsEnd(file.readAll()) : 0);
}

bool drop(const QString &path, qint64 mark, qint64 room, bool removeWhenEmpty)
{
    const std::lock_guard guard(lock());
    qint64 &base = forgotten()[path];
    File file(path, false);
    if (!file.isOpen())
        return true;
    const QByteArray bytes = file.readAll();
    const qint64 end = recordsEnd(bytes);
    const qint64 upTo = std::min(mark - base, end);
    const bool rest = !parse(bytes.mid(std::max<qint64>(upTo, 0))).isEmpty();
    if (!rest && removeWhenEmpty) {
        if (!removeFile(path))
            return false;
        base += end;
        return true;
    }
    if (upTo <= 0)
        return true;
    // In place, never moved: a crash in the middle leaves records already saved, nothing lost.
    // With nothing left the file starts afresh, and marks taken so far point before it.
    const qint64 zeros = rest ? upTo : end;
    if (file.write(QByteArray(zeros, '\0'), 0) != zeros || !file.sync())
        return false;
    if (!rest)
        base += end;
    topUp(file, rest ? end : 0, room);
    return true;
}

} // namespace recordfile
