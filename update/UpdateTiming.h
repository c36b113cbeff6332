// The fixed pauses and bounds of a firmware update, in one place.
//
// An update thread copies the timing that is current when it is built, so
// a change never reaches an update that already runs. The program never
// changes it; tests shorten it (UpdateTiming::Shortened) so that an update
// against the simulator takes a second instead of a minute, and at least
// one test runs it at full length.
// Thread: SetUpdateTiming from any thread; it is copied under a mutex.
#pragma once

#include <cstdint>

struct UpdateTiming {
    // Pause after each command that gets no reply (reset, clear, serial
    // number, settings pieces, store commands).
    uint32_t commandPauseMs = 100;
    // Pause after the final preset.
    uint32_t presetPauseMs = 500;
    // How long the self calibration is given before its reply is looked at.
    uint32_t calibrationMs = 40000;
    // How long the adjustment failure stays on screen.
    uint32_t calibrationFailedMs = 20000;
    // Pause between two attempts to reopen a USB port after the restart.
    uint32_t usbReopenPauseMs = 1000;
    // Pause before a wrong monitor reply is cleared away (the monitor may
    // still be talking), and the longer one after a bad checksum reply.
    uint32_t replyErrorPauseMs = 200;
    uint32_t checksumReplyErrorPauseMs = 1500;
    // How long a monitor that was left waiting for image bytes (a cancel in
    // the transfer) is given to give the load up and show its prompt before
    // it is restarted.
    uint32_t monitorLoadGiveUpMs = 5000;

    // Bounds on the waits that follow the moment the update can no longer
    // be cancelled (the cancel button is gone from FLASH programming on).
    // An instrument that dies then must not keep the update, its window
    // and its port forever.
    // Longest wait for the next monitor line while the FLASH is programmed
    // or checked (a real FLASH takes well under a minute).
    uint32_t unattendedReplyLimitMs = 300000;
    // How long the restarted instrument may stay without a valid answer to
    // the identification query.
    uint32_t restartAnswerLimitMs = 180000;
    // How long lines may keep arriving after the identification reply
    // before the instrument is taken for babbling.
    uint32_t drainLimitMs = 10000;

    // The timing of the program.
    static UpdateTiming Standard() { return UpdateTiming{}; }
    // Every pause and bound cut down for tests against the fast simulator.
    static UpdateTiming Shortened();
};

// The timing new update threads take.
UpdateTiming GetUpdateTiming();
// Replaces it (tests only; the program keeps Standard()).
void SetUpdateTiming(const UpdateTiming& timing);
