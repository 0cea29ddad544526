#include "app/DesktopNotifier.h"

#include "platform/Clip.h"

#include "mail/Redact.h"
#include "settings/SettingKeys.h"
#include "settings/clINI.h"

#include <QDesktopServices>
#include <QElapsedTimer>
#include <QUrl>

#include <utility>

using namespace Qt::StringLiterals;

namespace {

constexpr int kBurstFlushMs = 1000;
// A page line may be a megabyte long; a notification shows a few words of it.
constexpr qsizetype kLineChars = 200;

// An untitled page is named by its address, which may carry the user's password for the site.
QString shownTitle(const QString &title)
{
    return clipped(mail::withoutPasswordIfAddress(title), kLineChars);
}

} // namespace

DesktopNotifier::DesktopNotifier(std::function<QString()> settingsFolder, QObject *parent)
    : QObject(parent)
    , m_settingsFolder(std::move(settingsFolder))
{
    connect(&m_client, &NotificationClient::unavailable, this,
        [this](const QString &reason) { Q_EMIT unavailable(unavailableText(reason)); });
    connect(&m_client, &NotificationClient::availableAgain, this, &DesktopNotifier::availableAgain);
    connect(&m_client, &NotificationClient::activated, this, &DesktopNotifier::onActivated);
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
    m_client.setReplyLimitForTesting(replyLimitMs);
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
            m_client.submit({u"hit "_s + event.address, shownTitle(event.title), hitBody(event), event.address});
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
        m_client.submit({u"health "_s + event.address, u"巡回エラー"_s,
            clipped(shownAddress, kLineChars) + u'\n' + event.lines.join(u'\n'), event.address});
        return;
    case DesktopEvent::Kind::LoginLost:
        m_client.submit({u"health "_s + event.address, u"ログイン切れ"_s,
            clipped(shownAddress, kLineChars) + u'\n' + event.lines.join(u'\n'), event.address});
        return;
    case DesktopEvent::Kind::Recovery:
        m_client.submit({u"health "_s + event.address, u"巡回回復"_s,
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
    m_client.submit({u"burst"_s, coalescedSummary(m_burstPages), lines.join(u'\n'), QString()});
}

void DesktopNotifier::windowGone()
{
    m_gone = true;
    m_burstFlush.stop();
    m_burstEnd.stop();
    m_client.shutDown();
}

void DesktopNotifier::onActivated(const QString &open)
{
    // The address goes on another program's command line, where anyone may read it.
    const QString address = open.isEmpty() ? QString() : mail::withoutUserPart(open);
    if (address.isEmpty())
        Q_EMIT windowWanted();
    else
        QDesktopServices::openUrl(QUrl(address));
}
