#pragma once

#include "patrol/TextOnlyFilter.h"

#include <QWebEnginePage>

// The page policy of an unattended patrol: no dialogs while silent, never a certificate
// exception or a new window, since nobody is there to judge them, and no error page of the
// engine's own to be read as content.
class SilentPage : public QWebEnginePage
{
    Q_OBJECT
public:
    explicit SilentPage(QWebEngineProfile *profile, QObject *parent = nullptr);
    ~SilentPage() override;

    void setSilent(bool silent) { m_silent = silent; }
    bool isSilent() const { return m_silent; }

    // Text only: no images, fonts, audio, video or plugin content fetched, nothing played, no
    // WebGL or accelerated canvas. The text the page shows does not change. On from the start.
    void setTextOnly(bool on);
    bool isTextOnly() const { return m_textOnly; }

    // The engine's own question before a page that asks for it is left.
    static QString leavePageQuestion();

protected:
    void javaScriptAlert(const QUrl &securityOrigin, const QString &msg) override;
    bool javaScriptConfirm(const QUrl &securityOrigin, const QString &msg) override;
    bool javaScriptPrompt(
        const QUrl &securityOrigin, const QString &msg, const QString &defaultValue, QString *result) override;
    void javaScriptConsoleMessage(
        JavaScriptConsoleMessageLevel level, const QString &message, int lineNumber, const QString &sourceID) override;
    QStringList chooseFiles(
        FileSelectionMode mode, const QStringList &oldFiles, const QStringList &acceptedMimeTypes) override;
    QWebEnginePage *createWindow(WebWindowType type) override;

private:
    bool m_silent = true;
    bool m_textOnly = false;
    TextOnlyFilter m_filter;
};
