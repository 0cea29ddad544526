#include "patrol/HostPace.h"

#include <QDateTime>
#include <QLocale>
#include <QRegularExpression>
#include <QUrl>

using namespace Qt::StringLiterals;

HostPace::HostPace(Clock clock)
    : m_clock(clock ? std::move(clock) : [] { return QDateTime::currentMSecsSinceEpoch(); })
{ }

QString HostPace::hostOf(const QString &address)
{
    QUrl url(address);
    // A target typed without a scheme is loaded as a web address.
    if (url.host().isEmpty())
        url = QUrl(u"http://"_s + address);
    // Each server of a machine keeps its own pace.
    const QString host = url.host().toLower();
    return url.port() > 0 && !host.isEmpty() ? host + u':' + QString::number(url.port()) : host;
}

qint64 HostPace::restingUntil(const QString &host) const
{
    const auto found = m_hosts.constFind(host);
    if (found == m_hosts.constEnd())
        return 0;
    const qint64 t = m_clock();
    // Set back, the clock must not stretch a rest beyond what was asked.
    const qint64 longest = t + qMax(kMaxRetryMs, kMaxBackoffMs);
    const qint64 until = qMin(found->restUntil, longest);
    return until > t ? until : 0;
}

qint64 HostPace::gapEndsAt(const QString &host) const
{
    const auto found = m_hosts.constFind(host);
    if (found == m_hosts.constEnd())
        return 0;
    return qMin(found->lastVisit, m_clock()) + m_gapMs;
}

void HostPace::visiting(const QString &host)
{
    if (!host.isEmpty())
        m_hosts[host].lastVisit = m_clock();
}

void HostPace::answered(const QString &host, bool hostFailed, std::optional<qint64> retryAt)
{
    if (host.isEmpty())
        return;
    Host &h = m_hosts[host];
    const qint64 t = m_clock();
    if (!hostFailed) {
        h.failures = 0;
        h.restUntil = retryAt ? qMin(*retryAt, t + kMaxRetryMs) : 0;
        return;
    }
    ++h.failures;
    qint64 rest = 0;
    // One failure may be chance; from the second in a row the host gets a pause, doubling.
    if (h.failures >= 2)
        rest = qMin(kMaxBackoffMs, kFirstBackoffMs << qMin(h.failures - 2, 12));
    if (retryAt)
        rest = qMax(rest, qMin(*retryAt, t + kMaxRetryMs) - t);
    h.restUntil = t + rest;
}

std::optional<qint64> HostPace::retryAt(const QString &value, qint64 now)
{
    const QString v = value.trimmed();
    static const QRegularExpression seconds(u"^[0-9]{1,10}$"_s);
    if (seconds.match(v).hasMatch())
        return now + qMin(v.toLongLong() * 1000, kMaxRetryMs);
    // HTTP dates are in English and in GMT whatever the user's locale.
    const QLocale c = QLocale::c();
    QDateTime at = c.toDateTime(v, u"ddd, dd MMM yyyy HH:mm:ss 'GMT'"_s);
    if (!at.isValid())
        at = QDateTime::fromString(v, Qt::RFC2822Date);
    if (!at.isValid())
        return std::nullopt;
    at.setTimeSpec(Qt::UTC);
    return qBound(now, at.toMSecsSinceEpoch(), now + kMaxRetryMs);
}
