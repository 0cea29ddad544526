#pragma once

#include "patrol/Browser.h"

#include <QHash>
#include <QStringList>

// A browser whose pages are given by the test, for the logic that drives a browser. It records
// every call it gets in calls(), in order, e.g. "navigate http://a/", "visible 0", "quit".
struct ScriptedPage
{
    QString body;
    QString title;
    QString url; // empty: the address navigated to
    QList<BrowserLink> links;
    int busyPolls = 0; // how many busy() polls answer true after the navigation
    bool unreadable = false; // every read fails, as with a document the engine will not give
    // How the navigation ends. A failed one leaves no document to read.
    LoadResult::Failure failure = LoadResult::Failure::None;
    int httpStatus = 200;
    // False: nothing of the page has arrived while it is busy, so a quit() leaves no document.
    bool arrivesWhileBusy = true;
    // With a failure: reads still answer with the page shown before, as a careless browser would.
    bool previousStaysReadable = false;
    bool passwordField = false;
    bool challenge = false;
    // Header name, in lower case, to value, for answerHeaders().
    QHash<QString, QString> headers = {};
};

class ScriptedBrowser : public Browser
{
public:
    // An address without a page is refused: busy() is false at once and nothing can be read.
    void addPage(const QString &address, const ScriptedPage &page) { m_pages.insert(address, page); }

    const QStringList &calls() const { return m_calls; }
    int busyPollCount() const { return m_busyPolls; }
    QByteArray lastPostData() const { return m_postData; }
    QString lastHeaderLine() const { return m_headerLine; }

    void setSilent(bool silent) override { m_calls.append(QStringLiteral("silent %1").arg(int(silent))); }
    void setVisible(bool visible) override { m_calls.append(QStringLiteral("visible %1").arg(int(visible))); }
    void navigate(const QString &address) override
    {
        m_calls.append(QStringLiteral("navigate ") + address);
        open(address);
    }
    void navigate2(const QString &address, const QByteArray &postData, const QString &headerLine) override
    {
        m_calls.append(QStringLiteral("navigate2 ") + address);
        m_postData = postData;
        m_headerLine = headerLine;
        open(address);
    }
    bool busy() const override
    {
        ++m_busyPolls;
        if (m_busyLeft <= 0)
            return false;
        --m_busyLeft;
        return true;
    }
    void quit() override
    {
        m_calls.append(QStringLiteral("quit"));
        if (m_busyLeft > 0)
            m_quitWhileBusy = true;
        m_busyLeft = 0;
    }
    LoadResult loadResult() override
    {
        m_calls.append(QStringLiteral("result"));
        LoadResult r;
        if (m_staleFailure != LoadResult::Failure::None) {
            r.failure = m_staleFailure;
            return r;
        }
        if (!m_loaded) {
            r.failure = LoadResult::Failure::Refused;
            return r;
        }
        r.failure = m_current.failure;
        r.httpStatus = r.failure == LoadResult::Failure::None ? m_current.httpStatus : 0;
        r.complete = !m_quitWhileBusy;
        if (r.failure == LoadResult::Failure::None && m_quitWhileBusy && !m_current.arrivesWhileBusy)
            r.failure = LoadResult::Failure::TimedOut;
        return r;
    }
    quint64 navigationCount() const override { return m_navigations; }

    QString bodyInnerText() override { return readable() ? m_current.body : QString(); }
    QString documentTitle() override { return readable() ? m_current.title : QString(); }
    QString locationName() override
    {
        const QString title = documentTitle();
        return title.isEmpty() ? locationUrl() : title;
    }
    QString locationUrl() override { return readable() ? m_current.url : QString(); }

    std::optional<int> linkCount() override
    {
        if (!readable())
            return std::nullopt;
        return int(m_current.links.size());
    }
    std::optional<QString> linkText(int i) override
    {
        if (!readable() || i < 0 || i >= m_current.links.size())
            return std::nullopt;
        return m_current.links[i].text;
    }
    std::optional<QString> linkHref(int i) override
    {
        if (!readable() || i < 0 || i >= m_current.links.size())
            return std::nullopt;
        return m_current.links[i].href;
    }
    std::optional<QList<BrowserLink>> links() override
    {
        if (!readable())
            return std::nullopt;
        return m_current.links;
    }

    std::optional<bool> passwordFieldShown() override
    {
        return readable() ? std::optional<bool>(m_current.passwordField) : std::nullopt;
    }
    std::optional<bool> challengeShown() override
    {
        return readable() ? std::optional<bool>(m_current.challenge) : std::nullopt;
    }
    std::optional<QStringList> answerHeaders(const QStringList &names) override
    {
        if (!readable())
            return std::nullopt;
        m_calls.append(QStringLiteral("head"));
        QStringList values;
        for (const QString &n : names)
            values.append(m_current.headers.value(n.toLower()));
        return values;
    }
    std::optional<qint64> bytesReceived() override
    {
        return readable() ? std::optional<qint64>(m_current.body.size()) : std::nullopt;
    }
    QWidget *widget() override { return nullptr; }

private:
    void open(const QString &address)
    {
        ++m_navigations;
        m_quitWhileBusy = false;
        m_staleFailure = LoadResult::Failure::None;
        const auto found = m_pages.constFind(address);
        if (found != m_pages.constEnd() && found->previousStaysReadable) {
            m_staleFailure = found->failure;
            m_busyLeft = found->busyPolls;
            return;
        }
        if (found == m_pages.constEnd()) {
            m_busyLeft = 0;
            m_loaded = false;
            m_current = ScriptedPage {};
            return;
        }
        m_current = *found;
        m_loaded = true;
        if (m_current.url.isEmpty())
            m_current.url = address;
        m_busyLeft = m_current.busyPolls;
    }
    bool readable() const
    {
        return m_loaded && !m_current.unreadable && m_current.failure == LoadResult::Failure::None
            && !(m_quitWhileBusy && !m_current.arrivesWhileBusy);
    }

    QHash<QString, ScriptedPage> m_pages;
    ScriptedPage m_current;
    bool m_loaded = false;
    bool m_quitWhileBusy = false;
    LoadResult::Failure m_staleFailure = LoadResult::Failure::None;
    quint64 m_navigations = 0;
    mutable int m_busyLeft = 0;
    mutable int m_busyPolls = 0;
    QStringList m_calls;
    QByteArray m_postData;
    QString m_headerLine;
};
