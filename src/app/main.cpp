#include "app/CommandLine.h"
#include "app/Form1.h"
#include "app/SentJournal.h"
#include "app/SingleInstance.h"
#include "mail/MailClient.h"
#include "mail/Module1.h"
#include "patrol/BrowserProfile.h"
#include "patrol/WebEngineBrowser.h"
#include "platform/FileStore.h"
#include "platform/Log.h"
#include "platform/ui/MessageBox.h"
#include "platform/ui/QtTranslations.h"
#include "settings/SettingsLocation.h"

#include <QApplication>
#include <QLocale>

#include <cstdio>
#include <cstdlib>

using namespace Qt::StringLiterals;

int main(int argc, char *argv[])
{
    applog::installMessageHandler();
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
    // One program per settings file: the folder is decided once, and the lock holds it.
    const SettingsLocation::Choice place = SettingsLocation::choose();
    const QString &folder = place.folder;
    SingleInstance instance(SettingsLocation::filePath(folder));
    const SingleInstance::Claim claim = instance.acquire();
    if (claim == SingleInstance::Claim::Failed) {
        const QString text = SingleInstance::lockFailedText(instance.failure());
        applog::write(applog::Priority::Error, text);
        if (SingleInstance::hasDisplay())
            Ui::msgBox(text, Ui::Buttons::Ok, Ui::Icon::Critical);
        return EXIT_FAILURE;
    }
    if (claim == SingleInstance::Claim::Later) {
        const SingleInstance::Answer answer = instance.askFirst();
        if (answer == SingleInstance::Answer::BroughtForward)
            return 0;
        const QString text = SingleInstance::alreadyRunningText(SettingsLocation::filePath(folder), answer);
        applog::write(applog::Priority::Warning, QString(text).replace(u"\r\n"_s, u" "_s));
        if (SingleInstance::hasDisplay())
            Ui::msgBox(text, Ui::Buttons::Ok, Ui::Icon::Information);
        return SingleInstance::kAlreadyRunningStatus;
    }
    // A save killed half-way left its temporary file; with the lock held, nobody else writes one.
    SettingsLocation::keep(folder);
    filestore::removeLeftovers(SettingsLocation::filePath(folder));
    // Mails a crash took before their lines reached the file: into the history, never out again.
    // When the file cannot take them, the journal keeps them and the window takes them from it.
    sentjournal::replay(folder);
    // Beside the settings and under their lock: logins survive a restart, never shared by two.
    BrowserProfile profile(BrowserProfile::folderFor(SettingsLocation::filePath(folder)));
    Form1 w(std::make_unique<WebEngineBrowser>(&profile));
    w.setSettingsFolder(folder, place.notice);
    w.setBrowserProfile(&profile);
    instance.listen([&w](const QString &) {
        if (w.unloaded())
            return false;
        // Also when the tray keeps it hidden.
        w.comeForward();
        return true;
    });
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
