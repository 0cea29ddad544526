#include "platform/QuitSignals.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#ifdef Q_OS_UNIX
#include <csignal>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

#ifdef Q_OS_UNIX
int g_pipe[2] = {-1, -1};

// Only async-signal-safe work here: the number goes through a pipe to the event loop.
void onSignal(int sig)
{
    const unsigned char b = static_cast<unsigned char>(sig);
    [[maybe_unused]] const ssize_t n = ::write(g_pipe[1], &b, 1);
}
#endif

} // namespace

QuitSignals::QuitSignals(QObject *parent)
    : QObject(parent)
{
#ifdef Q_OS_UNIX
    if (::pipe(g_pipe) != 0)
        return;
    for (int fd : g_pipe) {
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    auto *notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &QuitSignals::readPipe);
    struct sigaction sa
    { };
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int sig : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(sig, &sa, nullptr);
#endif
}

QuitSignals *QuitSignals::install()
{
    static QuitSignals *instance = new QuitSignals(QCoreApplication::instance());
    return instance;
}

void QuitSignals::readPipe()
{
#ifdef Q_OS_UNIX
    unsigned char b = 0;
    while (::read(g_pipe[0], &b, 1) == 1) {
        m_last = b;
        Q_EMIT quitRequested(b);
    }
#endif
}
