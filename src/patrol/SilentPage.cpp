#include "patrol/SilentPage.h"

#include <QCoreApplication>
#include <QWebEngineCertificateError>
#include <QWebEngineSettings>

#include <utility>

using namespace Qt::StringLiterals;

SilentPage::SilentPage(QWebEngineProfile *profile, QObject *parent)
    : QWebEnginePage(profile, parent)
{
    // On the page, not the profile: the login window shares the profile and is no patrol.
    QWebEngineSettings *s = settings();
    // Chromium's own error page would be read as the page's text and patrolled like content.
    s->setAttribute(QWebEngineSettings::ErrorPageEnabled, false);
    s->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, false);
    s->setAttribute(QWebEngineSettings::JavascriptCanAccessClipboard, false);
    s->setAttribute(QWebEngineSettings::PluginsEnabled, false);
    // A page loaded by the timer must not take the keyboard away from what the user is typing.
    s->setAttribute(QWebEngineSettings::FocusOnNavigationEnabled, false);
    // A followed mailto: or other foreign link must not start another program on the desktop.
    s->setUnknownUrlSchemePolicy(QWebEngineSettings::DisallowUnknownUrlSchemes);
    connect(this, &QWebEnginePage::certificateError, this, [](const QWebEngineCertificateError &error) {
        QWebEngineCertificateError refused = error;
        refused.rejectCertificate();
    });
    connect(this, &QWebEnginePage::featurePermissionRequested, this,
        [this](const QUrl &origin, QWebEnginePage::Feature feature) {
            setFeaturePermission(origin, feature, QWebEnginePage::PermissionDeniedByUser);
        });
    setTextOnly(true);
}

SilentPage::~SilentPage()
{
    // The filter goes before the page's own end.
    setUrlRequestInterceptor(nullptr);
}

void SilentPage::setTextOnly(bool on)
{
    using S = QWebEngineSettings;
    // What only paints, and the value that leaves it out.
    static constexpr std::pair<S::WebAttribute, bool> kPaintOnly[]
        = {{S::AutoLoadImages, false}, {S::AutoLoadIconsForPage, false}, {S::PlaybackRequiresUserGesture, true},
            {S::WebGLEnabled, false}, {S::Accelerated2dCanvasEnabled, false}};
    m_textOnly = on;
    for (const auto &[attribute, value] : kPaintOnly) {
        if (on)
            settings()->setAttribute(attribute, value);
        else
            settings()->resetAttribute(attribute);
    }
    // On the page, not the profile, like the settings: the login window shares the profile.
    setUrlRequestInterceptor(on ? &m_filter : nullptr);
}

void SilentPage::javaScriptAlert(const QUrl &securityOrigin, const QString &msg)
{
    if (!m_silent)
        QWebEnginePage::javaScriptAlert(securityOrigin, msg);
}

QString SilentPage::leavePageQuestion()
{
    return QCoreApplication::translate(
        "QWebEnginePage", "Are you sure you want to leave this page? Changes that you made may not be saved.");
}

bool SilentPage::javaScriptConfirm(const QUrl &securityOrigin, const QString &msg)
{
    // The engine asks before leaving a page that wants to keep its visitor; "stay" would refuse
    // every later navigation and hold the patrol on that page for good.
    if (msg == leavePageQuestion())
        return true;
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
