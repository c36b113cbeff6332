// Ctrl-C and termination requests for command-line programs.
//
// The first call installs handlers for SIGINT, SIGTERM and SIGHUP that set
// one manual-reset event, so a program's main loop waits for a stop like for
// any other event instead of being killed with its clean-up undone.
// Thread: any; the event is set from the signal handler.
#pragma once

#include "platform/Event.h"

namespace platform {

// The event the stop signals set; nullptr if it could not be installed.
Event* InstallStopSignalHandlers();

}  // namespace platform
