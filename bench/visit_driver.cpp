// Visits pages the way the patrol does, in the patrol's browser, alternating today's text-only
// page with one that fetches everything a page asks for, and prints one JSON line per visit: the
// wall time until the text was read, the CPU seconds of this process and its engine's processes
// from the navigation until they are idle again, the bytes the browser counted, and the resident
// memory afterwards. bench/visit runs it against its own pages and adds what the server sent.
//
// Usage: visit_driver --rounds N BLANK-URL URL...
// The blank page is shown while the settings change: a page on screen whose pictures were left
// out would fetch them at once.
#include "patrol/WebEngineBrowser.h"
#include "platform/MessagePump.h"
#include "platform/Process.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QThread>
#include <QWidget>

#include <cstdio>

using namespace Qt::StringLiterals;

namespace {

// Work that a visit leaves behind (pictures decoded and painted after the load) belongs to it:
// the visit ends when a tenth of a second passes with next to no CPU spent.
double settledCpuSeconds()
{
    double last = process::treeUsage().cpuSeconds;
    for (int i = 0; i < 100; ++i) {
        pump::waitForEvents(100);
        const double now = process::treeUsage().cpuSeconds;
        if (now - last < 0.005)
            return now;
        last = now;
    }
    return last;
}

void load(WebEngineBrowser &browser, const QString &address)
{
    QElapsedTimer clock;
    clock.start();
    browser.navigate(address);
    while (browser.busy() && clock.elapsed() < 60'000)
        pump::waitForEvents(50);
}

QJsonObject visit(WebEngineBrowser &browser, const QString &address)
{
    const double cpuBefore = settledCpuSeconds();
    QElapsedTimer clock;
    clock.start();
    load(browser, address);
    const bool arrived = browser.loadResult().documentArrived();
    const qsizetype textLength = browser.bodyInnerText().size();
    const qint64 ms = clock.elapsed();
    const qint64 bytes = browser.bytesReceived().value_or(-1);
    const double cpu = settledCpuSeconds() - cpuBefore;
    return {{u"address"_s, address}, {u"arrived"_s, arrived}, {u"text"_s, double(textLength)}, {u"ms"_s, double(ms)},
        {u"cpu"_s, cpu}, {u"bytes"_s, double(bytes)}, {u"rss"_s, double(process::treeUsage().residentBytes)}};
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    WebEngineBrowser::prepareEnvironment();
    QApplication app(argc, argv);
    QStringList addresses = app.arguments().mid(1);
    int rounds = 3;
    if (addresses.size() >= 2 && addresses.front() == u"--rounds") {
        rounds = addresses.at(1).toInt();
        addresses = addresses.mid(2);
    }
    const QString blank = addresses.value(0);
    addresses = addresses.mid(1);
    // The size of the main window's browser area, shown, as in the program.
    QWidget window;
    window.resize(800, 600);
    WebEngineBrowser browser(&window);
    browser.widget()->resize(800, 600);
    window.show();
    std::fprintf(stdout, "%s\n",
        QJsonDocument(QJsonObject {{u"startup_cpu"_s, settledCpuSeconds()}})
            .toJson(QJsonDocument::Compact)
            .constData());
    int number = 0;
    for (int round = 0; round < rounds; ++round) {
        for (const QString &address : std::as_const(addresses)) {
            // Either order in turn, so that neither always comes first.
            const bool textOnlyFirst = (number / 2 + round) % 2 == 0;
            for (bool textOnly : {textOnlyFirst, !textOnlyFirst}) {
                load(browser, blank);
                browser.setTextOnly(textOnly);
                QJsonObject line = visit(browser, address + u"?v=%1"_s.arg(number));
                line[u"visit"_s] = number++;
                line[u"mode"_s] = textOnly ? u"text-only"_s : u"everything"_s;
                std::fprintf(stdout, "%s\n", QJsonDocument(line).toJson(QJsonDocument::Compact).constData());
                std::fflush(stdout);
            }
        }
    }
    return 0;
}
