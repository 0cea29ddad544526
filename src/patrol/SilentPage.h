#pragma once

#include <QWebEnginePage>

// The page policy of an unattended patrol: no dialogs while silent, never a certificate
// exception or a new window, since nobody is there to judge them, and no error page of the
// engine's own to be read as content.
class SilentPage : public QWebEnginePage
{
    Q_OBJECT
public:
    explicit SilentPage(QWebEngineProfile *profile, QObject *parent = nullptr);

    void setSilent(bool silent) { m_silent = silent; }
    bool isSilent() const { return m_silent; }

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
};
