#include "app/DesktopNotifier.h"

#include "platform/Clip.h"

#include "mail/Redact.h"
#include "settings/SettingKeys.h"
#include "settings/clINI.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QDesktopServices>
#include <QElapsedTimer>
#include <QUrl>

#include <utility>

using namespace Qt::StringLiterals;

namespace {

const QString kService = u"org.freedesktop.Notifications"_s;
const QString kPath = u"/org/freedesktop/Notifications"_s;
const QString kInterface = u"org.freedesktop.Notifications"_s;

// Generous for a desktop that is busy logging in, short enough that a hung service is noticed.
constexpr int kReplyLimitMs = 5000;
constexpr int kBurstFlushMs = 1000;
// A page line may be a megabyte long; a notification shows a few words of it.
constexpr qsizetype kLineChars = 200;
// Ids of notifications the service never said it closed.
constexpr qsizetype kMaxKnownIds = 1000;

// An untitled page is named by its address, which may carry the user's password for the site.
QString shownTitle(const QString &title)
{
    return clipped(mail::withoutPasswordIfAddress(title), kLineChars);
}

QString whyUnavailable(const QDBusError &error)
{
    switch (error.type()) {
    case QDBusError::ServiceUnknown:
    case QDBusError::NoServer:
    case QDBusError::Disconnected:
        return u"通知サービスがありません"_s;
    case QDBusError::NoReply:
    case QDBusError::Timeout:
    case QDBusError::TimedOut:
        return u"通知サービスが応答しません"_s;
    default:
        return error.message().isEmpty() ? error.name() : error.message();
    }
}

} // namespace

// The pixels of the program's icon, as the "image-data" hint carries them.
struct NotificationImage
{
    int width = 0;
    int height = 0;
    int rowStride = 0;
    bool hasAlpha = true;
    int bitsPerSample = 8;
    int channels = 4;
    QByteArray data;
};
Q_DECLARE_METATYPE(NotificationImage)

QDBusArgument &operator<<(QDBusArgument &a, const NotificationImage &i)
{
    a.beginStructure();
    a << i.width << i.height << i.rowStride << i.hasAlpha << i.bitsPerSample << i.channels << i.data;
    a.endStructure();
    return a;
}

const QDBusArgument &operator>>(const QDBusArgument &a, NotificationImage &i)
{
    a.beginStructure();
    a >> i.width >> i.height >> i.rowStride >> i.hasAlpha >> i.bitsPerSample >> i.channels >> i.data;
    a.endStructure();
    return a;
}

DesktopNotifier::DesktopNotifier(std::function<QString()> settingsFolder, QObject *parent)
    : QObject(parent)
    , m_settingsFolder(std::move(settingsFolder))
    , m_replyLimitMs(kReplyLimitMs)
{
    qDBusRegisterMetaType<NotificationImage>();
    m_burstFlush.setSingleShot(true);
    m_burstFlush.setInterval(kBurstFlushMs);
    connect(&m_burstFlush, &QTimer::timeout, this, &DesktopNotifier::flushBurst);
    m_burstEnd.setSingleShot(true);
    m_burstEnd.setInterval(kBurstWindowMs);
    connect(&m_burstEnd, &QTimer::timeout, this, [this] {
        if (m_burstFlush.isActive()) {
            m_burstFlush.stop();
            flushBurst();
        }
        m_burstPages = 0;
        m_burstTitles.clear();
    });
}

DesktopNotifier::~DesktopNotifier() = default;

bool DesktopNotifier::enabled(const QString &settingsFolder)
{
    return clINI(settingsFolder).GetSetting(Keys::Notify) == u"1";
}

void DesktopNotifier::setTimingForTesting(int replyLimitMs, int burstFlushMs, int burstWindowMs)
{
    m_replyLimitMs = replyLimitMs;
    m_burstFlush.setInterval(burstFlushMs);
    m_burstEnd.setInterval(burstWindowMs);
}

qint64 DesktopNotifier::now() const
{
    if (m_clock)
        return m_clock();
    static QElapsedTimer clock = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return clock.elapsed();
}

QString DesktopNotifier::hitBody(const DesktopEvent &event)
{
    QStringList lines;
    for (const QString &line : event.lines.mid(0, 3))
        lines.append(clipped(line, kLineChars));
    lines.append(u"新着 %1 件"_s.arg(event.count));
    return lines.join(u'\n');
}

QString DesktopNotifier::coalescedSummary(int pages)
{
    return u"%1 ページに新着"_s.arg(pages);
}

QString DesktopNotifier::unavailableText(const QString &reason)
{
    return u"デスクトップ通知を表示できません（"_s + reason + u"）。メールは通常どおり送ります。"_s;
}

void DesktopNotifier::tell(const DesktopEvent &event)
{
    if (event.kind == DesktopEvent::Kind::NewHits)
        m_lastHit = QDateTime::currentDateTime();
    if (m_gone || !enabled(m_settingsFolder ? m_settingsFolder() : QString()))
        return;
    const QString shownAddress = mail::withoutPassword(event.address);
    switch (event.kind) {
    case DesktopEvent::Kind::NewHits: {
        const qint64 t = now();
        const int window = m_burstEnd.interval();
        m_shown.removeIf([&](qint64 at) { return t - at >= window; });
        if (m_burstPages == 0 && m_shown.size() < kBurstLimit) {
            m_shown.append(t);
            submit({u"hit "_s + event.address, shownTitle(event.title), hitBody(event), event.address});
            return;
        }
        // A storm of pages (a hundred in one round) becomes one notification that counts them.
        ++m_burstPages;
        if (m_burstTitles.size() < 3)
            m_burstTitles.append(shownTitle(event.title));
        if (!m_burstFlush.isActive())
            m_burstFlush.start();
        m_burstEnd.start();
        return;
    }
    case DesktopEvent::Kind::Alert:
        submit({u"health "_s + event.address, u"巡回エラー"_s,
            clipped(shownAddress, kLineChars) + u'\n' + event.lines.join(u'\n'), event.address});
        return;
    case DesktopEvent::Kind::Recovery:
        submit({u"health "_s + event.address, u"巡回回復"_s,
            clipped(shownAddress, kLineChars) + u'\n' + event.lines.join(u'\n'), event.address});
        return;
    }
}

void DesktopNotifier::flushBurst()
{
    if (m_gone || m_burstPages == 0)
        return;
    QStringList lines = m_burstTitles;
    if (m_burstPages > m_burstTitles.size())
        lines.append(u"ほか %1 ページ"_s.arg(m_burstPages - m_burstTitles.size()));
    submit({u"burst"_s, coalescedSummary(m_burstPages), lines.join(u'\n'), QString()});
}

void DesktopNotifier::windowGone()
{
    m_gone = true;
    m_burstFlush.stop();
    m_burstEnd.stop();
    m_waiting.clear();
    m_queuedBehind.clear();
    m_opens.clear();
}

bool DesktopNotifier::connectBus()
{
    if (!m_busTried) {
        m_busTried = true;
        m_bus.emplace(m_busFactory ? m_busFactory() : QDBusConnection::sessionBus());
        if (!m_bus->isConnected())
            return false;
        m_bus->connect(kService, kPath, kInterface, u"ActionInvoked"_s, this, SLOT(onActionInvoked(uint, QString)));
        m_bus->connect(kService, kPath, kInterface, u"NotificationClosed"_s, this, SLOT(onClosed(uint, uint)));
        // Another service's ids mean other notifications: replacing them would be wrong.
        m_serviceWatcher = new QDBusServiceWatcher(kService, *m_bus, QDBusServiceWatcher::WatchForOwnerChange, this);
        connect(m_serviceWatcher, &QDBusServiceWatcher::serviceOwnerChanged, this, [this] {
            m_ids.clear();
            m_opens.clear();
            if (m_capabilities == Capabilities::Known)
                m_capabilities = Capabilities::Unknown;
        });
    }
    return m_bus->isConnected();
}

void DesktopNotifier::submit(const Note &note)
{
    if (!connectBus()) {
        failed(u"セッションバスに接続できません"_s);
        return;
    }
    if (m_capabilities == Capabilities::Known) {
        send(note);
        return;
    }
    m_waiting.removeIf([&](const Note &n) { return n.key == note.key; });
    m_waiting.append(note);
    if (m_capabilities == Capabilities::Unknown)
        askCapabilities();
}

void DesktopNotifier::askCapabilities()
{
    m_capabilities = Capabilities::Asking;
    const QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, u"GetCapabilities"_s);
    auto *watcher = new QDBusPendingCallWatcher(m_bus->asyncCall(call, m_replyLimitMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *w) {
        w->deleteLater();
        if (m_gone)
            return;
        const QDBusPendingReply<QStringList> reply = *w;
        if (reply.isError()) {
            m_capabilities = Capabilities::Unknown;
            m_waiting.clear();
            failed(whyUnavailable(reply.error()));
            return;
        }
        // Escaped text sent to a service without markup would show its entities.
        m_markup = reply.value().contains(u"body-markup"_s);
        m_capabilities = Capabilities::Known;
        for (const Note &note : std::exchange(m_waiting, {}))
            send(note);
    });
}

void DesktopNotifier::send(const Note &note)
{
    // The id of a note still on its way is not known yet; a newer one waits for it to replace it.
    if (m_inFlight.contains(note.key)) {
        m_queuedBehind.insert(note.key, note);
        return;
    }
    m_inFlight.insert(note.key);
    const uint replaces = m_ids.value(note.key, 0);
    QVariantMap hints {{u"desktop-entry"_s, u"korvani"_s}};
    if (!m_icon.isNull()) {
        const QImage image = m_icon.convertToFormat(QImage::Format_RGBA8888);
        NotificationImage pixels;
        pixels.width = image.width();
        pixels.height = image.height();
        pixels.rowStride = int(image.bytesPerLine());
        pixels.data = QByteArray(reinterpret_cast<const char *>(image.constBits()), image.sizeInBytes());
        hints.insert(u"image-data"_s, QVariant::fromValue(pixels));
    }
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, u"Notify"_s);
    // The summary is plain text by the protocol; only the body may be read as markup.
    call << u"Korvani"_s << replaces << u"korvani"_s << note.summary
         << (m_markup ? note.body.toHtmlEscaped() : note.body)
         << QStringList {u"default"_s, u"開く"_s, u"open"_s, u"開く"_s} << hints << int(-1);
    auto *watcher = new QDBusPendingCallWatcher(m_bus->asyncCall(call, m_replyLimitMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, note, replaces](QDBusPendingCallWatcher *w) {
        w->deleteLater();
        m_inFlight.remove(note.key);
        if (m_gone)
            return;
        const QDBusPendingReply<uint> reply = *w;
        if (reply.isError()) {
            m_queuedBehind.remove(note.key);
            // Asked again at the next notification: the service may have come back.
            m_capabilities = Capabilities::Unknown;
            failed(whyUnavailable(reply.error()));
            return;
        }
        if (std::exchange(m_toldUnavailable, false))
            Q_EMIT availableAgain();
        const uint id = reply.value();
        if (replaces != 0 && replaces != id)
            m_opens.remove(replaces);
        if (m_opens.size() >= kMaxKnownIds) {
            m_opens.clear();
            m_ids.clear();
        }
        m_ids.insert(note.key, id);
        m_opens.insert(id, note.open);
        if (m_queuedBehind.contains(note.key))
            send(m_queuedBehind.take(note.key));
    });
}

void DesktopNotifier::failed(const QString &reason)
{
    if (m_toldUnavailable)
        return;
    m_toldUnavailable = true;
    Q_EMIT unavailable(unavailableText(reason));
}

void DesktopNotifier::onActionInvoked(uint id, const QString &action)
{
    if (m_gone || (action != u"default" && action != u"open"))
        return;
    const auto found = m_opens.constFind(id);
    if (found == m_opens.constEnd())
        return;
    // The address goes on another program's command line, where anyone may read it.
    const QString address = found->isEmpty() ? QString() : mail::withoutUserPart(*found);
    if (address.isEmpty())
        Q_EMIT windowWanted();
    else
        QDesktopServices::openUrl(QUrl(address));
}

void DesktopNotifier::onClosed(uint id, uint)
{
    if (!m_opens.remove(id))
        return;
    for (auto it = m_ids.begin(); it != m_ids.end();) {
        if (it.value() == id)
            it = m_ids.erase(it);
        else
            ++it;
    }
}
