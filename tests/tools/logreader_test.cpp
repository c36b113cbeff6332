#ifndef _WIN32
#include <sys/wait.h>
#endif

#include <cstdlib>
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "base/LogScrambler.h"
#include "base/ResultCodes.h"
#include "base/Strings.h"
#include "base/UpdateLogFile.h"
#include "platform/SysError.h"
#include "tools/logread/LogReader.h"
#include "../base/support/TempDir.h"

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

TEST(LogReader, RestoresAWrittenLogExactly) {
    TempDir temp;
    SetLanguageOverride(LANG_GERMAN);
    std::string path;
    {
        CUpdateLogFile log(temp.Path());
        log.LogMessage("CWinApp", "Betriebssystem: Linux\r\nUser Language: German", nullptr, true);
        log.LogError("CCommThread", 1117, "Execute");
        log.LogError("CDevUpdateThread", RC_UPDATE_CANCELED, "Run");
        log.LogError("CDevUpdateThread", 0x2ABC0000, "Run");
        log.LogMessage(nullptr, "", nullptr, false);
        path = log.GetFilePath();
    }
    SetLanguageOverride(0);
    const std::vector<unsigned char> bytes = ReadFileBytes(path);
    const LogReadResult r = ReadUpdateLog(bytes.data(), bytes.size());
    ASSERT_TRUE(r.clean) << r.problem << " at " << r.damagedAt;
    EXPECT_EQ(r.entries, 5u);
    EXPECT_NE(r.text.find("Betriebssystem: Linux\r\nUser Language: German\r\n"), std::string::npos);
    EXPECT_NE(r.text.find("Die Aktualisierung der Firmware wurde abgebrochen.\r\n\r\n"), std::string::npos);
    EXPECT_EQ(r.text.size(), bytes.size());
}

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

TEST(LogReader, SampleLogInTheRepositoryReads) {
    const std::string path = std::string(KORVA_SOURCE_DIR) + "/resources/samples/upd_sample.log";
    const std::vector<unsigned char> bytes = ReadFileBytes(path);
    ASSERT_FALSE(bytes.empty());
    const LogReadResult r = ReadUpdateLog(bytes.data(), bytes.size());
    EXPECT_TRUE(r.clean) << r.problem;
    EXPECT_GE(r.entries, 3u);
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
