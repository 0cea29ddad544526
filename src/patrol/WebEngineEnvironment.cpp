// What the engine's processes are started with: set once, before the engine starts.
#include "patrol/WebEngineBrowser.h"

#include "platform/Process.h"

#include <QCoreApplication>
#include <QLoggingCategory>

using namespace Qt::StringLiterals;

void WebEngineBrowser::prepareEnvironment()
{
    QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
    // The patrol runs unattended, often on a closed network: no calls home, no updates, and no
    // throttling of a page just because the window is hidden or minimised.
    // Its own log would bury the program's one line per visit (an error for every refused
    // certificate, a complaint at every exit); a renderer that ends gets a line of ours.
    QList<QByteArray> wanted = {"--disable-background-networking", "--disable-component-update", "--disable-sync",
        "--no-first-run", "--disable-quic", "--disable-renderer-backgrounding", "--disable-background-timer-throttling",
        "--log-level=3"};
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
    // At every start the engine reports its graphics set-up and switches in some 40 lines. Its
    // warnings stay.
    QLoggingCategory::setFilterRules(u"qt.webenginecontext.info=false"_s);
}

QString WebEngineBrowser::unconfinedText()
{
    if (!process::runningAsRoot())
        return QString();
    return u"管理者（root）として動いているため、ブラウザーのサンドボックスが無効です。巡回するページのスクリプトが制限なしに動きます。"_s;
}
