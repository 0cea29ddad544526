#include "platform/Process.h"

#include <QByteArray>
#include <QByteArrayList>
#include <QDir>
#include <QFile>
#include <QList>

#if defined(__linux__)
#include <sys/resource.h>
#include <sys/syscall.h>
#endif
#if defined(__unix__)
#include <unistd.h>
#endif

namespace process {

bool runningAsRoot()
{
#if defined(__unix__)
    return geteuid() == 0;
#else
    return false;
#endif
}

void lowerThreadPriority()
{
#if defined(__linux__)
    // On Linux a nice value belongs to the thread named by its id.
    setpriority(PRIO_PROCESS, id_t(syscall(SYS_gettid)), 10);
#endif
}

#if defined(__linux__)
namespace {

QByteArray readProc(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The children of every thread of the process: a child belongs to the thread that started it.
QList<qint64> childrenOf(qint64 pid)
{
    QList<qint64> out;
    const QString task = QStringLiteral("/proc/%1/task").arg(pid);
    for (const QString &tid : QDir(task).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        for (const QByteArray &child : readProc(task + u'/' + tid + QStringLiteral("/children")).split(' ')) {
            bool ok = false;
            const qint64 n = child.trimmed().toLongLong(&ok);
            if (ok && n > 0)
                out.append(n);
        }
    }
    return out;
}

} // namespace

TreeUsage treeUsage()
{
    static const double ticks = double(sysconf(_SC_CLK_TCK));
    static const qint64 pageBytes = sysconf(_SC_PAGESIZE);
    TreeUsage usage;
    QList<qint64> todo {qint64(getpid())};
    while (!todo.isEmpty()) {
        const qint64 pid = todo.takeLast();
        const QByteArray stat = readProc(QStringLiteral("/proc/%1/stat").arg(pid));
        // The name in parentheses may hold spaces; the fields after it are numbers.
        const qsizetype close = stat.lastIndexOf(')');
        if (close < 0)
            continue;
        const QByteArrayList fields = stat.mid(close + 2).split(' ');
        if (fields.size() < 22)
            continue;
        // utime, stime, cutime and cstime are fields 14 to 17 of the line, rss field 24.
        qint64 clock = 0;
        for (int i = 11; i <= 14; ++i)
            clock += fields[i].toLongLong();
        usage.cpuSeconds += double(clock) / ticks;
        usage.residentBytes += fields[21].toLongLong() * pageBytes;
        ++usage.processes;
        todo += childrenOf(pid);
    }
    return usage;
}
#else
TreeUsage treeUsage()
{
    return {};
}
#endif

} // namespace process
