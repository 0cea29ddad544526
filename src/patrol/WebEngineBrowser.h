#pragma once

#include "patrol/Browser.h"
#include "patrol/SilentPage.h"

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QUrl>

class BrowserProfile;
class QWebEngineLoadingInfo;
class QWebEngineProfile;
class QWebEngineView;

// The browser on Qt WebEngine. Starts silent. Its page lives on the profile it is given, which
// the login window shares; without one it makes an off-the-record profile of its own, so that
// nothing of the pages is written to disk.
class WebEngineBrowser : public QObject, public Browser
{
    Q_OBJECT
public:
    // Chromium reads its switches once, when the engine starts: call this before the
    // QApplication is constructed.
    static void prepareEnvironment();
    // What the user must know when prepareEnvironment() had to switch the engine's sandbox off,
    // in Japanese; empty while it is on.
    static QString unconfinedText();

    // The engine separates lines by LF; callers cut at CR LF. A CR already in place is kept.
    static QString crLfLines(const QString &text);

    explicit WebEngineBrowser(QWidget *parent = nullptr);
    // The profile must outlive the browser.
    explicit WebEngineBrowser(BrowserProfile *profile, QWidget *parent = nullptr);
    ~WebEngineBrowser() override;

    void setSilent(bool silent) override;
    void setVisible(bool visible) override;
    void navigate(const QString &address) override;
    void navigate2(const QString &address, const QByteArray &postData, const QString &headerLine) override;
    bool busy() const override { return m_busy; }
    void quit() override;
    LoadResult loadResult() override;
    quint64 navigationCount() const override { return m_navigations; }

    QString bodyInnerText() override;
    QString documentTitle() override;
    QString locationName() override;
    QString locationUrl() override;

    std::optional<int> linkCount() override;
    std::optional<QString> linkText(int i) override;
    std::optional<QString> linkHref(int i) override;
    std::optional<QList<BrowserLink>> links() override;
    std::optional<bool> passwordFieldShown() override;
    std::optional<bool> challengeShown() override;
    std::optional<QStringList> answerHeaders(const QStringList &names) override;
    std::optional<qint64> bytesReceived() override;

    QWidget *widget() override;

    QWebEnginePage *page() const { return m_page; }
    // On from the start; off loads pages with everything they ask for, as a browser would. Turned
    // off, the page on screen fetches at once what it left out.
    void setTextOnly(bool on)
    {
        if (m_page)
            m_page->setTextOnly(on);
    }
    // How long one read of the document may wait for the engine.
    void setReadTimeout(int ms) { m_readTimeoutMs = ms; }

    // The engine's error number and domain as a failure of a visit.
    static LoadResult::Failure failureOf(int errorCode, int errorDomain);

private:
    // What the engine has told about the navigation under way.
    struct Visit
    {
        bool refused = false;
        bool ended = false;
        bool quit = false;
        bool rendererEnded = false;
        LoadResult::Failure failure = LoadResult::Failure::None;
        int httpStatus = 0;
        int engineCode = 0;
        QUrl sameDocumentTarget;
    };

    // A page of the patrol's own on the profile, in place of the one before.
    void usePage(QWebEngineProfile *profile);
    bool beginNavigation(const QUrl &url);
    void startLoading();
    void onLoadingChanged(const QWebEngineLoadingInfo &info);
    void onUrlChanged(const QUrl &url);
    void endSameDocument();
    bool documentGone() const;
    // The expression evaluated on the document of the last navigation only; null on any other.
    QString guarded(const QString &expression) const;
    std::optional<QVariant> evaluate(const QString &script);
    std::optional<QString> evaluateText(const QString &script);

    BrowserProfile *m_profile = nullptr;
    QPointer<SilentPage> m_page;
    QPointer<QWebEngineView> m_view;
    QTimer m_startWatch;
    int m_readTimeoutMs = 5000;
    bool m_busy = false;
    bool m_awaitingStart = false;
    bool m_engineLoading = false;
    quint64 m_navigations = 0;
    Visit m_visit;
};
