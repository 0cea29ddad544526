#pragma once

#include "patrol/DesktopEvent.h"

#include <QDBusConnection>
#include <QDateTime>
#include <QHash>
#include <QImage>
#include <QList>
#include <QObject>
#include <QSet>
#include <QTimer>

#include <functional>
#include <optional>

class QDBusPendingCallWatcher;
class QDBusServiceWatcher;

// Desktop notifications of new hits, alerts and recoveries, through the session's notification
// service, when NOTIFY is "1". Every call to the service is asynchronous and has a time limit: a
// missing bus, a missing service or one that never answers shows nothing and holds nothing up.
class DesktopNotifier : public QObject
{
    Q_OBJECT
public:
    explicit DesktopNotifier(std::function<QString()> settingsFolder, QObject *parent = nullptr);
    ~DesktopNotifier() override;

    // NOTIFY as read now from the settings file in that folder.
    static bool enabled(const QString &settingsFolder);

    void tell(const DesktopEvent &event);
    // The window has closed for good: nothing more is shown, actions on what was shown do nothing.
    void windowGone();

    // The image shown with each notification.
    void setIcon(const QImage &icon) { m_icon = icon; }
    // When a page last had new hits in this run, notifications on or off.
    QDateTime lastHit() const { return m_lastHit; }

    static QString hitBody(const DesktopEvent &event);
    static QString coalescedSummary(int pages);
    static QString unavailableText(const QString &reason);

    // Hit notifications allowed within the window below before the rest are coalesced.
    static constexpr int kBurstLimit = 3;
    static constexpr int kBurstWindowMs = 10000;

    // Only tests use these.
    void setBusForTesting(std::function<QDBusConnection()> bus) { m_busFactory = std::move(bus); }
    void setTimingForTesting(int replyLimitMs, int burstFlushMs, int burstWindowMs);
    void setClockForTesting(std::function<qint64()> msecs) { m_clock = std::move(msecs); }

Q_SIGNALS:
    // Said once, until a notification is shown again, which says availableAgain.
    void unavailable(const QString &text);
    void availableAgain();
    // A coalesced notification's action: the window should come forward.
    void windowWanted();

private Q_SLOTS:
    void onActionInvoked(uint id, const QString &action);
    void onClosed(uint id, uint reason);

private:
    struct Note
    {
        QString key; // one id per key: later notes replace earlier ones
        QString summary;
        QString body; // plain text; escaped when the service reads markup
        QString open; // address that "開く" opens; empty: the window comes forward
    };

    bool connectBus();
    void submit(const Note &note);
    void askCapabilities();
    void send(const Note &note);
    void failed(const QString &reason);
    void flushBurst();
    qint64 now() const;

    std::function<QString()> m_settingsFolder;
    std::function<QDBusConnection()> m_busFactory;
    std::function<qint64()> m_clock;
    std::optional<QDBusConnection> m_bus;
    bool m_busTried = false;
    QDBusServiceWatcher *m_serviceWatcher = nullptr;
    QImage m_icon;
    int m_replyLimitMs;
    bool m_gone = false;
    bool m_toldUnavailable = false;

    enum class Capabilities { Unknown, Asking, Known } m_capabilities = Capabilities::Unknown;
    bool m_markup = false;
    QList<Note> m_waiting; // until the capabilities are known

    QHash<QString, uint> m_ids; // key → the service's id
    QHash<uint, QString> m_opens; // id → address of its action
    QHash<QString, Note> m_queuedBehind; // key → a newer note, sent once the older one has its id
    QSet<QString> m_inFlight;

    QDateTime m_lastHit;
    QList<qint64> m_shown; // when hit notifications were shown, within the burst window
    QStringList m_burstTitles;
    int m_burstPages = 0;
    QTimer m_burstFlush;
    QTimer m_burstEnd;
};
