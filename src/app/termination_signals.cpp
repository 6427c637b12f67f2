#include "app/termination_signals.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int g_signalFds[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    // Only async-signal-safe calls here.
    [[maybe_unused]] const ssize_t n = ::write(g_signalFds[0], &byte, 1);
}

}  // namespace

void installTerminationHandler(std::function<void()> onRequest)
{
    if (g_signalFds[0] >= 0)
        return;
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalFds) != 0)
        return;
    auto *notifier = new QSocketNotifier(g_signalFds[1], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [onRequest = std::move(onRequest)] {
        char buffer[16];
        [[maybe_unused]] const ssize_t n = ::read(g_signalFds[1], buffer, sizeof buffer);
        onRequest();
    });
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int sig : {SIGTERM, SIGINT, SIGHUP})
        sigaction(sig, &action, nullptr);
}
