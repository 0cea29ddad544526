#include "settings/clINI.h"

#include "settings/ServerSetting.h"

#include "platform/CodePage932.h"
#include "settings/SettingsLocation.h"

#include <atomic>
#include <mutex>

namespace {

// A value must stay on its line: CR and LF would start new lines (and so new keys or sections),
// and NUL would cut it short.
QString oneLine(QString s)
{
    for (QChar &c : s) {
        if (c == u'\r' || c == u'\n' || c == u'\0')
            c = u' ';
    }
    return s;
}

// One writer at a time in this program: a save on a worker thread and the dialog's on the window
// each read the file and write it back whole, and the second must see the first's work.
std::mutex &writeLock()
{
    static std::mutex m;
    return m;
}

// Background writers of the whole file on their way: while there is one, objects dropped
// elsewhere leave the writing to it.
std::atomic<int> writersOnTheirWay {0};

ProfileCache &profiles()
{
    return ProfileCache::process();
}

std::function<void()> &writingHook()
{
    static std::function<void()> hook;
    return hook;
}

} // namespace

QByteArray clINI::StoredBytes(const QString &value)
{
    const QByteArray bytes = cp932::encode(oneLine(value));
    return PrivateProfile::unquoted(PrivateProfile::trimmed(bytes)).toByteArray();
}

clINI::clINI()
    : clINI(QString())
{ }

clINI::clINI(const QString &folder)
    : m_path(SettingsLocation::filePath(folder.isEmpty() ? SettingsLocation::folder() : folder))
{ }

clINI::clINI(ByPath, const QString &path)
    : m_path(path)
{ }

clINI::clINI(const QString &folder, Holding)
    : clINI(folder)
{
    m_holding = std::unique_lock(writeLock());
}

clINI::~clINI()
{
    std::unique_lock lock = std::move(m_holding);
    const bool held = lock.owns_lock();
    // Half of a list written when an exception cut the writing short must not reach the file.
    const bool write = !m_pending.empty() && !m_failed && std::uncaught_exceptions() <= m_uncaught;
    // Writing a file of tens of thousands of lines here would hold up the thread that dropped
    // this, often the window's, when a writer on its way will write it anyway.
    const bool leave = write && !held && writersOnTheirWay.load() > 0;
    if (write && !held && !leave)
        lock = std::unique_lock(writeLock(), std::try_to_lock);
    if (write && lock.owns_lock()) {
        writeLocked();
    } else if (write) {
        profiles().handOver(m_path, std::move(m_pending));
        m_pending.clear();
    }
    if (lock.owns_lock())
        lock.unlock();
    // Handed over first, then looked for the lock: either this thread or the holder, which looks
    // after it lets go, writes them.
    if ((write && !leave) || held)
        writeHandedOver(m_path);
}

void clINI::writerOnItsWay(bool onItsWay)
{
    writersOnTheirWay += onItsWay ? 1 : -1;
}

bool clINI::handedOver(const QString &folder)
{
    return profiles().anyHandedOver(SettingsLocation::filePath(folder.isEmpty() ? SettingsLocation::folder() : folder));
}

void clINI::setWritingHook(std::function<void()> hook)
{
    writingHook() = std::move(hook);
}

QString clINI::CutAtNull(const QString &text)
{
    const qsizetype nul = text.indexOf(QChar(u'\0'));
    return nul < 0 ? text : text.left(nul);
}

QByteArray clINI::toFile(const QString &text) const
{
    return m_shared && doc().isUtf16() ? PrivateProfile::utf16Text(text) : cp932::encode(text);
}

QString clINI::storedValue(const SettingKey &k) const
{
    const std::optional<QByteArray> v = doc().value(toFile(k.section), toFile(k.key));
    if (!v)
        return QString();
    return doc().isUtf16() ? QString::fromUtf8(*v) : cp932::decode(*v);
}

bool clINI::holdsPassword() const
{
    return !storedValue(Keys::PopPassword).isEmpty() || serverHoldsPassword(storedValue(Keys::SmtpServer))
        || serverHoldsPassword(storedValue(Keys::PopServer));
}

// Reads the file again when somebody else has changed it since, keeping this object's own
// pending writes on top.
void clINI::sync()
{
    const filestore::Stamp now = filestore::stamp(m_path);
    if (m_shared && now == m_stamp) {
        // Writes handed over since go on top: they came later. Cheap for a view of a big file.
        const std::vector<Write> newer = profiles().handedWrites(m_path, m_handedEnd, m_handedEnd);
        if (newer.empty())
            return;
        if (!m_own)
            m_own = std::make_unique<PrivateProfile>(*m_shared);
        for (const Write &w : newer)
            m_own->setValue(w.section, w.key, w.value);
        return;
    }
    std::shared_ptr<const PrivateProfile> shared = now.exists ? profiles().find(m_path, now) : nullptr;
    if (!shared) {
        const std::optional<QByteArray> bytes = now.exists ? filestore::readAll(m_path) : std::nullopt;
        shared = std::make_shared<const PrivateProfile>(PrivateProfile::parse(bytes.value_or(QByteArray())));
        if (bytes)
            profiles().remember(m_path, now, shared, 0);
    }
    m_shared = std::move(shared);
    m_stamp = now;
    m_own.reset();
    const std::vector<Write> handed = profiles().handedWrites(m_path, 0, m_handedEnd);
    if (m_pending.empty() && handed.empty())
        return;
    m_own = std::make_unique<PrivateProfile>(*m_shared);
    for (const Write &w : handed)
        m_own->setValue(w.section, w.key, w.value);
    for (const Write &w : m_pending)
        m_own->setValue(w.section, w.key, w.value);
}

QString clINI::GetSetting(QString section, QString key, QString defaultValue)
{
    sync();
    std::optional<QByteArray> v = doc().value(toFile(section), toFile(key));
    QByteArray bytes;
    if (v) {
        // The profile reader hands out code page 932 whatever the file's own encoding.
        bytes = doc().isUtf16() ? cp932::encode(PrivateProfile::fromUtf16Text(*v)) : std::move(*v);
    } else {
        bytes = cp932::encode(defaultValue);
        qsizetype e = bytes.size();
        while (e > 0 && PrivateProfile::isBlank(bytes[e - 1]))
            --e;
        bytes.truncate(e);
    }
    return CutAtNull(cp932::decode(cp932::truncate(bytes, kValueBytes)));
}

void clINI::SaveSetting(QString section, QString key, QString value)
{
    sync();
    Write w {toFile(oneLine(section)), toFile(oneLine(key)), toFile(oneLine(value))};
    if (!m_own)
        m_own = std::make_unique<PrivateProfile>(*m_shared);
    m_own->setValue(w.section, w.key, w.value);
    m_pending.push_back(std::move(w));
}

bool clINI::commit()
{
    bool ok = !m_failed;
    {
        std::unique_lock lock = std::move(m_holding);
        if (!lock.owns_lock() && m_pending.empty())
            return ok;
        if (!m_pending.empty()) {
            if (!lock.owns_lock())
                lock = std::unique_lock(writeLock());
            ok = writeLocked();
        }
    }
    writeHandedOver(m_path);
    return ok;
}

bool clINI::writeLocked()
{
    sync();
    if (!m_own)
        return true;
    const filestore::Privacy privacy = holdsPassword() ? filestore::Privacy::Secret : filestore::Privacy::Keep;
    std::shared_ptr<const PrivateProfile> written(std::move(m_own));
    profiles().announce(m_path, written);
    if (writingHook())
        writingHook()();
    const bool ok = filestore::writeAtomically(m_path, written->serialize(), privacy);
    m_pending.clear();
    if (!ok) {
        profiles().announce(m_path, nullptr);
        m_failed = true;
        m_shared.reset(); // the next read goes back to the file
        return false;
    }
    // What was written is what the next reader finds: nobody need parse it again, not even one
    // who sees the new file before this line.
    m_stamp = filestore::stamp(m_path);
    m_shared = std::move(written);
    profiles().remember(m_path, m_stamp, m_shared, m_handedEnd);
    profiles().announce(m_path, nullptr);
    return true;
}

void clINI::writeHandedOver(const QString &path)
{
    while (profiles().anyHandedOver(path)) {
        const std::unique_lock lock(writeLock(), std::try_to_lock);
        if (!lock.owns_lock())
            return;
        // A failure leaves them for the next write, which includes them like every read does.
        if (!clINI(ByPath {}, path).writeLocked())
            return;
    }
}
