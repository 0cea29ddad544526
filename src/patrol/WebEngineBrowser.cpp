#include "patrol/WebEngineBrowser.h"

#include "platform/MessagePump.h"
#include "platform/Process.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QRegularExpression>
#include <QUrl>
#include <QWebEngineCertificateError>
#include <QWebEngineHttpRequest>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineSettings>
#include <QWebEngineView>

#include <memory>

namespace {

// Should the engine never report the start of a navigation, busy ends after this long.
constexpr int startLimitMs = 3000;

// Reads run in a world of their own, so page scripts that replace Array or String cannot break them.
constexpr quint32 readWorld = QWebEngineScript::ApplicationWorld;

// Without a scheme the engine would load an empty page over the current one; refuse it instead.
bool loadable(const QUrl &url)
{
    return url.isValid() && !url.isRelative();
}

// Targets typed as "www.example.co.jp/news" or "127.0.0.1:8080/" were always loaded as web
// addresses; anything else without a scheme is refused as before.
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

} // namespace

SilentPage::SilentPage(QWebEngineProfile *profile, QObject *parent)
    : QWebEnginePage(profile, parent)
{
    connect(this, &QWebEnginePage::certificateError, this, [](const QWebEngineCertificateError &error) {
        QWebEngineCertificateError refused = error;
        refused.rejectCertificate();
    });
    connect(this, &QWebEnginePage::featurePermissionRequested, this,
        [this](const QUrl &origin, QWebEnginePage::Feature feature) {
            setFeaturePermission(origin, feature, QWebEnginePage::PermissionDeniedByUser);
        });
}

void SilentPage::javaScriptAlert(const QUrl &securityOrigin, const QString &msg)
{
    if (!m_silent)
        QWebEnginePage::javaScriptAlert(securityOrigin, msg);
}

bool SilentPage::javaScriptConfirm(const QUrl &securityOrigin, const QString &msg)
{
    return !m_silent && QWebEnginePage::javaScriptConfirm(securityOrigin, msg);
}

bool SilentPage::javaScriptPrompt(
    const QUrl &securityOrigin, const QString &msg, const QString &defaultValue, QString *result)
{
    return !m_silent && QWebEnginePage::javaScriptPrompt(securityOrigin, msg, defaultValue, result);
}

void SilentPage::javaScriptConsoleMessage(JavaScriptConsoleMessageLevel, const QString &, int, const QString &)
{ }

QStringList SilentPage::chooseFiles(
    FileSelectionMode mode, const QStringList &oldFiles, const QStringList &acceptedMimeTypes)
{
    if (m_silent)
        return {};
    return QWebEnginePage::chooseFiles(mode, oldFiles, acceptedMimeTypes);
}

QWebEnginePage *SilentPage::createWindow(WebWindowType)
{
    return nullptr;
}

void WebEngineBrowser::prepareEnvironment()
{
    QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
    // The patrol runs unattended, often on a closed network: no calls home, no updates, and no
    // throttling of a page just because the window is hidden or minimised.
    QList<QByteArray> wanted
        = {"--disable-background-networking", "--disable-component-update", "--disable-sync", "--no-first-run",
            "--disable-quic", "--disable-renderer-backgrounding", "--disable-background-timer-throttling"};
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    if (platform.startsWith("offscreen") || platform.startsWith("minimal"))
        wanted.append("--disable-gpu");
    for (const QByteArray &flag : wanted) {
        if (!flags.split(' ').contains(flag))
            flags += (flags.isEmpty() ? "" : " ") + flag;
    }
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", flags);
    // Chromium will not start as root with its sandbox on.
    if (process::runningAsRoot())
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
}

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
    : QObject(parent)
    , m_profile(new QWebEngineProfile(this))
{
    QWebEngineSettings *settings = m_profile->settings();
    // Chromium's own error page would be read as the page's text and patrolled like content.
    settings->setAttribute(QWebEngineSettings::ErrorPageEnabled, false);
    settings->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, false);
    settings->setAttribute(QWebEngineSettings::JavascriptCanAccessClipboard, false);
    settings->setAttribute(QWebEngineSettings::PluginsEnabled, false);
    // A page loaded by the timer must not take the keyboard away from what the user is typing.
    settings->setAttribute(QWebEngineSettings::FocusOnNavigationEnabled, false);
    // A followed mailto: or other foreign link must not start another program on the desktop.
    settings->setUnknownUrlSchemePolicy(QWebEngineSettings::DisallowUnknownUrlSchemes);

    m_page = new SilentPage(m_profile, this);
    m_view = new QWebEngineView(parent);
    m_view->setPage(m_page);

    connect(m_page, &QWebEnginePage::loadStarted, this, &WebEngineBrowser::onLoadStarted);
    connect(m_page, &QWebEnginePage::loadFinished, this, &WebEngineBrowser::onLoadFinished);
    // A crashed renderer never reports the end of its load.
    connect(m_page, &QWebEnginePage::renderProcessTerminated, this, [this] {
        m_busy = false;
        m_engineLoading = false;
        m_awaitingStart = false;
    });

    m_startWatch.setSingleShot(true);
    m_startWatch.setInterval(startLimitMs);
    connect(&m_startWatch, &QTimer::timeout, this, [this] {
        if (m_awaitingStart) {
            m_awaitingStart = false;
            m_busy = false;
        }
    });
}

WebEngineBrowser::~WebEngineBrowser()
{
    // The engine insists that pages go before their profile.
    delete m_view;
    delete m_page;
    delete m_profile;
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
    if (!m_page || !loadable(url)) {
        m_busy = false;
        return;
    }
    startLoading();
    m_page->load(url);
}

void WebEngineBrowser::navigate2(const QString &address, const QByteArray &postData, const QString &headerLine)
{
    const QUrl url(address);
    if (!m_page || !loadable(url)) {
        m_busy = false;
        return;
    }
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
    m_awaitingStart = false;
    m_startWatch.stop();
    m_busy = false;
    // The end of the stopped load is still on its way; the next navigation must not take it
    // for its own.
    m_engineLoading = false;
    if (m_page)
        m_page->triggerAction(QWebEnginePage::Stop);
}

void WebEngineBrowser::onLoadStarted()
{
    m_engineLoading = true;
    m_awaitingStart = false;
    m_startWatch.stop();
    m_busy = true;
}

void WebEngineBrowser::onLoadFinished()
{
    m_engineLoading = false;
    // Until our navigation has started, an end reported belongs to the load it replaced.
    if (!m_awaitingStart)
        m_busy = false;
}

std::optional<QVariant> WebEngineBrowser::evaluate(const QString &script)
{
    if (!m_page)
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
    const std::optional<QString> text = evaluateText(
        QStringLiteral("(function() { var b = document.body; return b ? String(b.innerText) : null; })()"));
    return text ? crLfLines(*text) : QString();
}

QString WebEngineBrowser::documentTitle()
{
    return evaluateText(QStringLiteral("String(document.title)")).value_or(QString());
}

QString WebEngineBrowser::locationName()
{
    const QString title = documentTitle();
    return title.isEmpty() ? locationUrl() : title;
}

QString WebEngineBrowser::locationUrl()
{
    return m_page ? m_page->url().toString() : QString();
}

std::optional<int> WebEngineBrowser::linkCount()
{
    const std::optional<QVariant> value = evaluate(QStringLiteral("document.links.length"));
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
        QStringLiteral("(function() { var a = document.links[%1]; return a ? String(a.outerText) : null; })()").arg(i));
}

std::optional<QString> WebEngineBrowser::linkHref(int i)
{
    return evaluateText(
        QStringLiteral("(function() { var a = document.links[%1]; return a ? String(a.href) : null; })()").arg(i));
}

std::optional<QList<BrowserLink>> WebEngineBrowser::links()
{
    const std::optional<QVariant> value = evaluate(QStringLiteral(
        "Array.prototype.map.call(document.links, function(a) { return [String(a.outerText), String(a.href)]; })"));
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

QWidget *WebEngineBrowser::widget()
{
    return m_view;
}
