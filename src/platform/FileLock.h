#pragma once

#include <QString>

#include <memory>

class QLockFile;

// An advisory lock of the kernel on a file, held while the object holds it. The kernel drops it
// when the process ends, however it ends, so a lock that no living process holds is free whatever
// its file says. It belongs to the open file, not to the process (flock, not fcntl), so another
// open and close of the same file in this program leaves it held; and the file is opened close-on-
// exec, so a child such as the browser engine never inherits it.
class FileLock
{
public:
    enum class Outcome {
        Acquired,
        Held, // by another open file: another living program
        Failed, // see error()
    };

    FileLock();
    ~FileLock();
    FileLock(const FileLock &) = delete;
    FileLock &operator=(const FileLock &) = delete;

    // A lock file at the path: made with mode 0600 where missing, never opened through a link,
    // and only a regular file of the user's. It is removed again at release, while still held,
    // so nobody holds a lock on a file that no longer has the name.
    Outcome lockFile(const QString &path);

    // The regular file that the path names now, not through a link: the lock is on that file
    // itself, so a start through any of its hard links meets it, and a file renamed over the path
    // later is another file. Nothing there counts as acquired.
    Outcome lockExisting(const QString &path);

    // The file the last lock asked for, as device and inode ("dev:ino"); empty where there was
    // none. The same for every name of one file.
    QString identity() const { return m_identity; }
    bool holds() const;
    // Why the last lock failed, in Japanese.
    QString error() const { return m_error; }

    void release();

private:
    Outcome take(int fd, const QString &path);

    int m_fd = -1;
    QString m_removeAt;
    QString m_identity;
    QString m_error;
    std::unique_ptr<QLockFile> m_portable;
};
