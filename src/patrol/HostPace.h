#pragma once

#include <QHash>
#include <QString>

#include <functional>
#include <optional>

// How the patrol spares each host: a gap between two visits to it, the rest a server asks for
// with Retry-After, and a pause that doubles while the host keeps failing. Times are
// milliseconds of the wall clock; a clock set back never makes a host wait longer than it asked.
class HostPace
{
public:
    using Clock = std::function<qint64()>;
    explicit HostPace(Clock clock = {});

    void setGapMs(qint64 ms) { m_gapMs = qMax<qint64>(0, ms); }
    qint64 gapMs() const { return m_gapMs; }

    // The host of an address as the pace knows it, with its port where the address names one;
    // empty for an address without one.
    static QString hostOf(const QString &address);

    // Until when the host is resting (asked to wait, or backed off); 0 when it is not.
    qint64 restingUntil(const QString &host) const;
    // When the gap after the last visit to the host ends.
    qint64 gapEndsAt(const QString &host) const;

    // A visit to the host starts now.
    void visiting(const QString &host);
    // The visit ended. hostFailed: the host itself did not answer as it should (no connection,
    // no answer in time, 429, 5xx). retryAt: when the server said to come back, if it did.
    void answered(const QString &host, bool hostFailed, std::optional<qint64> retryAt);

    // The time a Retry-After value names, as seconds or an HTTP date, capped at 24 hours; nullopt
    // when it names none. A date in the past is now.
    static std::optional<qint64> retryAt(const QString &value, qint64 now);

    qint64 now() const { return m_clock(); }

    static constexpr qint64 kMaxRetryMs = 24LL * 3600 * 1000;
    static constexpr qint64 kFirstBackoffMs = 60LL * 1000;
    static constexpr qint64 kMaxBackoffMs = 3600LL * 1000;

private:
    struct Host
    {
        qint64 lastVisit = 0;
        qint64 restUntil = 0;
        int failures = 0;
    };
    Clock m_clock;
    qint64 m_gapMs = 1000;
    QHash<QString, Host> m_hosts;
};
