#pragma once

#include <QString>
#include <QStringList>

// The lines of each mail the server took, appended and flushed beside the settings file the
// moment the verdict arrives. The whole-file save that follows takes far longer at a large
// history; a crash inside it would otherwise mail those lines again at the next start.
// KVN.ini stays the one place of record: the journal is merged into it at start and removed
// after every save that holds its lines.
namespace sentjournal {

QString path(const QString &settingsFile);

// Appends the lines as one record each and flushes them to the disk. False when they could not
// be written; the whole-file save is then the only record, as before.
bool append(const QString &settingsFile, const QStringList &lines);

// The whole lines of the journal in the order they were taken; a line cut off by a crash is
// not among them.
QStringList read(const QString &settingsFile);

void remove(const QString &settingsFile);

// At start, before anything reads the settings: puts the journal's lines at the top of the
// history in the file, as the patrol would have, and removes the journal once the file holds
// them. False when the file could not be written; the journal then stays for the next start.
bool replay(const QString &folder);

} // namespace sentjournal
