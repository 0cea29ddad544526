#include "app/SettingsSaver.h"

#include "patrol/HealthStore.h"
#include "platform/MessagePump.h"
#include "platform/Process.h"
#include "settings/clINI.h"

#include <exception>

SettingsSaver::SettingsSaver(std::function<QString()> folder, std::function<Snapshot()> take, QObject *parent)
    : QObject(parent)
    , m_folder(std::move(folder))
    , m_take(std::move(take))
{
    m_gather.setSingleShot(true);
    m_gather.setInterval(kGatherMs);
    connect(&m_gather, &QTimer::timeout, this, &SettingsSaver::start);
    m_retry.setSingleShot(true);
    m_retry.setInterval(kRetryMs);
    connect(&m_retry, &QTimer::timeout, this, &SettingsSaver::start);
}

SettingsSaver::~SettingsSaver()
{
    stop();
}

void SettingsSaver::write(clINI &ini, const Snapshot &snapshot)
{
    ListPersistence::save(ini, snapshot.lists);
    HealthStore::write(ini, snapshot.health);
    if (snapshot.schedules)
        ScheduleStore::write(ini, *snapshot.schedules);
}

void SettingsSaver::saveSoon()
{
    if (m_stopped)
        return;
    ++m_changes;
    if (!m_running && !m_gather.isActive())
        m_gather.start();
}

bool SettingsSaver::saveNow()
{
    if (m_stopped)
        return false;
    const quint64 wanted = ++m_changes;
    m_urgent = wanted;
    m_gather.stop();
    if (!m_running)
        start();
    // A save already on its way started before this change; finished() starts the next one.
    while (!m_stopped && m_savedUpTo < wanted && (m_running || m_lastOk))
        pump::waitForEvents(20);
    return m_savedUpTo >= wanted;
}

void SettingsSaver::start()
{
    if (m_stopped || m_running || m_savedUpTo >= m_changes)
        return;
    m_gather.stop();
    m_retry.stop();
    m_running = true;
    clINI::writerOnItsWay(true);
    m_inFlight = m_changes;
    const QString folder = m_folder();
    Snapshot snapshot = m_take();
    std::function<void()> saved = std::move(snapshot.saved);
    join();
    const quint64 generation = m_inFlight;
    m_thread = std::thread([this, folder, snapshot = std::move(snapshot), generation, saved = std::move(saved)] {
        process::lowerThreadPriority();
        bool ok = false;
        QString path;
        try {
            // Held from the start: a setting saved meanwhile is handed over and written with this
            // save, and the window never waits for it.
            clINI ini(folder, clINI::Holding {});
            path = ini.path();
            write(ini, snapshot);
            ok = ini.commit();
        } catch (const std::exception &) {
            // Out of memory on a huge history: nothing of it reaches the file, and the save is
            // tried again like any failed one.
        }
        // The destructor joins this thread before the object goes, so the call is safe to post.
        QMetaObject::invokeMethod(
            this,
            [this, ok, path, generation, saved] {
                if (ok && saved && !m_stopped)
                    saved();
                finished(ok, path, generation);
            },
            Qt::QueuedConnection);
    });
}

void SettingsSaver::finished(bool ok, const QString &path, quint64 generation)
{
    if (m_stopped)
        return;
    m_running = false;
    clINI::writerOnItsWay(false);
    m_lastOk = ok;
    if (ok) {
        m_savedUpTo = qMax(m_savedUpTo, generation);
        if (m_failing) {
            m_failing = false;
            Q_EMIT recovered();
        }
    } else {
        if (!m_failing) {
            m_failing = true;
            Q_EMIT failed(path);
        }
        m_retry.start();
        return;
    }
    // Settings handed over after this save let go of the file: nobody else writes them.
    if (clINI::handedOver(m_folder()))
        ++m_changes;
    // Changes that came while this save ran: at once when somebody waits for them.
    if (m_urgent > m_savedUpTo || clINI::handedOver(m_folder()))
        start();
    else if (m_savedUpTo < m_changes)
        m_gather.start();
}

void SettingsSaver::join()
{
    if (m_thread.joinable())
        m_thread.join();
}

void SettingsSaver::stop()
{
    m_stopped = true;
    m_gather.stop();
    m_retry.stop();
    join();
    if (m_running)
        clINI::writerOnItsWay(false);
    m_running = false;
}
