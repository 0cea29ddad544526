#include "platform/MessagePump.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

namespace pump {

void doEvents()
{
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void waitForEvents(int maxMs)
{
    // The timer guarantees a wake-up: without an event nothing would end the wait.
    QTimer wake;
    wake.setSingleShot(true);
    wake.start(maxMs < 0 ? 0 : maxMs);
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

} // namespace pump
