#include "app/SentJournal.h"

#include "app/ListPersistence.h"
#include "platform/RecordFile.h"
#include "settings/SettingsLocation.h"
#include "settings/clINI.h"

#include <QFile>

using namespace Qt::StringLiterals;

namespace sentjournal {

QString path(const QString &settingsFile)
{
    return settingsFile + u".sent"_s;
}

bool reserve(const QString &settingsFile)
{
    return recordfile::reserve(path(settingsFile), kRoom);
}

bool append(const QString &settingsFile, const QStringList &lines)
{
    // A page line holds no line break, but nothing here relies on it: each record is encoded.
    QByteArrayList records;
    for (const QString &line : lines)
        records.append(line.toUtf8().toPercentEncoding(" "));
    return recordfile::append(path(settingsFile), records, kRoom);
}

namespace {

// A journal an earlier version left after a crash: one percent-encoded line per record, without
// checksum or padding. A line cut off by that crash has no line break after it.
QByteArrayList earlierRecords(const QString &journal)
{
    QFile f(journal);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const QByteArray all = f.readAll();
    if (all.contains('\0') || all.contains('\t'))
        return {};
    QByteArrayList records = all.split('\n');
    records.removeLast();
    return records;
}

} // namespace

QStringList read(const QString &settingsFile)
{
    QByteArrayList records = recordfile::read(path(settingsFile));
    if (records.isEmpty())
        records = earlierRecords(path(settingsFile));
    QStringList lines;
    for (const QByteArray &record : records) {
        const QString line = QString::fromUtf8(QByteArray::fromPercentEncoding(record));
        if (!line.isEmpty())
            lines.append(line);
    }
    return lines;
}

qint64 mark(const QString &settingsFile)
{
    return recordfile::mark(path(settingsFile));
}

void settle(const QString &settingsFile, qint64 mark, bool removeWhenEmpty)
{
    recordfile::drop(path(settingsFile), mark, kRoom, removeWhenEmpty);
}

bool replay(const QString &folder)
{
    const QString file = SettingsLocation::filePath(folder);
    const qint64 end = mark(file);
    const QStringList taken = read(file);
    if (taken.isEmpty())
        return true;
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
    settle(file, end);
    return true;
}

} // namespace sentjournal
