#include "platform/AppTitle.h"

#include <QApplication>
#include <QMainWindow>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QMainWindow w;
    const QString caption = AppTitle::get() + QStringLiteral("  ") + AppTitle::version();
    w.setWindowTitle(caption);
    AppTitle::set(caption);
    w.resize(776, 508);
    w.show();
    return app.exec();
}
