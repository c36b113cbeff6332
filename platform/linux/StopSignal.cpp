#include "platform/StopSignal.h"

#include <errno.h>
#include <signal.h>
#include <unistd.h>

#include <cstdint>
#include <mutex>

namespace platform {

namespace {

int g_stopFd = -1;

void OnStopSignal(int) {
    // Only async-signal-safe calls here: one write to the eventfd.
    const int saved = errno;
    const uint64_t one = 1;
    if (g_stopFd >= 0) {
        [[maybe_unused]] const ssize_t n = ::write(g_stopFd, &one, sizeof one);
    }
    errno = saved;
}

}  // namespace

Event* InstallStopSignalHandlers() {
    static Event* event = nullptr;
    static std::once_flag once;
    std::call_once(once, [] {
        static Event stop(Event::kManualReset, false);
        if (!stop.IsValid()) return;
        g_stopFd = stop.Fd();
        struct sigaction action {};
        action.sa_handler = OnStopSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        // SIGHUP: the terminal was closed, which must not cut an update off.
        for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
            if (::sigaction(signal, &action, nullptr) != 0) return;
        }
        event = &stop;
    });
    return event;
}

}  // namespace platform
