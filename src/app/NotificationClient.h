#pragma once

#include <QDBusConnection>
#include <QHash>
#include <QImage>
#include <QList>
#include <QObject>
#include <QSet>

#include <functional>
#include <optional>

class QDBusServiceWatcher;

// The client of the session's freedesktop notification service. Every call to the service is
// asynchronous and has a time limit: a missing bus, a missing service or one that never answers
// shows nothing and holds nothing up.
class NotificationClient : public QObject
{
    Q_OBJECT
public:
    struct Note
    {
        QString key; // one id per key: later notes replace earlier ones
        QString summary;
        QString body; // plain text; escaped when the service reads markup
        QString open; // what activated says when the note's "開く" is chosen
    };

    explicit NotificationClient(QObject *parent = nullptr);
    ~NotificationClient() override;

    void submit(const Note &note);
    // Nothing more is sent, actions on what was shown do nothing.
    void shutDown();

    // The image shown with each note.
    void setIcon(const QImage &icon) { m_icon = icon; }

Q_SIGNALS:
    // Said once, with the reason, until a note is shown again, which says availableAgain.
    void unavailable(const QString &reason);
    void availableAgain();
    // A shown note's action was chosen; open is the address the note carried.
    void activated(const QString &open);

private Q_SLOTS:
    void onActionInvoked(uint id, const QString &action);
    void onClosed(uint id, uint reason);

private:
    // The notifier's test reaches the client through the notifier.
    friend class DesktopNotifier;
    void setBusForTesting(std::function<QDBusConnection()> bus) { m_busFactory = std::move(bus); }
    void setReplyLimitForTesting(int replyLimitMs) { m_replyLimitMs = replyLimitMs; }

    bool connectBus();
    void askCapabilities();
    void send(const Note &note);
    void failed(const QString &reason);

    std::function<QDBusConnection()> m_busFactory;
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
};
