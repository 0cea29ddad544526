#pragma once

#include "platform/FileStore.h"
#include "settings/PrivateProfile.h"
#include "settings/ProfileCache.h"
#include "settings/SettingKeys.h"

#include <QString>

#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

class TestClIni;

// The settings file "KVN.ini" in the folder that SettingsLocation decides, or in the folder given
// (an empty one means the same). A routine makes one object, uses it for all its reads and writes,
// and drops it. Its writes become visible together when it is dropped (or at commit()); its own
// reads see them before. An object dropped while an exception unwinds the stack, or after a failed
// write, writes nothing. Nothing here throws or shows anything.
//
// One writer at a time replaces the file. An object dropped while another writes it (a save of
// the whole history on a worker thread) does not wait: its writes are handed over, every object
// of this program reads them from then on, and that writer writes them once it is done.
class clINI
{
public:
    clINI();
    explicit clINI(const QString &folder);
    // For a writer of much (the whole history): holds the file from here to commit() or the drop,
    // so that objects dropped meanwhile hand their writes over rather than write under it.
    struct Holding
    { };
    clINI(const QString &folder, Holding);
    ~clINI();

    clINI(const clINI &) = delete;
    clINI &operator=(const clINI &) = delete;

    QString GetSetting(QString section, QString key, QString defaultValue);
    void SaveSetting(QString section, QString key, QString value);

    QString GetSetting(const SettingKey &k) { return GetSetting(k.section, k.key, k.defaultValue); }
    void SaveSetting(const SettingKey &k, const QString &value) { SaveSetting(k.section, k.key, value); }

    // Writes what is pending now. False when the file could not be written; the pending writes
    // are then dropped, and writeFailed() stays true.
    bool commit();
    bool writeFailed() const { return m_failed; }

    const QString &path() const { return m_path; }

    static constexpr qsizetype kValueBytes = 1023;

    // The code page 932 bytes that reading back a value written by SaveSetting yields, before the
    // reader's length limit: CR, LF and NUL made spaces, blanks at the ends and one pair of
    // enclosing quotes gone.
    static QByteArray StoredBytes(const QString &value);

    // A writer of the whole file is on its way (true) or done (false), said on one thread in
    // pairs: meanwhile objects dropped elsewhere hand their writes over without writing the file.
    // The writer's owner then looks whether handedOver() and writes again.
    static void writerOnItsWay(bool onItsWay);
    static bool handedOver(const QString &folder);

private:
    // Its test sets a hook that runs on the writing thread while a commit holds the file, before
    // it is replaced.
    friend class ::TestClIni;
    static void setWritingHook(std::function<void()> hook);

    using Write = ProfileCache::Write;

    static QString CutAtNull(const QString &text);

    struct ByPath
    { };
    clINI(ByPath, const QString &path);

    void sync();
    // Writes this object's view of the file; the caller holds the write lock.
    bool writeLocked();
    // Writes what objects handed over, unless another writer holds the file and so will.
    static void writeHandedOver(const QString &path);
    QByteArray toFile(const QString &text) const;
    QString storedValue(const SettingKey &k) const;
    // A password stored in the file makes it the user's alone at the next write.
    bool holdsPassword() const;

    // The file as read, shared by every object that reads the same unchanged file: a file of tens
    // of thousands of history lines takes a while to parse. This object's own writes go to a copy.
    const PrivateProfile &doc() const { return m_own ? *m_own : *m_shared; }

    QString m_path;
    std::shared_ptr<const PrivateProfile> m_shared;
    std::unique_ptr<PrivateProfile> m_own;
    filestore::Stamp m_stamp;
    std::vector<Write> m_pending;
    std::unique_lock<std::mutex> m_holding;
    // The handed-over writes this object's view includes: those numbered below this.
    quint64 m_handedEnd = 0;
    int m_uncaught = std::uncaught_exceptions();
    bool m_failed = false;
};
