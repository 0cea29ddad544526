#include "app/Form1.h"
#include "patrol/WebEngineBrowser.h"
#include "platform/ui/QtTranslations.h"

#include <QApplication>
#include <QLocale>

int main(int argc, char *argv[])
{
    // The browser engine reads its switches before the application object exists.
    WebEngineBrowser::prepareEnvironment();
    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(true);
    Ui::installQtTranslations(QLocale::system());
    Form1 w;
    w.show();
    return app.exec();
}
