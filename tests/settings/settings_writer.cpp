// Writes rounds of settings until it is killed: every round sets all keys of a section to the
// round number through one clINI object. Used to show that a kill never tears the file.
#include "settings/clINI.h"

#include <QCoreApplication>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QString folder = app.arguments().value(1);
    const QString filler(400, QChar(u'漢'));
    for (int round = 1;; ++round) {
        clINI ini(folder);
        for (int k = 0; k < 300; ++k)
            ini.SaveSetting(
                QStringLiteral("RIREKI"), QStringLiteral("TEXT%1").arg(k), QString::number(round) + u' ' + filler);
    }
}
