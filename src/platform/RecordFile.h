#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QString>

// A small file of records that must reach the disk at once, even a full one. Each record is one
// line with its checksum; after the records the file holds NUL padding whose blocks the disk has
// already given, so a record written into it needs no new room. A record cut off by a crash, or
// one that could not be cut back, is skipped whole; every record starts on a line of its own.
//
// The file is written in place, never replaced while records are appended, and created with mode
// 0600; a link at the path is never followed. Safe on any thread: one lock serves every file.
namespace recordfile {

// Makes sure that room bytes of padding follow the records, creating the file when missing.
// False when the disk gave less.
bool reserve(const QString &path, qint64 room);

// Appends the records (no LF or NUL inside) and flushes them to the disk before it returns true.
// On failure nothing of them stays: the file is cut back to what it held. Then the padding is
// topped up to room where the disk allows.
bool append(const QString &path, const QByteArrayList &records, qint64 room);

// The whole records, oldest first; nothing when the file is missing.
QByteArrayList read(const QString &path);

// Where the records end now, counted over the life of the file in this program, so that a mark
// stays right after an earlier drop().
qint64 mark(const QString &path);

// Forgets the records before the mark and keeps the ones appended after it, with room bytes of
// padding. With removeWhenEmpty, a file left without records is removed. False when the records
// before the mark could not be forgotten; they stay then.
bool drop(const QString &path, qint64 mark, qint64 room, bool removeWhenEmpty = false);

} // namespace recordfile
