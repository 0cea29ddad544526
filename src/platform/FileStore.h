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

// Writes to a temporary file in the same folder, flushes it to the disk and renames it over the
// target, so a crash leaves the old file or the new one. A new file gets mode 0600, an existing
// one keeps its mode, except that a Secret one that group or others may read gets 0600.
bool writeAtomically(const QString &path, const QByteArray &bytes, Privacy privacy = Privacy::Keep);

// Whether writeAtomically() could replace the file now: its folder takes a new file, and an
// existing file is not read-only.
bool canWrite(const QString &path);

} // namespace filestore
