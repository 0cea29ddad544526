#include "app/SentJournal.h"

#include "app/ListPersistence.h"
#include "settings/SettingsLocation.h"
#include "settings/clINI.h"

#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace sentjournal {

namespace {

bool writeAll(int fd, const QByteArray &bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

void syncFolder(const QString &file)
{
    const int dir
        = ::open(QFile::encodeName(QFileInfo(file).absolutePath()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
}

} // namespace

QString path(const QString &settingsFile)
{
    return settingsFile + u".sent"_s;
}

bool append(const QString &settingsFile, const QStringList &lines)
{
    if (lines.isEmpty())
        return true;
    // A page line holds no line break, but nothing here relies on it: each record is encoded.
    QByteArray bytes;
    for (const QString &line : lines)
        bytes += line.toUtf8().toPercentEncoding(" ") + '\n';
    const QByteArray name = QFile::encodeName(path(settingsFile));
    bool created = true;
    int fd = ::open(name.constData(), O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0 && errno == EEXIST) {
        created = false;
        fd = ::open(name.constData(), O_WRONLY | O_APPEND | O_NOFOLLOW | O_CLOEXEC);
    }
    if (fd < 0)
        return false;
    const bool ok = writeAll(fd, bytes) && ::fdatasync(fd) == 0;
    ::close(fd);
    if (ok && created)
        syncFolder(settingsFile);
    return ok;
}

QStringList read(const QString &settingsFile)
{
    QFile f(path(settingsFile));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const QByteArray all = f.readAll();
    QStringList lines;
    qsizetype start = 0;
    for (qsizetype end = all.indexOf('\n'); end >= 0; start = end + 1, end = all.indexOf('\n', start)) {
        const QString line = QString::fromUtf8(QByteArray::fromPercentEncoding(all.mid(start, end - start)));
        if (!line.isEmpty())
            lines.append(line);
    }
    return lines;
}

void remove(const QString &settingsFile)
{
    QFile::remove(path(settingsFile));
}

bool replay(const QString &folder)
{
    const QString file = SettingsLocation::filePath(folder);
    if (!QFileInfo::exists(path(file)))
        return true;
    const QStringList taken = read(file);
    clINI ini(folder);
    QStringList history = ListPersistence::history(ini);
    bool changed = false;
    for (const QString &line : taken) {
        if (history.contains(line))
            continue;
        history.prepend(line);
        changed = true;
    }
    if (changed) {
        ListPersistence::saveHistory(ini, history);
        if (!ini.commit())
            return false;
    }
    remove(file);
    return true;
}

} // namespace sentjournal
