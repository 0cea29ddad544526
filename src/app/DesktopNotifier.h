#pragma once

#include "app/NotificationClient.h"
#include "patrol/DesktopEvent.h"

#include <QDBusConnection>
#include <QDateTime>
#include <QImage>
#include <QList>
#include <QObject>
#include <QStringList>
#include <QTimer>

#include <functional>

class TestDesktopNotifier;

// Desktop notifications of new hits, alerts and recoveries, when NOTIFY is "1": which events become
// which notes and what they say. NotificationClient carries them to the session's service.
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
    void setIcon(const QImage &icon) { m_client.setIcon(icon); }
    // When a page last had new hits in this run, notifications on or off.
    QDateTime lastHit() const { return m_lastHit; }

    static QString hitBody(const DesktopEvent &event);
    static QString coalescedSummary(int pages);
    static QString unavailableText(const QString &reason);

    // Hit notifications allowed within the window below before the rest are coalesced.
    static constexpr int kBurstLimit = 3;
    static constexpr int kBurstWindowMs = 10000;

Q_SIGNALS:
    // Said once, until a notification is shown again, which says availableAgain.
    void unavailable(const QString &text);
    void availableAgain();
    // A coalesced notification's action: the window should come forward.
    void windowWanted();

private:
    // Its test sets the bus, the time limits and the clock.
    friend class ::TestDesktopNotifier;
    void setBusForTesting(std::function<QDBusConnection()> bus) { m_client.setBusForTesting(std::move(bus)); }
    void setTimingForTesting(int replyLimitMs, int burstFlushMs, int burstWindowMs);
    void setClockForTesting(std::function<qint64()> msecs) { m_clock = std::move(msecs); }

    void onActivated(const QString &open);
    void flushBurst();
    qint64 now() const;

    NotificationClient m_client;
    std::function<QString()> m_settingsFolder;
    std::function<qint64()> m_clock;
    bool m_gone = false;

    QDateTime m_lastHit;
    QList<qint64> m_shown; // when hit notifications were shown, within the burst window
    QStringList m_burstTitles;
    int m_burstPages = 0;
    QTimer m_burstFlush;
    QTimer m_burstEnd;
};
