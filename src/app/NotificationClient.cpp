#include "app/NotificationClient.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>

#include <utility>

using namespace Qt::StringLiterals;

namespace {

const QString kService = u"org.freedesktop.Notifications"_s;
const QString kPath = u"/org/freedesktop/Notifications"_s;
const QString kInterface = u"org.freedesktop.Notifications"_s;

// Generous for a desktop that is busy logging in, short enough that a hung service is noticed.
constexpr int kReplyLimitMs = 5000;
// Ids of notifications the service never said it closed.
constexpr qsizetype kMaxKnownIds = 1000;

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

NotificationClient::NotificationClient(QObject *parent)
    : QObject(parent)
    , m_replyLimitMs(kReplyLimitMs)
{
    qDBusRegisterMetaType<NotificationImage>();
}

NotificationClient::~NotificationClient() = default;

void NotificationClient::shutDown()
{
    m_gone = true;
    m_waiting.clear();
    m_queuedBehind.clear();
    m_opens.clear();
}

bool NotificationClient::connectBus()
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

void NotificationClient::submit(const Note &note)
{
    if (m_gone)
        return;
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

void NotificationClient::askCapabilities()
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

void NotificationClient::send(const Note &note)
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

void NotificationClient::failed(const QString &reason)
{
    if (m_toldUnavailable)
        return;
    m_toldUnavailable = true;
    Q_EMIT unavailable(reason);
}

void NotificationClient::onActionInvoked(uint id, const QString &action)
{
    if (m_gone || (action != u"default" && action != u"open"))
        return;
    const auto found = m_opens.constFind(id);
    if (found != m_opens.constEnd())
        Q_EMIT activated(*found);
}

void NotificationClient::onClosed(uint id, uint)
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
