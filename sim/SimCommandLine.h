// The korva-sim program, as a function so that tests can run it.
// Thread: the caller's; instruments run on their own worker threads and
// print through a lock of this function.
#pragma once

#include <functional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "platform/Event.h"
#include "sim/SimConfig.h"

namespace sim {

struct SimOptions {
    Config config;
    int count = 1;
    int firstCom = 10;
    bool help = false;
    bool quiet = false;
};

// Parses the options; false with a message in `error` for a bad one.
bool ParseSimOptions(const std::vector<std::string>& args, SimOptions& options, std::string& error);
std::string SimUsage();

// Runs the instruments until `stop` is set (Ctrl-C in the program), then
// removes their aliases. `onReady` gets the (COM name, device) pairs once
// all run. Returns the exit status.
int RunSimulator(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, platform::Event* stop,
                 const std::function<void(const std::vector<std::pair<std::string, std::string>>&)>& onReady = {});

}  // namespace sim
