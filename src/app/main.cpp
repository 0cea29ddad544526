#include "app/CommandLine.h"
#include "app/Form1.h"
#include "mail/MailClient.h"
#include "mail/Module1.h"
#include "patrol/WebEngineBrowser.h"
#include "platform/ui/QtTranslations.h"

#include <QApplication>
#include <QLocale>

#include <cstdio>
#include <cstdlib>

int main(int argc, char *argv[])
{
    // A check from the terminal or the usage: no window, no settings written, no lock taken.
    if (const std::optional<int> code = CommandLine::run(argc, argv))
        return *code;
    // The transfer library must be set up before any thread exists, the engine's included.
    mail::initialize();
    // The browser engine reads its switches before the application object exists.
    WebEngineBrowser::prepareEnvironment();
    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(true);
    Ui::installQtTranslations(QLocale::system());
    Form1 w;
    w.show();
    const int code = app.exec();
    // The lists are saved by now, after the closing window gave the transfers their time. One
    // still on its worker must not hold the program up: after a short wait it is left behind.
    Module1::cancelAll();
    if (!Module1::waitForWorkers(300)) {
        std::fflush(nullptr);
        std::quick_exit(code);
    }
    return code;
}
