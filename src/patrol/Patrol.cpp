#include "patrol/Patrol.h"

#include "mail/Module1.h"
#include "patrol/Browser.h"
#include "patrol/ConditionList.h"
#include "patrol/HistoryIndex.h"
#include "patrol/PageText.h"
#include "platform/AppTitle.h"
#include "platform/MessagePump.h"
#include "platform/Width.h"
#include "settings/SettingKeys.h"
#include "settings/clINI.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QUrl>
#include <QWidget>

#include <exception>

using namespace Qt::StringLiterals;

namespace {

// A step that fails is left out and the page check goes on with the next one.
template<typename F> void step(F &&f)
{
    try {
        f();
    } catch (const std::exception &) { }
}

// Whole seconds on a clock that setting the system time cannot move, so a wait always ends.
qint64 monotonicSeconds()
{
    static QElapsedTimer clock = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return clock.elapsed() / 1000;
}

// How long one poll of a loading page sleeps at most when no event wakes it.
constexpr int kPollMs = 50;

} // namespace

Patrol::Patrol(const PatrolWidgets &widgets, QObject *parent)
    : QObject(parent)
    , m_w(widgets)
    , m_conditions(new ConditionList(widgets.ListKeyWord, this))
    , m_history(new HistoryIndex(widgets.List3, this))
    , m_seconds(monotonicSeconds)
{ }

Patrol::~Patrol() = default;

void Patrol::abandon()
{
    m_abandoned = true;
    if (m_mailPending)
        m_history->removeMail(m_mailToken);
    m_mailPending = false;
}

bool Patrol::pumpAndGoOn()
{
    pump::doEvents();
    return !m_abandoned;
}

bool Patrol::MatchCondition(QStringView line, quint8 mode)
{
    return m_conditions->MatchCondition(line, mode);
}

bool Patrol::RecordNewHit(const QString &line, QString &body)
{
    if (m_history->contains(line)) {
        pump::doEvents();
        return false;
    }
    body += line + u"\r\n"_s;
    m_history->insertTop(line, m_mailToken);
    m_mailPending = true;
    return true;
}

void Patrol::SendHitMail(const QString &pendingBody)
{
    clINI ini(m_w.settingsFolder ? m_w.settingsFolder() : QString());
    Browser &browser = *m_w.browser;
    QString body = pendingBody;
    QString subject;
    step([&] {
        const QString top = ini.GetSetting(Keys::TopLine);
        if (top == u"1")
            body = browser.locationName() + u"\r\n"_s + body;
        else if (top == u"2")
            body = browser.locationUrl() + u"\r\n"_s + body;
    });
    if (m_abandoned)
        return;
    step([&] {
        const QString end = ini.GetSetting(Keys::EndLine);
        if (end == u"1")
            body += u"--\r\n"_s + browser.documentTitle();
        else if (end == u"2")
            body += u"--\r\n"_s + browser.locationUrl();
    });
    if (m_abandoned)
        return;
    step([&] {
        const QString choice = ini.GetSetting(Keys::Subject);
        if (choice == u"0")
            subject = browser.documentTitle();
        else if (choice == u"1")
            subject = u"[KVS]"_s;
    });
    if (m_abandoned)
        return;
    step([&] { m_w.Text1->setPlainText(body); });
    step([&] {
        if (ini.GetSetting(Keys::Check2) == u"1")
            Module1::PopLogin(u"STAT"_s);
    });
    // From here on the mail is out of our hands: no event runs until the send has ended.
    m_mailPending = false;
    step([&] {
        const QString failure = Module1::SmtpSend(body, subject);
        // With a server configured a failure is passing, so the lines are kept for their next
        // appearance instead of being taken as sent. Without one there is nothing to wait for.
        if (!failure.isEmpty() && !ini.GetSetting(Keys::SmtpServer).trimmed().isEmpty())
            m_history->removeMail(m_mailToken);
    });
}

namespace {

// Links are written by the page, so only web pages are followed: a "file:" or "view-source:file:"
// target would have local files matched and mailed, a "javascript:" one would run the page's
// script in whatever page the browser holds, "chrome:" ones crash the renderer. Local pages may
// lead to local pages.
bool mayFollow(const QString &pageUrl, const QString &target)
{
    const QString scheme = QUrl(target).scheme().toLower();
    if (scheme == u"http" || scheme == u"https")
        return true;
    return scheme == u"file" && QUrl(pageUrl).scheme().compare(u"file", Qt::CaseInsensitive) == 0;
}

} // namespace

void Patrol::FollowLinks()
{
    if (m_abandoned)
        return;
    Browser &browser = *m_w.browser;
    // Read in one go: a page with thousands of links must not cost one engine round trip each.
    const std::optional<QList<BrowserLink>> links = browser.links();
    if (!links || links->isEmpty() || m_abandoned)
        return;
    const QString pageUrl = browser.locationUrl();
    QStringList targets;
    for (const BrowserLink &link : *links) {
        if (link.text.isEmpty())
            continue;
        bool hit = false;
        step([&] { hit = MatchCondition(link.text, Conditions::LinkMode); });
        if (hit && !link.href.isEmpty() && mayFollow(pageUrl, link.href))
            targets.append(link.href);
    }
    for (const QString &target : std::as_const(targets)) {
        if (m_abandoned)
            return;
        CheckPage(target);
    }
}

void Patrol::CheckPage(const QString &address)
{
    if (m_abandoned)
        return;
    Browser &browser = *m_w.browser;
    ++m_mailToken;
    m_mailPending = false;
    const qint64 start = m_seconds();
    QString text;
    QStringList pieces;
    QString body;

    step([&] { m_w.LaStatus->setText(address + u" 接続中... "_s); });
    if (!pumpAndGoOn())
        return;
    step([&] {
        browser.setVisible(false);
        browser.navigate(address);
        browser.setVisible(true);
    });
    if (!pumpAndGoOn())
        return;
    while (browser.busy()) {
        // Sleeps until the browser or anything else has news instead of spinning.
        pump::waitForEvents(kPollMs);
        if (m_abandoned)
            return;
        if (m_seconds() - start > kLoadLimitSeconds) {
            step([&] { browser.quit(); });
            break;
        }
    }
    step([&] { text = browser.bodyInnerText(); });
    if (m_abandoned)
        return;
    step([&] { text = width::narrow(text); });
    step([&] { pieces = PageText::cut(text); });
    step([&] { m_w.window->setWindowTitle(AppTitle::get() + u" ["_s + browser.locationName() + u"]"_s); });
    if (m_abandoned)
        return;
    step([&] {
        m_w.List1->clear();
        m_w.List1->hide();
    });
    for (qsizetype i = 0; i + 1 < pieces.size(); ++i) {
        bool hit = false;
        QString line;
        step([&] { line = PageText::trimSpaces(pieces[i]); });
        if (line.isEmpty())
            continue;
        step([&] { hit = MatchCondition(line, Conditions::PageMode); });
        if (hit)
            step([&] { hit = RecordNewHit(line, body); });
        step([&] { m_w.List1->addItem(PageText::entry(hit, int(i), line)); });
        if (!pumpAndGoOn())
            return;
    }
    step([&] { m_w.List1->show(); });
    if (!body.isEmpty())
        step([&] { SendHitMail(body); });
    if (m_abandoned)
        return;
    step([&] { m_w.LaStatus->setText(u"巡回完了"_s); });
    pump::doEvents();
}
