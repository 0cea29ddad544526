#pragma once

#include "platform/FileStore.h"
#include "settings/PrivateProfile.h"

#include <QByteArray>
#include <QHash>
#include <QString>

#include <memory>
#include <mutex>
#include <vector>

// The settings files this program last read or wrote, by path, for every clINI of the process: a
// file of tens of thousands of history lines takes a while to parse, so a new object reads nothing
// while the file is as it was. A change by anybody (another program, an editor, a rename over it)
// changes the stamp. It also keeps the writes handed over while another writer holds a file, until
// a write that includes them has replaced it. Any thread may call it.
class ProfileCache
{
public:
    // One write as the file holds it.
    struct Write
    {
        QByteArray section, key, value;
    };

    static ProfileCache &process();

    // The file at path as last read or written, while it has this stamp; otherwise what this
    // program is writing there now, so that a reader who already sees the new file does not parse
    // it again on the window's thread; otherwise null.
    std::shared_ptr<const PrivateProfile> find(const QString &path, const filestore::Stamp &stamp) const;
    // The file at path has this stamp and holds doc, which includes the handed-over writes
    // numbered below handedEnd: those are done.
    void remember(const QString &path, const filestore::Stamp &stamp, std::shared_ptr<const PrivateProfile> doc,
        quint64 handedEnd);
    // What this program is writing to path now; null once the write is over.
    void announce(const QString &path, std::shared_ptr<const PrivateProfile> doc);

    // Writes for whoever writes path next, after those handed over before.
    void handOver(const QString &path, std::vector<Write> writes);
    // The handed-over writes numbered from `from` on; end becomes the number after the last.
    std::vector<Write> handedWrites(const QString &path, quint64 from, quint64 &end) const;
    bool anyHandedOver(const QString &path) const;

private:
    struct Entry
    {
        filestore::Stamp stamp;
        std::shared_ptr<const PrivateProfile> doc;
        std::shared_ptr<const PrivateProfile> upcoming;
        // Oldest first, numbered from handedFrom.
        std::vector<Write> handed;
        quint64 handedFrom = 0;
    };

    mutable std::mutex m_lock;
    QHash<QString, Entry> m_entries;
};
