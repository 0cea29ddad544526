#include "settings/ProfileCache.h"

#include <iterator>

ProfileCache &ProfileCache::process()
{
    static ProfileCache c;
    return c;
}

std::shared_ptr<const PrivateProfile> ProfileCache::find(const QString &path, const filestore::Stamp &stamp) const
{
    const std::lock_guard lock(m_lock);
    const auto it = m_entries.constFind(path);
    if (it == m_entries.constEnd())
        return nullptr;
    return it->stamp == stamp ? it->doc : it->upcoming;
}

void ProfileCache::remember(
    const QString &path, const filestore::Stamp &stamp, std::shared_ptr<const PrivateProfile> doc, quint64 handedEnd)
{
    const std::lock_guard lock(m_lock);
    Entry &e = m_entries[path];
    e.stamp = stamp;
    e.doc = std::move(doc);
    const quint64 done = qMin<quint64>(handedEnd > e.handedFrom ? handedEnd - e.handedFrom : 0, e.handed.size());
    e.handed.erase(e.handed.begin(), e.handed.begin() + qsizetype(done));
    e.handedFrom += done;
}

void ProfileCache::announce(const QString &path, std::shared_ptr<const PrivateProfile> doc)
{
    const std::lock_guard lock(m_lock);
    m_entries[path].upcoming = std::move(doc);
}

void ProfileCache::handOver(const QString &path, std::vector<Write> writes)
{
    const std::lock_guard lock(m_lock);
    std::vector<Write> &handed = m_entries[path].handed;
    handed.insert(handed.end(), std::make_move_iterator(writes.begin()), std::make_move_iterator(writes.end()));
}

std::vector<ProfileCache::Write> ProfileCache::handedWrites(const QString &path, quint64 from, quint64 &end) const
{
    const std::lock_guard lock(m_lock);
    const auto it = m_entries.constFind(path);
    if (it == m_entries.constEnd()) {
        end = 0;
        return {};
    }
    end = it->handedFrom + it->handed.size();
    const quint64 skip = qMin<quint64>(from > it->handedFrom ? from - it->handedFrom : 0, it->handed.size());
    return {it->handed.begin() + qsizetype(skip), it->handed.end()};
}

bool ProfileCache::anyHandedOver(const QString &path) const
{
    const std::lock_guard lock(m_lock);
    const auto it = m_entries.constFind(path);
    return it != m_entries.constEnd() && !it->handed.empty();
}
