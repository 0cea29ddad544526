#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// Whole-file access for the settings file.
namespace filestore {

// Identity of a file's current content as far as the file system tells it: a change by another
// writer (a rename over it included) changes the stamp.
struct Stamp
{
    bool exists = false;
    quint64 inode = 0;
    qint64 size = 0;
    qint64 mtimeNs = 0;
    friend bool operator==(const Stamp &, const Stamp &) = default;
};

Stamp stamp(const QString &path);

// The file's bytes; nothing when it is missing or cannot be read.
std::optional<QByteArray> readAll(const QString &path);

enum class Privacy { Keep, Secret };

// Writes to a temporary file ".<name>.tmp-XXXXXX" in the same folder, flushes it to the disk,
// renames it over the target and flushes the folder, so a crash leaves the old file or the new
// one. The temporary file has its final mode before its first byte: 0600 for a new file, the
// mode of the one it replaces otherwise, except that a Secret one that group or others may read
// gets 0600. A symbolic link at the path is followed only where filetrust::file() trusts it;
// otherwise nothing is written. Safe on any thread.
bool writeAtomically(const QString &path, const QByteArray &bytes, Privacy privacy = Privacy::Keep);

// Removes what a crash left of writeAtomically() beside the file: regular files of the user's
// that carry the temporary name, nothing else. Call it while nothing writes the file. False when
// one of them could not be removed.
bool removeLeftovers(const QString &path);

// Whether writeAtomically() could replace the file now: its folder takes a new file, an
// existing file is not read-only, and a link at the path may be followed.
bool canWrite(const QString &path);

} // namespace filestore
