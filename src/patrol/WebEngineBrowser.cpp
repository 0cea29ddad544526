#include "patrol/WebEngineBrowser.h"

#include "patrol/BrowserProfile.h"

#include "platform/Log.h"
#include "platform/MessagePump.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QRegularExpression>
#include <QUrl>
#include <QWebEngineHttpRequest>
#include <QWebEngineLoadingInfo>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineView>

#include <memory>

using namespace Qt::StringLiterals;

namespace {

// Should the engine never report the start of a navigation, busy ends after this long.
constexpr int startLimitMs = 3000;

// Reads run in a world of their own, so page scripts that replace Array or String cannot break them.
constexpr quint32 readWorld = QWebEngineScript::ApplicationWorld;

// Without a scheme the engine would load an empty page over the current one, and other schemes
// are no pages to patrol ("javascript:" would even run in the page on screen): refuse them.
bool loadable(const QUrl &url)
{
    if (!url.isValid() || url.isRelative())
        return false;
    const QString scheme = url.scheme().toLower();
    return scheme == u"http" || scheme == u"https" || scheme == u"file";
}

// Targets typed as "www.example.co.jp/news" or "127.0.0.1:8080/" were always loaded as web
// addresses; anything else without a scheme is refused.
QUrl targetUrl(const QString &address)
{
    const QUrl url(address);
    // "localhost:8080/" reads as scheme "localhost"; a port after the colon says it is none.
    static const QRegularExpression hostAndPort(QStringLiteral("^[A-Za-z0-9.-]+:[0-9]{1,5}([/?#]|$)"));
    const bool bare = url.isRelative() || hostAndPort.match(address).hasMatch();
    if (!bare || address.isEmpty() || address.startsWith(u'/') || address.startsWith(u'.'))
        return url;
    for (QChar c : address) {
        if (c.isSpace())
            return url;
    }
    const QUrl web(QStringLiteral("http://") + address, QUrl::StrictMode);
    const QString host = web.host();
    const bool hostLike = host.contains(u'.') || host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0;
    return web.isValid() && hostLike ? web : url;
}

// The isolated world's own mark on a document: the navigation that brought it. Pages cannot see
// or change it. A document that carries no mark yet arrived after the last navigation began.
constexpr auto kDocumentMark = "window.korvaniNavigation";

// Counts from the document's start what the engine says its own load and every resource it
// loaded took on the network, headers included: an observer sees them all, where the document's
// list of them stops at a few hundred.
QWebEngineScript byteCounter()
{
    QWebEngineScript script;
    script.setName(QStringLiteral("korvani-bytes"));
    script.setWorldId(readWorld);
    script.setInjectionPoint(QWebEngineScript::DocumentCreation);
    script.setRunsOnSubFrames(false);
    script.setSourceCode(QStringLiteral(
        "(function() { var bytes = 0; function add(entries) {"
        " for (var i = 0; i < entries.length; ++i) bytes += entries[i].transferSize || 0; }"
        " var seen = new PerformanceObserver(function(list) { add(list.getEntries()); });"
        " seen.observe({type: 'navigation', buffered: true}); seen.observe({type: 'resource', buffered: true});"
        " window.korvaniBytes = function() { add(seen.takeRecords()); return bytes; }; })();"));
    return script;
}

} // namespace

QString WebEngineBrowser::crLfLines(const QString &text)
{
    QString out;
    out.reserve(text.size() + text.size() / 8);
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == u'\n' && (i == 0 || text[i - 1] != u'\r'))
            out += u'\r';
        out += text[i];
    }
    return out;
}

WebEngineBrowser::WebEngineBrowser(QWidget *parent)
    : WebEngineBrowser(nullptr, parent)
{ }

WebEngineBrowser::WebEngineBrowser(BrowserProfile *profile, QWidget *parent)
    : QObject(parent)
    , m_profile(profile ? profile : new BrowserProfile(this))
{
    m_view = new QWebEngineView(parent);
    usePage(m_profile->profile());
    // Cleared logins: the page moves to the fresh profile, and nothing of the old page is read.
    connect(m_profile, &BrowserProfile::replaced, this, [this](QWebEngineProfile *fresh) {
        if (m_busy)
            quit();
        usePage(fresh);
        m_visit = Visit {};
        m_visit.ended = true;
        m_visit.failure = LoadResult::Failure::NoDocument;
    });

    m_startWatch.setSingleShot(true);
    m_startWatch.setInterval(startLimitMs);
    connect(&m_startWatch, &QTimer::timeout, this, [this] {
        if (m_awaitingStart) {
            m_awaitingStart = false;
            m_busy = false;
            m_visit.ended = true;
        }
    });
}

WebEngineBrowser::~WebEngineBrowser()
{
    // The engine insists that pages go before their profile.
    delete m_view;
    delete m_page;
}

void WebEngineBrowser::usePage(QWebEngineProfile *profile)
{
    QPointer<SilentPage> old = m_page;
    m_page = new SilentPage(profile, this);
    m_page->setSilent(old ? old->isSilent() : true);
    m_page->setTextOnly(old ? old->isTextOnly() : true);
    m_page->scripts().insert(byteCounter());
    m_view->setPage(m_page);
    delete old;

    connect(m_page, &QWebEnginePage::loadingChanged, this, &WebEngineBrowser::onLoadingChanged);
    connect(m_page, &QWebEnginePage::urlChanged, this, &WebEngineBrowser::onUrlChanged);
    // A crashed renderer never reports the end of its load, and its document is gone.
    connect(m_page, &QWebEnginePage::renderProcessTerminated, this,
        [this](QWebEnginePage::RenderProcessTerminationStatus, int exitCode) {
            m_busy = false;
            m_engineLoading = false;
            m_awaitingStart = false;
            m_startWatch.stop();
            m_visit.rendererEnded = true;
            m_visit.engineCode = exitCode;
            applog::write(applog::Priority::Warning,
                QDateTime::currentDateTime().toString(Qt::ISODate) + u" renderer-ended code=%1"_s.arg(exitCode));
        });
}

void WebEngineBrowser::setSilent(bool silent)
{
    if (m_page)
        m_page->setSilent(silent);
}

void WebEngineBrowser::setVisible(bool visible)
{
    if (m_view)
        m_view->setVisible(visible);
}

bool WebEngineBrowser::beginNavigation(const QUrl &url)
{
    ++m_navigations;
    const bool documentOnScreen = !documentGone();
    m_visit = Visit {};
    if (!m_page || !loadable(url)) {
        m_visit.refused = true;
        m_visit.ended = true;
        m_awaitingStart = false;
        m_startWatch.stop();
        m_busy = false;
        return false;
    }
    // Another place in the page that is on screen: the engine moves there without a load.
    const QUrl current = m_page->url();
    const bool sameDocument = url.hasFragment() && !m_engineLoading && documentOnScreen
        && url.adjusted(QUrl::RemoveFragment) == current.adjusted(QUrl::RemoveFragment);
    // Marks the document on screen before the navigation can replace it. Script runs on the
    // page's own thread in the order sent, so the mark lands before any read sent later; the new
    // document comes only after a round trip to the server.
    const quint64 mark = sameDocument ? m_navigations : 0;
    m_page->runJavaScript(QStringLiteral("%1 = %2;").arg(QLatin1String(kDocumentMark)).arg(mark), readWorld);
    if (sameDocument)
        m_visit.sameDocumentTarget = url;
    return true;
}

void WebEngineBrowser::startLoading()
{
    // Busy from this call on: the engine reports the start only later, and a poll in between
    // must not take the previous page for the new one.
    m_busy = true;
    // A navigation issued while the engine is loading is folded into that load: no new start
    // comes, and the one end reported covers both.
    m_awaitingStart = !m_engineLoading;
    if (m_awaitingStart)
        m_startWatch.start();
}

void WebEngineBrowser::navigate(const QString &address)
{
    const QUrl url = targetUrl(address);
    if (!beginNavigation(url))
        return;
    startLoading();
    const bool alreadyThere = m_visit.sameDocumentTarget.isValid() && m_page->url() == url;
    m_page->load(url);
    // Moving to the place the page is already at changes nothing the engine would report.
    if (alreadyThere)
        endSameDocument();
}

void WebEngineBrowser::navigate2(const QString &address, const QByteArray &postData, const QString &headerLine)
{
    const QUrl url(address);
    if (!beginNavigation(url))
        return;
    // A post always loads a new document.
    m_visit.sameDocumentTarget = QUrl();
    QWebEngineHttpRequest request(url, QWebEngineHttpRequest::Post);
    request.setPostData(postData);
    const QString line = headerLine.trimmed();
    const qsizetype colon = line.indexOf(u':');
    if (colon > 0)
        request.setHeader(line.left(colon).trimmed().toLatin1(), line.mid(colon + 1).trimmed().toLatin1());
    startLoading();
    m_page->load(request);
}

void WebEngineBrowser::quit()
{
    if (m_busy)
        m_visit.quit = true;
    m_awaitingStart = false;
    m_startWatch.stop();
    m_busy = false;
    // The end of the stopped load is still on its way; the next navigation must not take it
    // for its own.
    m_engineLoading = false;
    if (m_page)
        m_page->triggerAction(QWebEnginePage::Stop);
}

void WebEngineBrowser::endSameDocument()
{
    if (!m_awaitingStart)
        return;
    m_awaitingStart = false;
    m_startWatch.stop();
    m_busy = false;
    m_visit.ended = true;
}

void WebEngineBrowser::onUrlChanged(const QUrl &url)
{
    if (m_visit.sameDocumentTarget.isValid() && url == m_visit.sameDocumentTarget)
        endSameDocument();
}

void WebEngineBrowser::onLoadingChanged(const QWebEngineLoadingInfo &info)
{
    if (info.status() == QWebEngineLoadingInfo::LoadStartedStatus) {
        m_engineLoading = true;
        m_awaitingStart = false;
        m_startWatch.stop();
        // A real load after all: the target was no place in the page on screen.
        m_visit.sameDocumentTarget = QUrl();
        m_busy = true;
        return;
    }
    m_engineLoading = false;
    // Until our navigation has started, an end reported belongs to the load it replaced; after a
    // quit() it belongs to the load given up.
    if (m_awaitingStart || !m_busy)
        return;
    m_busy = false;
    m_visit.ended = true;
    if (info.errorDomain() == QWebEngineLoadingInfo::HttpStatusCodeDomain) {
        // The server answered, with whatever status: its page is the document.
        m_visit.httpStatus = info.errorCode();
    } else if (info.status() != QWebEngineLoadingInfo::LoadSucceededStatus) {
        m_visit.failure = failureOf(info.errorCode(), info.errorDomain());
        m_visit.engineCode = info.errorCode();
    }
}

bool WebEngineBrowser::documentGone() const
{
    return m_visit.refused || m_visit.rendererEnded || m_visit.failure != LoadResult::Failure::None;
}

LoadResult WebEngineBrowser::loadResult()
{
    LoadResult r;
    r.httpStatus = m_visit.httpStatus;
    r.engineCode = m_visit.engineCode;
    r.complete = m_visit.ended && !m_visit.quit;
    if (m_visit.refused) {
        r.failure = LoadResult::Failure::Refused;
        return r;
    }
    if (m_visit.rendererEnded) {
        r.failure = LoadResult::Failure::RendererEnded;
        return r;
    }
    if (m_visit.failure != LoadResult::Failure::None) {
        r.failure = m_visit.failure;
        return r;
    }
    // Success, an answer with an error status, or a wait given up: only the document on screen
    // can say whether it is the one this navigation brought.
    const std::optional<QVariant> mine = evaluate(guarded(QStringLiteral("true")));
    if (!mine || !mine->toBool()) {
        r.failure = m_visit.quit || !m_visit.ended ? LoadResult::Failure::TimedOut : LoadResult::Failure::NoDocument;
        // From now on nothing on screen passes for this navigation's page.
        m_visit.failure = r.failure;
    }
    return r;
}

QString WebEngineBrowser::guarded(const QString &expression) const
{
    return QStringLiteral("(function() { var mark = %1; if (%2 === undefined) %2 = mark; "
                          "if (%2 !== mark) return null; return (%3); })()")
        .arg(m_navigations)
        .arg(QLatin1String(kDocumentMark), expression);
}

std::optional<QVariant> WebEngineBrowser::evaluate(const QString &script)
{
    if (!m_page || documentGone())
        return std::nullopt;
    // Window messages run while we wait: this object may be gone when the answer comes, so the
    // answer goes to a state of its own and nothing of this object is touched after the wait.
    struct Answer
    {
        bool done = false;
        QVariant value;
    };
    auto answer = std::make_shared<Answer>();
    m_page->runJavaScript(script, readWorld, [answer](const QVariant &value) {
        answer->value = value;
        answer->done = true;
    });
    const QDeadlineTimer deadline(m_readTimeoutMs);
    while (!answer->done && !deadline.hasExpired())
        pump::waitForEvents(50);
    if (!answer->done)
        return std::nullopt;
    return answer->value;
}

std::optional<QString> WebEngineBrowser::evaluateText(const QString &script)
{
    const std::optional<QVariant> value = evaluate(script);
    if (!value || value->typeId() != QMetaType::QString)
        return std::nullopt;
    return value->toString();
}

QString WebEngineBrowser::bodyInnerText()
{
    // The text of a large page comes over in pieces, with window messages running in between:
    // one answer of several megabytes would hold the window for a noticeable moment.
    constexpr int kPiece = 1 << 18;
    const std::optional<QVariant> length = evaluate(
        guarded(QStringLiteral("(function() { var b = document.body; if (!b) return null; "
                               "window.korvaniText = String(b.innerText); return window.korvaniText.length; })()")));
    if (!length || !length->isValid() || length->isNull())
        return QString();
    const qsizetype total = qsizetype(length->toDouble());
    QString text;
    text.reserve(total + total / 16);
    bool afterCr = false;
    for (qsizetype at = 0; at < total; at += kPiece) {
        const std::optional<QString> piece = evaluateText(
            guarded(QStringLiteral("typeof window.korvaniText === 'string' ? window.korvaniText.substr(%1, %2) : null")
                        .arg(at)
                        .arg(kPiece)));
        if (!piece)
            return QString();
        for (QChar c : *piece) {
            if (c == u'\n' && !afterCr)
                text += u'\r';
            text += c;
            afterCr = c == u'\r';
        }
    }
    evaluate(guarded(QStringLiteral("delete window.korvaniText")));
    return text;
}

QString WebEngineBrowser::documentTitle()
{
    return evaluateText(guarded(QStringLiteral("String(document.title)"))).value_or(QString());
}

QString WebEngineBrowser::locationName()
{
    const QString title = documentTitle();
    return title.isEmpty() ? locationUrl() : title;
}

QString WebEngineBrowser::locationUrl()
{
    return m_page && !documentGone() ? m_page->url().toString() : QString();
}

std::optional<int> WebEngineBrowser::linkCount()
{
    const std::optional<QVariant> value = evaluate(guarded(QStringLiteral("document.links.length")));
    if (!value)
        return std::nullopt;
    bool ok = false;
    const int count = value->toInt(&ok);
    if (!ok || count < 0)
        return std::nullopt;
    return count;
}

std::optional<QString> WebEngineBrowser::linkText(int i)
{
    return evaluateText(
        guarded(QStringLiteral("(function() { var a = document.links[%1]; return a ? String(a.outerText) : null; })()")
                    .arg(i)));
}

std::optional<QString> WebEngineBrowser::linkHref(int i)
{
    return evaluateText(guarded(
        QStringLiteral("(function() { var a = document.links[%1]; return a ? String(a.href) : null; })()").arg(i)));
}

std::optional<QList<BrowserLink>> WebEngineBrowser::links()
{
    const std::optional<QVariant> value = evaluate(guarded(QStringLiteral(
        "Array.prototype.map.call(document.links, function(a) { return [String(a.outerText), String(a.href)]; })")));
    if (!value || value->typeId() != QMetaType::QVariantList)
        return std::nullopt;
    QList<BrowserLink> result;
    for (const QVariant &entry : value->toList()) {
        const QVariantList pair = entry.toList();
        if (pair.size() != 2)
            return std::nullopt;
        result.append({pair[0].toString(), pair[1].toString()});
    }
    return result;
}

std::optional<qint64> WebEngineBrowser::bytesReceived()
{
    const std::optional<QVariant> value
        = evaluate(guarded(QStringLiteral("typeof window.korvaniBytes === 'function' ? window.korvaniBytes() : null")));
    if (!value || !value->isValid() || value->isNull())
        return std::nullopt;
    return qint64(value->toDouble());
}

QWidget *WebEngineBrowser::widget()
{
    return m_view;
}
