#include "platform/Log.h"

#include <QByteArray>
#include <QByteArrayList>

#include <cstdio>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace Qt::StringLiterals;

namespace applog {

namespace {

void writeLines(Priority priority, QByteArray text)
{
    while (text.endsWith('\n') || text.endsWith('\r'))
        text.chop(1);
    if (toJournal()) {
        // The journal takes every line as an entry of its own: each needs its priority.
        const QByteArray mark = '<' + QByteArray::number(int(priority)) + '>';
        QByteArrayList lines = text.split('\n');
        for (QByteArray &line : lines) {
            if (line.endsWith('\r'))
                line.chop(1);
            line.prepend(mark);
        }
        text = lines.join('\n');
    }
    // One call per message: lines from two threads do not interleave.
    std::fprintf(stderr, "%s\n", text.constData());
}

Priority priorityOf(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg:
        return Priority::Debug;
    case QtInfoMsg:
        return Priority::Info;
    case QtWarningMsg:
        return Priority::Warning;
    case QtCriticalMsg:
    case QtFatalMsg:
        break;
    }
    return Priority::Error;
}

void handleQtMessage(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    // Without a screen, the window system and the engine's scene graph say these at every start.
    static const QString noise[]
        = {u"This plugin does not support propagateSizeHints()"_s, u"No suitable graphics backend found"_s};
    const QString said = message.trimmed();
    for (const QString &n : noise) {
        if (said == n)
            return;
    }
    Priority priority = priorityOf(type);
    // Pages from strangers then run unconfined: worth a warning, whatever Qt calls it.
    if (said == u"Sandboxing disabled by user.")
        priority = Priority::Warning;
    const QString formatted = qFormatLogMessage(type, context, message);
    if (!formatted.isNull())
        writeLines(priority, formatted.toLocal8Bit());
}

} // namespace

bool toJournal()
{
#ifdef Q_OS_UNIX
    const QByteArray stream = qgetenv("JOURNAL_STREAM");
    const qsizetype colon = stream.indexOf(':');
    if (colon <= 0)
        return false;
    bool deviceOk = false;
    bool inodeOk = false;
    const qulonglong device = stream.left(colon).toULongLong(&deviceOk);
    const qulonglong inode = stream.mid(colon + 1).toULongLong(&inodeOk);
    struct stat st
    { };
    return deviceOk && inodeOk && ::fstat(STDERR_FILENO, &st) == 0 && st.st_dev == device && st.st_ino == inode;
#else
    return false;
#endif
}

void write(Priority priority, const QString &text)
{
    writeLines(priority, "korvani: " + text.toLocal8Bit());
}

void installMessageHandler()
{
    qInstallMessageHandler(handleQtMessage);
}

} // namespace applog
