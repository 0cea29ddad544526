#pragma once

#include "app/ListPersistence.h"
#include "patrol/Schedule.h"
#include "patrol/TargetHealth.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>
#include <thread>

// Writes what the program has learned (the three lists and the targets' health) to the settings
// file while it runs, so that a kill or a power cut loses nothing older than a moment. The file
// is written whole, as at the end, on a thread of its own: with tens of thousands of history
// entries a save takes longer than the window may stand still.
class SettingsSaver : public QObject
{
    Q_OBJECT
public:
    struct Snapshot
    {
        ListPersistence::Lists lists;
        QList<TargetHealth::Saved> health;
        // Only once the user has changed a schedule: the file's own entries stay as they are.
        std::optional<QList<TargetSchedule>> schedules;
        // Runs on the user-interface thread once this snapshot is on disk.
        std::function<void()> saved;
    };

    // folder and take are asked on the user-interface thread at the start of each save.
    SettingsSaver(std::function<QString()> folder, std::function<Snapshot()> take, QObject *parent = nullptr);
    ~SettingsSaver() override;

    // Something changed: saved within a second, several changes in one save.
    void saveSoon();
    // Saves what is known now and returns once it is on disk (true) or could not be written,
    // letting window messages run meanwhile.
    bool saveNow();
    // The end: waits for a save on its way; nothing is saved after.
    void stop();

    bool failing() const { return m_failing; }
    // A save is on its way and has not reported back.
    bool saving() const { return m_running; }

    // Writes a snapshot into the file through ini; what the end of the program writes, too.
    static void write(clINI &ini, const Snapshot &snapshot);

    // How long a change waits for others to join it, and how soon a failed save is tried again.
    static constexpr int kGatherMs = 250;
    static constexpr int kRetryMs = 5000;

Q_SIGNALS:
    // The file could not be written; said once until a save works again.
    void failed(const QString &path);
    void recovered();

private:
    struct Job;
    void start();
    void finished(bool ok, const QString &path, quint64 generation);
    void join();

    std::function<QString()> m_folder;
    std::function<Snapshot()> m_take;
    QTimer m_gather;
    QTimer m_retry;
    std::thread m_thread;
    bool m_running = false;
    bool m_stopped = false;
    bool m_failing = false;
    // Changes are numbered; a save covers every change numbered before it started.
    quint64 m_changes = 0;
    quint64 m_savedUpTo = 0;
    quint64 m_inFlight = 0;
    quint64 m_urgent = 0;
    bool m_lastOk = true;
};
