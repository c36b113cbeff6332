// korva-sim: simulated KORVA instruments on pseudo-terminals.
#include <iostream>
#include <string>
#include <vector>

#include "platform/StopSignal.h"
#include "sim/SimCommandLine.h"

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    return sim::RunSimulator(args, std::cout, std::cerr, platform::InstallStopSignalHandlers());
}
