#ifndef _WIN32
#include <sys/wait.h>
#endif

#include <cstdlib>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/LogScrambler.h"
#include "tools/logread/LogReader.h"

namespace {

std::vector<uint8_t> Scrambled(const std::string& text) {
    std::vector<uint8_t> bytes(text.begin(), text.end());
    CLogScrambler s;
    s.Apply(bytes.data(), bytes.size());
    return bytes;
}

const char kEntry1[] = "00:00:01 0002 - 0x00000ABC - Msg - CWinApp\r\nUser Language: German\r\n";
const char kEntry2[] = "00:00:02 0003 - 0x00000ABC - Err - CCommThread::Execute - 0x00000005\r\nAccess is denied.\r\n\r\n";

}  // namespace

// Every update log the fault matrix keeps is read back through the reader
// and must come out clean; here what a damaged or foreign file gives.
TEST(LogReader, ReportsDamageInsteadOfGarbage) {
    const std::string good = std::string(kEntry1) + kEntry2;
    const size_t firstEntry = std::string(kEntry1).size();
    const size_t secondHeader = good.find("Access");
    struct Case {
        const char* name;
        std::vector<uint8_t> data;
        size_t entries;
        size_t goodBytes;
    };
    std::vector<Case> cases;
    {
        auto d = Scrambled(good);
        d[firstEntry + 40] ^= 0x80;  // one flipped bit in the second entry
        cases.push_back({"flipped byte", d, 1, firstEntry});
    }
    {
        auto d = Scrambled(good);
        d.resize(d.size() - 3);
        cases.push_back({"cut off", d, 2, secondHeader});
    }
    cases.push_back({"plain text", std::vector<uint8_t>(good.begin(), good.end()), 0, 0});
    {
        auto d = Scrambled(good);
        d.insert(d.begin(), 0x00);  // shifted key sequence
        cases.push_back({"shifted", d, 0, 0});
    }
    cases.push_back({"empty", {}, 0, 0});
    cases.push_back({"random", std::vector<uint8_t>(1000, 0x5A), 0, 0});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const LogReadResult r = ReadUpdateLog(c.data.data(), c.data.size());
        EXPECT_FALSE(r.clean);
        EXPECT_FALSE(r.problem.empty());
        EXPECT_EQ(r.entries, c.entries);
        EXPECT_EQ(r.text, good.substr(0, c.goodBytes));
    }
}

#ifndef _WIN32  // a POSIX shell with /dev/zero and /dev/full
// The program on input that is no log: an endless stream is given up at its
// first line, and output that cannot be written is an error.
TEST(LogReader, ProgramEndsEarlyOnForeignInputAndFailsOnAFullDisk) {
    const std::string sample = std::string(KORVA_SOURCE_DIR) + "/resources/samples/upd_sample.log";
    struct Case {
        std::string command;
        int exitCode;
    };
    const Case cases[] = {
        {"'" KORVA_LOGREAD_PATH "' /dev/zero 2>&1 | grep -q 'not an update log'", 0},
        {"yes | '" KORVA_LOGREAD_PATH "' 2>/dev/null", 1},
        {"'" KORVA_LOGREAD_PATH "' '" + sample + "' >/dev/full 2>/dev/null", 2},
        {"'" KORVA_LOGREAD_PATH "' --help >/dev/full 2>/dev/null", 2},
        {"'" KORVA_LOGREAD_PATH "' '" + sample + "' >/dev/null", 0},
    };
    for (const Case& c : cases) {
        const int status = std::system(c.command.c_str());
        ASSERT_TRUE(WIFEXITED(status)) << c.command;
        EXPECT_EQ(WEXITSTATUS(status), c.exitCode) << c.command;
    }
}
#endif
