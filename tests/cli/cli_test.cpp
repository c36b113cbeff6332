// The command-line front end as a user runs it: as its own process, in a
// directory of its own, against simulated USB instruments.
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "../base/support/TempDir.h"
#include "cli/CliView.h"

namespace {

struct CliRun {
    int exitCode = -1;
    std::string out;
};

class Cli : public ::testing::Test {
protected:
    // The program with `args` in its own current directory (the USB library
    // file goes there), alias folder and temporary directory (the update log).
    std::string Command(const std::string& args, const std::string& dir = "") {
        return "cd '" + (dir.empty() ? m_dir.Path() : dir) + "' && XDG_RUNTIME_DIR='" + m_dir.Path() + "' TEMP='" +
               m_dir.Path() + "' LC_ALL=C exec '" KORVA_CLI_PATH "' " + args + " 2>&1";
    }
    static CliRun Shell(const std::string& command) {
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
    CliRun Start(const std::string& args) { return Shell(Command(args)); }
    // Runs the program and hands every line of its output, as it comes, to
    // `onLine` with the program's process id (to signal it).
    CliRun Watch(const std::string& args, const std::function<void(const std::string&, pid_t)>& onLine) {
        CliRun run;
        int fds[2];
        if (::pipe(fds) != 0) return run;
        const std::string command = Command(args);
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::dup2(fds[1], STDOUT_FILENO);
            ::close(fds[0]);
            ::close(fds[1]);
            ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(fds[1]);
        FILE* out = ::fdopen(fds[0], "r");
        char line[4096];
        while (out != nullptr && std::fgets(line, sizeof line, out) != nullptr) {
            run.out += line;
            if (pid > 0) onLine(line, pid);
        }
        if (out != nullptr) std::fclose(out);
        int status = 0;
        if (pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status)) run.exitCode = WEXITSTATUS(status);
        return run;
    }
    TempDir m_dir;
};

}  // namespace

TEST_F(Cli, UsageErrorsAndHelp) {
    for (const char* usage : {"", "list --bogus", "update", "list show COM1", "--simulate-version=5.1 list",
                              "--simulate=5x list", "--simulate-with=--bogus list"})
        EXPECT_EQ(Start(usage).exitCode, 64) << usage;
    // Help, not a search for an instrument named "--help".
    for (const char* help : {"list --help", "update --help"}) EXPECT_EQ(Start(help).exitCode, 0) << help;
    const CliRun help = Start("--help");
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("usage: korva-upgrader-cli"), std::string::npos);
    // Output that cannot be written is a failure, not a success.
    EXPECT_NE(Start("--help >/dev/full").exitCode, 0);
    EXPECT_EQ(Start("--simulate list >/dev/full").exitCode, 1);
}

// Instrument strings are printed as text: control characters and bytes that
// are no UTF-8 cannot reach the terminal as its commands.
TEST(CliText, ControlCharactersAreShownEscaped) {
    const struct {
        const char* in;
        bool lines;
        const char* out;
    } cases[] = {
        {"QV3108-2", false, "QV3108-2"},
        {"\x1b]0;owned\x07", false, "\\x1b]0;owned\\x07"},
        {"\x1b[2J\r", false, "\\x1b[2J\\x0d"},
        {"A\xc2\x9b" "2J", false, "A\\xc2\\x9b2J"},  // C1 CSI, in UTF-8
        {"\x9b" "2J\x7f", false, "\\x9b2J\\x7f"},    // C1 CSI as one byte; DEL
        {"Ger\xc3\xa4t \"1\\2\"", false, "Ger\xc3\xa4t \"1\\2\""},
        {"two\nlines\tand\x1b", true, "two\nlines\tand\\x1b"},
        {"two\nlines", false, "two\\x0alines"},
    };
    for (const auto& c : cases) EXPECT_EQ(Printable(c.in, c.lines), c.out) << c.in;
    EXPECT_EQ(Printable(std::string("a\0b", 3)), "a\\x00b");
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

// A stop (here a closed terminal) cancels an update before the FLASH is
// programmed and is held from then on; an instrument that goes away ends
// the update as lost, not as refused. The library file goes every time.
TEST_F(Cli, StopsAndLostInstrumentsEndTheUpdateAsSuch) {
    const struct {
        const char* name;
        const char* args;
        const char* signalAt;  // nullptr: no signal
        int exitCode;
        const char* said;
    } cases[] = {
        // The checksum never fits, so the update stays before the FLASH.
        {"cancelled", "--simulate-with=\"--wrong-checksum always\" update SIM00001", "The firmware update is initiated",
         1, "SIM00001: The update was cancelled."},
        {"held", "--simulate update SIM00001", "The device is set up to copy the data to the FLASH memory", 0,
         "the update cannot be stopped now. It continues until it has finished."},
        {"vanished", "--simulate-with=\"--vanish-at load\" update SIM00001", nullptr, 1,
         "SIM00001: The connection to the instrument was lost."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        bool signalled = false;
        const CliRun run = Watch(c.args, [&](const std::string& line, pid_t pid) {
            if (c.signalAt != nullptr && !signalled && line.find(c.signalAt) != std::string::npos) {
                signalled = true;
                ::kill(pid, SIGHUP);
            }
        });
        EXPECT_EQ(run.exitCode, c.exitCode) << run.out;
        EXPECT_NE(run.out.find(c.said), std::string::npos) << run.out;
        EXPECT_EQ(run.out.find("refused"), std::string::npos) << run.out;
        EXPECT_FALSE(m_dir.Exists("korva_usb.__t"));
        if (c.exitCode == 0) {
            EXPECT_NE(run.out.find("successfull"), std::string::npos) << run.out;
        }
    }
}

// A current directory from which nothing may be executed: the library is
// written but cannot be loaded, and the user and the log are told why.
TEST_F(Cli, UsbLibraryThatCannotBeLoadedIsExplained) {
    const std::string noexec = m_dir.Path() + "/noexec";
    const CliRun run = Shell("mkdir '" + noexec + "' && unshare -m sh -c \"mount -t tmpfs -o noexec tmpfs '" + noexec +
                             "' || exit 99; " + Command("--simulate list", noexec) + "\" 2>&1");
    const std::string& out = run.out;
    if (run.exitCode == 99) GTEST_SKIP() << "no noexec mount possible here: " << out;
    EXPECT_NE(out.find("USB is not available: the USB library korva_usb.__t was written into the current "
                       "directory but cannot be loaded: it lies on a file system mounted noexec"),
              std::string::npos)
        << out;
    // The reason keeps the log, which otherwise a plain listing would not.
    EXPECT_NE(out.find("Update log: "), std::string::npos) << out;
}
