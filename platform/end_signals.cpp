#include "end_signals.h"

#include <QObject>
#include <QSocketNotifier>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int g_signalPipe[2] = {-1, -1};

void OnSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const auto written = write(g_signalPipe[1], &byte, 1);
}

}  // namespace

void CatchEndSignals()
{
    if (g_signalPipe[0] >= 0 || socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalPipe) != 0) return;
    struct sigaction action {};
    action.sa_handler = &OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) sigaction(signal, &action, nullptr);
}

void OnEndSignal(QObject* owner, std::function<void()> action)
{
    if (g_signalPipe[0] < 0) return;
    auto* notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, owner);
    QObject::connect(notifier, &QSocketNotifier::activated, owner, [action = std::move(action)] {
        char byte;
        [[maybe_unused]] const auto got = read(g_signalPipe[0], &byte, 1);
        action();
    });
}
