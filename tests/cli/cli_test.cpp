// The command-line front end as a user runs it: as its own process, in a
// directory of its own, against simulated USB instruments.
#include <stdlib.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "../base/support/TempDir.h"

namespace {

struct CliRun {
    int exitCode = -1;
    std::string out;
};

class Cli : public ::testing::Test {
protected:
    CliRun Start(const std::string& args) {
        // Its own current directory (the USB library file goes there), alias
        // folder and temporary directory (the update log).
        const std::string command = "cd '" + m_dir.Path() + "' && XDG_RUNTIME_DIR='" + m_dir.Path() +
                                    "' TEMP='" + m_dir.Path() + "' LC_ALL=C '" KORVA_CLI_PATH "' " + args +
                                    " 2>&1";
        CliRun run;
        FILE* pipe = ::popen(command.c_str(), "r");
        if (pipe == nullptr) return run;
        char buffer[4096];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) run.out.append(buffer, n);
        const int status = ::pclose(pipe);
        run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return run;
    }
    TempDir m_dir;
};

}  // namespace

TEST_F(Cli, UsageErrorsAndHelp) {
    EXPECT_EQ(Start("").exitCode, 64);
    EXPECT_EQ(Start("list --bogus").exitCode, 64);
    EXPECT_EQ(Start("update").exitCode, 64);
    EXPECT_EQ(Start("list show COM1").exitCode, 64);
    EXPECT_EQ(Start("--simulate-version=5.1 list").exitCode, 64);
    const CliRun help = Start("--help");
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("usage: korva-upgrader-cli"), std::string::npos);
}

TEST_F(Cli, ListsSimulatedInstrumentsAsJson) {
    const CliRun run = Start("--simulate=2 --json list");
    ASSERT_EQ(run.exitCode, 0) << run.out;
    EXPECT_NE(run.out.find("\"address\": \"USB Pid_6001 #SIM00001\", \"device\": \"QV3108-2\""), std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("#SIM00002"), std::string::npos);
    EXPECT_NE(run.out.find("\"version\": \"05.100-02.005\", \"updatePossible\": true"), std::string::npos);
    // The library file is removed again.
    EXPECT_FALSE(m_dir.Exists("korva_usb.__t"));
}

TEST_F(Cli, UpdatesASimulatedInstrumentAndVerifiesTheNewVersion) {
    const CliRun run = Start("--simulate --json update SIM00001");
    ASSERT_EQ(run.exitCode, 0) << run.out;
    EXPECT_NE(run.out.find("\"result\": \"updated\", \"version\": \"05.306-02.011\""), std::string::npos) << run.out;
}

TEST_F(Cli, RefusalsAndMissingInstruments) {
    // A step with calibration asks first; without --yes the answer is No.
    CliRun run = Start("--simulate-version=04.002-02.010 update SIM00001");
    EXPECT_EQ(run.exitCode, 2) << run.out;
    EXPECT_NE(run.out.find("After update the software successfully the device will be automatically adjusted!"),
              std::string::npos)
        << run.out;
    // The rules refuse this version over USB.
    run = Start("--simulate-version=02.250-02.004 --json update SIM00001");
    EXPECT_EQ(run.exitCode, 2) << run.out;
    EXPECT_NE(run.out.find("Please use the RS232 interface."), std::string::npos);
    run = Start("--simulate update SIM09999");
    EXPECT_EQ(run.exitCode, 1) << run.out;
    EXPECT_NE(run.out.find("no instrument found at SIM09999"), std::string::npos);
}

TEST_F(Cli, GermanTexts) {
    const CliRun run = Start("--lang de --simulate update SIM00001");
    ASSERT_EQ(run.exitCode, 0) << run.out;
    EXPECT_NE(run.out.find("Die Aktualisierung der Firmware wurde erfolgreich durchgeführt."), std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("Die neuen Daten werden zum Gerät übertragen ..."), std::string::npos);
}
