#include "patrol/Patrol.h"

#include "mail/Module1.h"
#include "patrol/Browser.h"
#include "patrol/ConditionList.h"
#include "patrol/HistoryIndex.h"
#include "patrol/HitRow.h"
#include "patrol/PageText.h"
#include "patrol/SiteAnswer.h"
#include "patrol/TargetHealth.h"
#include "patrol/Visit.h"
#include "platform/AppTitle.h"
#include "platform/Log.h"
#include "platform/MessagePump.h"
#include "platform/Process.h"
#include "platform/Width.h"
#include "settings/SettingKeys.h"
#include "settings/clINI.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QScopeGuard>
#include <QUrl>
#include <QWidget>

#include <exception>
#include <utility>

using namespace Qt::StringLiterals;

namespace {

// Work that can run out of memory on a huge page or mail is left out when it does, and the page
// check goes on with the next step.
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
// How often window messages run while lines are examined.
constexpr int kLinePumpMs = 8;

} // namespace

Patrol::Patrol(const PatrolWidgets &widgets, QObject *parent)
    : QObject(parent)
    , m_w(widgets)
    , m_conditions(new ConditionList(widgets.ListKeyWord, this))
    , m_history(new HistoryIndex(widgets.List3, this))
    , m_health(new TargetHealth(widgets.ListURL, widgets.settingsFolder, this))
    , m_seconds(monotonicSeconds)
{
    m_health->setTellDesktop(widgets.tellDesktop);
    m_health->setTooltipMore([this](const QString &address) {
        QStringList more {m_timetable.describe(address)};
        if (const qint64 rest = m_pace.restingUntil(HostPace::hostOf(address)); rest > 0)
            more.append(u"サーバー側の都合で %1 まで巡回を控えます"_s.arg(
                QDateTime::fromMSecsSinceEpoch(rest).toString(u"MM/dd HH:mm:ss"_s)));
        more.removeAll(QString());
        return more.join(u'\n');
    });
}

Patrol::~Patrol() = default;

void Patrol::abandon()
{
    m_abandoned = true;
    // Lines whose mail the server already took stay: dropping them would mail them again.
    if (m_mailPending && !(m_mailAccepted && m_mailAccepted->load()))
        m_history->removeMail(m_mailToken);
    m_mailPending = false;
}

bool Patrol::awaitingVerdict(const QListWidgetItem *entry) const
{
    if (!m_mailPending || (m_mailAccepted && m_mailAccepted->load()))
        return false;
    return HistoryIndex::mailToken(entry) == m_mailToken;
}

bool Patrol::pumpAndGoOn()
{
    flushRows();
    pump::doEvents();
    m_sincePump.start();
    return !m_abandoned;
}

bool Patrol::pumpBetweenLines()
{
    // Reading the clock costs a good part of what a line does: it is read every few lines.
    if (m_sincePump.isValid() && (++m_linesSincePump % 16 != 0 || m_sincePump.elapsed() < kLinePumpMs))
        return !m_abandoned;
    return pumpAndGoOn();
}

void Patrol::flushRows()
{
    if (m_pendingRows.isEmpty())
        return;
    const int first = m_w.List1->count();
    m_w.List1->addItems(m_pendingRows);
    for (const auto &[index, conditions] : std::as_const(m_pendingHitBy)) {
        if (QListWidgetItem *row = m_w.List1->item(first + int(index)))
            HitRow::setConditions(row, conditions);
    }
    m_pendingRows.clear();
    m_pendingHitBy.clear();
}

bool Patrol::MatchCondition(QStringView line, quint8 mode)
{
    return m_conditions->MatchCondition(line, mode);
}

bool Patrol::RecordNewHit(const QString &line, QString &body)
{
    if (m_history->contains(line)) {
        pumpBetweenLines();
        return false;
    }
    body += line + u"\r\n"_s;
    m_history->insertTop(line, m_mailToken);
    m_mailLines.append(line);
    m_mailPending = true;
    return true;
}

QString Patrol::mailFailedText(const QString &reason)
{
    return u"送信失敗: "_s + reason + u"（次にその行が現れたときに送り直します）"_s;
}

QString Patrol::noMailServerText()
{
    return u"メールの送信サーバーが未設定です。動作設定で設定するまで、ヒットは画面と送信履歴にだけ残ります。"_s;
}

QString Patrol::popFailedText(const QString &reason)
{
    return u"POPログイン失敗: "_s + reason + u"（メールは送りました）"_s;
}

void Patrol::SendHitMail(const QString &pendingBody)
{
    clINI ini(m_w.settingsFolder ? m_w.settingsFolder() : QString());
    Browser &browser = *m_w.browser;
    QString body = pendingBody;
    QString subject;
    // Each read of the page lets window messages run, and the window may close in one.
    const QString top = ini.GetSetting(Keys::TopLine);
    if (top == u"1")
        body = browser.locationName() + u"\r\n"_s + body;
    else if (top == u"2")
        body = browser.locationUrl() + u"\r\n"_s + body;
    if (m_abandoned)
        return;
    const QString end = ini.GetSetting(Keys::EndLine);
    if (end == u"1")
        body += u"--\r\n"_s + browser.documentTitle();
    else if (end == u"2")
        body += u"--\r\n"_s + browser.locationUrl();
    if (m_abandoned)
        return;
    const QString choice = ini.GetSetting(Keys::Subject);
    if (choice == u"0")
        subject = browser.documentTitle();
    else if (choice == u"1")
        subject = u"[KVS]"_s;
    if (m_abandoned)
        return;
    m_w.Text1->setPlainText(body);
    const bool popFirst = ini.GetSetting(Keys::Check2) == u"1";
    m_mail.noServer = ini.GetSetting(Keys::SmtpServer).trimmed().isEmpty();
    // The transfers run on a worker while window messages go on; a closing window ends them, and
    // abandon() then takes the lines of a mail the server has not taken out of the history.
    m_mail.attempted = true;
    m_mailAccepted = std::make_shared<std::atomic<bool>>(false);
    // Taken: on the disk at the verdict, on the worker, before this thread runs anything again; a
    // box opened meanwhile, even one still open at a kill, holds nothing up.
    auto journalled = std::make_shared<std::atomic<bool>>(false);
    std::function<void()> taken;
    if (m_w.journal) {
        taken = [record = m_w.journal(m_mailLines), journalled] {
            if (record && record())
                journalled->store(true);
        };
    }
    const Module1::Outcome outcome = Module1::Send(body, subject,
        {.popFirst = popFirst,
            .goOn = [this] { return !m_abandoned; },
            .accepted = m_mailAccepted,
            .taken = std::move(taken)});
    m_mail.popFailure = outcome.popFailure;
    if (m_abandoned)
        return;
    const QString &failure = outcome.failure;
    m_mail.failure = failure;
    m_mailPending = false;
    // With a server configured a failure is passing, so the lines are kept for their next
    // appearance instead of being taken as sent. Without one there is nothing to wait for.
    if (!failure.isEmpty() && !m_mail.noServer) {
        m_history->removeMail(m_mailToken);
        return;
    }
    // The journal holds the lines: the whole-file save may follow at its pace. Without it they
    // are on disk before anything else happens, so that no crash can have them mailed again.
    if (m_w.persist)
        m_w.persist(!journalled->load());
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
    if (m_abandoned || m_following)
        return;
    Browser &browser = *m_w.browser;
    // Only the page a target's check has just loaded leads anywhere. After a failed load the
    // browser may still show an earlier page, a linked one even, whose links are never read.
    const std::optional<quint64> source = std::exchange(m_linkSource, std::nullopt);
    if (!source || browser.navigationCount() != *source)
        return;
    // Read in one go: a page with thousands of links must not cost one engine round trip each.
    std::optional<QList<BrowserLink>> links;
    step([&] { links = browser.links(); });
    if (!links || links->isEmpty() || m_abandoned || browser.navigationCount() != *source)
        return;
    const QString pageUrl = browser.locationUrl();
    QStringList targets;
    step([&] {
        for (const BrowserLink &link : std::as_const(*links)) {
            if (!link.text.isEmpty() && !link.href.isEmpty() && mayFollow(pageUrl, link.href)
                && MatchCondition(link.text, Conditions::LinkMode))
                targets.append(link.href);
        }
    });
    m_following = true;
    const auto done = qScopeGuard([this] { m_following = false; });
    for (const QString &target : std::as_const(targets)) {
        if (m_abandoned)
            return;
        // A host that asked for rest, or keeps failing, hears nothing of its links either.
        if (m_pace.restingUntil(HostPace::hostOf(target)) > 0)
            continue;
        CheckPage(target);
    }
}

bool Patrol::waitForHost(const QString &host)
{
    for (qint64 left = m_pace.gapEndsAt(host) - m_pace.now(); left > 0; left = m_pace.gapEndsAt(host) - m_pace.now()) {
        pump::waitForEvents(int(qMin<qint64>(left, kPollMs)));
        if (m_abandoned)
            return false;
    }
    return true;
}

LoadResult Patrol::waitForPage(qint64 start)
{
    Browser &browser = *m_w.browser;
    while (browser.busy()) {
        // Sleeps until the browser or anything else has news instead of spinning.
        pump::waitForEvents(kPollMs);
        if (m_abandoned)
            return {};
        if (m_seconds() - start > kLoadLimitSeconds) {
            browser.quit();
            break;
        }
    }
    return browser.loadResult();
}

bool Patrol::readPieces(QString &text, QList<QStringView> &pieces)
{
    // A page of many thousand lines takes a while at each of these; the window answers in between.
    step([&] { text = m_w.browser->bodyInnerText(); });
    if (!pumpAndGoOn())
        return false;
    step([&] { text = width::narrow(text); });
    if (!pumpAndGoOn())
        return false;
    step([&] { pieces = PageText::cut(text); });
    return pumpAndGoOn();
}

bool Patrol::examineLines(const QList<QStringView> &pieces, QString &body, Visit &visit)
{
    m_pendingRows.clear();
    m_pendingHitBy.clear();
    m_w.List1->clear();
    m_w.List1->hide();
    const bool done = PageText::forEachLine(pieces, [&](int i, QStringView line) {
        step([&] {
            // Every condition is tried on a hit line, so that its row can tell all that hit it.
            // The texts are taken before RecordNewHit lets window messages run, an edit among them.
            QList<int> hitBy;
            bool hit = m_conditions->MatchCondition(line, Conditions::PageMode, &hitBy);
            const QStringList conditions = HitRow::conditions(m_w.ListKeyWord, hitBy);
            if (hit)
                hit = RecordNewHit(line.toString(), body);
            m_pendingRows.append(PageText::entry(hit, i, line));
            if (!conditions.isEmpty())
                m_pendingHitBy.append({m_pendingRows.size() - 1, conditions});
            ++visit.lines;
            visit.newHits += hit ? 1 : 0;
        });
        return pumpBetweenLines();
    });
    if (!done)
        return false;
    flushRows();
    if (m_abandoned)
        return false;
    m_w.List1->show();
    return true;
}

void Patrol::finishCheck(Visit &visit)
{
    if (m_mail.attempted) {
        const QString failure = m_mail.failure.section(u'\n', 0, 0).trimmed();
        const QString popFailure = m_mail.popFailure.section(u'\n', 0, 0).trimmed();
        if (m_mail.noServer) {
            // Not a fault to repeat at every page: those who only want notifications set no server.
            m_mailTrouble.clear();
            if (!std::exchange(m_noServerTold, true))
                m_stepNotice = noMailServerText();
        } else if (!failure.isEmpty()) {
            m_mailTrouble = mailFailedText(failure);
        } else {
            m_mailTrouble = popFailure.isEmpty() ? QString() : popFailedText(popFailure);
        }
        visit.mail = failure.isEmpty() ? Visit::Mail::Sent : Visit::Mail::Failed;
        visit.mailFailure = failure;
        visit.popFailure = popFailure;
    }
    QString status = m_stepNotice.isEmpty() ? m_mailTrouble : m_stepNotice;
    if (status.isEmpty() && m_w.standingTrouble)
        status = m_w.standingTrouble();
    m_w.LaStatus->setText(status.isEmpty() ? u"巡回完了"_s : status);
    visit.when = QDateTime::currentDateTime();
    // One line per visit for whoever keeps the program's output (the journal under systemd).
    applog::write(visit.priority(), visit.logLine());
    if (visit.target && m_health->record(visit, [this] { return !m_abandoned; }) && m_w.persist && !m_abandoned)
        m_w.persist(false);
}

void Patrol::logInterrupted(Visit &visit)
{
    // Whether the server took the mail is settled by now: the end of the program waited for it.
    if (m_mail.attempted) {
        const bool taken = m_mailAccepted && m_mailAccepted->load();
        visit.mail = taken ? Visit::Mail::Sent : Visit::Mail::Failed;
        visit.mailFailure = taken ? QString() : Module1::cancelledText();
    }
    visit.interrupted = true;
    visit.when = QDateTime::currentDateTime();
    applog::write(visit.priority(), visit.logLine());
}

void Patrol::CheckPage(const QString &address)
{
    if (m_abandoned)
        return;
    Browser &browser = *m_w.browser;
    Visit visit;
    visit.address = address;
    visit.target = !m_following;
    if (visit.target) {
        m_linkSource.reset();
        m_conditions->beginPage();
        m_stepNotice.clear();
    }
    ++m_mailToken;
    m_mailLines.clear();
    m_mailPending = false;
    m_mailAccepted.reset();
    m_mail = {};
    const qint64 start = m_seconds();
    QElapsedTimer clock;
    clock.start();
    const auto cutShort = qScopeGuard([&] {
        if (m_abandoned && !visit.when.isValid())
            logInterrupted(visit);
    });

    m_w.LaStatus->setText(address + u" 接続中... "_s);
    if (!pumpAndGoOn())
        return;
    const QString host = HostPace::hostOf(address);
    {
        clINI ini(m_w.settingsFolder ? m_w.settingsFolder() : QString());
        m_pace.setGapMs(qint64(Keys::hostGapSeconds(ini.GetSetting(Keys::HostGap))) * 1000);
    }
    if (!waitForHost(host))
        return;
    m_pace.visiting(host);
    if (visit.target)
        m_timetable.visited(address);
    browser.setVisible(false);
    browser.navigate(address);
    browser.setVisible(true);
    const quint64 navigation = browser.navigationCount();
    if (!pumpAndGoOn())
        return;
    visit.load = waitForPage(start);
    if (m_abandoned)
        return;
    QString text;
    QList<QStringView> pieces;
    if (visit.load.documentArrived() && browser.navigationCount() == navigation) {
        if (!readPieces(text, pieces))
            return;
        step([&] { visit.cost.bytes = browser.bytesReceived().value_or(-1); });
        if (m_abandoned)
            return;
    }
    // Somebody else navigated meanwhile (the survey post): what is on screen is not this page.
    if (browser.navigationCount() != navigation) {
        visit.load.failure = LoadResult::Failure::NoDocument;
        pieces.clear();
    }
    // A login form where the target's working page was is a session that has run out; its lines
    // are still examined.
    if (visit.target && visit.load.documentArrived()) {
        step([&] { visit.passwordField = browser.passwordFieldShown().value_or(false); });
        if (m_abandoned)
            return;
        visit.loginRequired = m_health->loginLost(address, visit.passwordField);
    }
    if (browser.navigationCount() == navigation)
        step([&] { SiteAnswer::read(browser, visit, m_pace.now()); });
    if (m_abandoned)
        return;
    m_pace.answered(host, visit.hostFailed(), visit.retryAt > 0 ? std::optional<qint64>(visit.retryAt) : std::nullopt);
    // A page that did not arrive is named by the address asked for, never by what is on screen.
    const QString name = visit.load.documentArrived() ? browser.locationName() : address;
    if (m_abandoned)
        return;
    m_w.window->setWindowTitle(AppTitle::get() + u" ["_s + name + u"]"_s);
    QString body;
    if (!examineLines(pieces, body, visit))
        return;
    visit.cost.ms = clock.elapsed();
    if (const qint64 resident = process::treeUsage().residentBytes; resident > 0)
        visit.cost.residentBytes = resident;
    if (!body.isEmpty() && m_w.tellDesktop)
        step([&] {
            m_w.tellDesktop({DesktopEvent::Kind::NewHits, address, name,
                body.split(u"\r\n"_s, Qt::SkipEmptyParts).mid(0, 3), visit.newHits});
        });
    if (!body.isEmpty())
        step([&] { SendHitMail(body); });
    if (m_abandoned)
        return;
    if (visit.target && visit.load.documentArrived() && browser.navigationCount() == navigation)
        m_linkSource = navigation;
    finishCheck(visit);
    pump::doEvents();
}
