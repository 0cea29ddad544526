#pragma once

#include <QString>
#include <QStringList>

// The lines of each mail the server took, appended and flushed beside the settings file by the
// mail's worker the moment the verdict arrives, before the window hears of it. The whole-file
// save that follows takes far longer at a large history; a kill before it ends would otherwise
// mail those lines again at the next start. KVN.ini stays the one place of record: the journal is
// merged into it at start, and forgets what a save holds.
//
// While the program runs the journal keeps room reserved on the disk, so that a mail taken while
// the disk is full is recorded all the same; a clean end removes it.
namespace sentjournal {

QString path(const QString &settingsFile);

// How much room the journal keeps for records the disk may no longer give.
inline constexpr qint64 kRoom = 256 * 1024;

// Reserves the room, creating the journal when missing. False when the disk gave less.
bool reserve(const QString &settingsFile);

// Appends the lines and flushes them to the disk. False when they could not be written; nothing
// of them stays then, and the whole-file save is the only record.
bool append(const QString &settingsFile, const QStringList &lines);

// The lines of the journal's whole records in the order they were taken.
QStringList read(const QString &settingsFile);

// Where the journal ends now. Take it before the history a save writes: the lines of every
// record before the mark are in that history then.
qint64 mark(const QString &settingsFile);

// A save holding every record before the mark is on disk: those records go, later ones stay.
// With removeWhenEmpty, a journal left with no record is removed, room and all.
void settle(const QString &settingsFile, qint64 mark, bool removeWhenEmpty = false);

// At start, before anything reads the settings: puts the journal's lines at the top of the
// history in the file, as the patrol would have, and forgets them once the file holds them.
// False when the file could not be written; the journal then keeps them for the window to take.
bool replay(const QString &folder);

} // namespace sentjournal
