#include "update/UpdateTiming.h"

#include <mutex>

namespace {
std::mutex g_timingMutex;
UpdateTiming g_timing;  // guarded by g_timingMutex
}  // namespace

UpdateTiming UpdateTiming::Shortened() {
    UpdateTiming t;
    t.commandPauseMs = 20;
    // The port closes after this pause: the preset must have left it by
    // then, also on a loaded machine.
    t.presetPauseMs = 100;
    t.calibrationMs = 150;
    t.calibrationFailedMs = 20;
    t.usbReopenPauseMs = 5;
    t.replyErrorPauseMs = 50;
    t.checksumReplyErrorPauseMs = 40;
    t.monitorLoadGiveUpMs = 2500;  // the simulated monitor gives up after 1 s
    t.unattendedReplyLimitMs = 5000;
    t.restartAnswerLimitMs = 5000;
    t.drainLimitMs = 1000;
    return t;
}

UpdateTiming GetUpdateTiming() {
    std::lock_guard<std::mutex> lock(g_timingMutex);
    return g_timing;
}

void SetUpdateTiming(const UpdateTiming& timing) {
    std::lock_guard<std::mutex> lock(g_timingMutex);
    g_timing = timing;
}
