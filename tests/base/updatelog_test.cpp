#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <filesystem>

#include <gtest/gtest.h>

#include "base/BaseObject.h"
#include "base/LogScrambler.h"
#include "base/ResultCodes.h"
#include "base/Strings.h"
#include "base/UpdateLogFile.h"
#include "platform/SysError.h"
#include "support/LogCapture.h"

namespace {

// Strips the time and thread fields so entries can be compared exactly.
std::string WithoutStamps(const std::string& text) {
    std::string out;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find("\r\n", pos);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(pos, end - pos);
        if (line.size() > 29 && line[2] == ':' && line.compare(13, 5, " - 0x") == 0) line = line.substr(29);
        out += line + "|";
        pos = end + 2;
    }
    return out;
}

struct LanguageScope {
    explicit LanguageScope(uint16_t lang) { SetLanguageOverride(lang); }
    ~LanguageScope() { SetLanguageOverride(0); }
};

class UpdateLogTest : public ::testing::Test {
protected:
    TempDir temp;
    LanguageScope english{LANG_ENGLISH};
};

}  // namespace

TEST_F(UpdateLogTest, OnlyRoutineEntriesLeaveNoFileAndNoFolderOfOurOwn) {
    {
        CUpdateLogFile log(temp.Path());
        ASSERT_TRUE(log.IsOpen());
        EXPECT_TRUE(std::filesystem::path(log.GetDirectory()) == std::filesystem::path(temp.Join("KORVA")))
            << log.GetDirectory();
        EXPECT_EQ(log.GetFileName().rfind("upd_", 0), 0u);
        EXPECT_EQ(log.LogMessage("CWinApp", "System information", nullptr, true), 1);
        EXPECT_EQ(log.LogError("CCommThread", RC_PORT_TX_EMPTY, "Execute"), 1);
        EXPECT_EQ(log.LogError("CCommThread", 0, "Execute"), 1);
        EXPECT_TRUE(log.IsDiscardable());
        EXPECT_TRUE(temp.Exists("KORVA/" + log.GetFileName()));
    }
    EXPECT_TRUE(temp.List().empty());
    // A folder that holds anything else stays.
    {
        CUpdateLogFile log(temp.Path());
        std::filesystem::create_directory(temp.Join("KORVA/keep"));
    }
    EXPECT_EQ(temp.List("KORVA"), std::vector<std::string>{"keep"});
}

TEST_F(UpdateLogTest, EntriesWorthKeepingKeepTheFile) {
    struct Case {
        const char* name;
        void (*write)(CUpdateLogFile&);
        const char* body;
    };
    const Case cases[] = {
        {"system error", [](CUpdateLogFile& l) { l.LogError("CBaseObject", 6, "FreeHandle"); },
         "The handle is invalid.||"},
        {"message kept", [](CUpdateLogFile& l) { l.LogMessage("CUpdateWnd", "Lock failed", "~CUpdateWnd", false); },
         "Lock failed|"},
        {"unknown code", [](CUpdateLogFile& l) { l.LogError("CDevUpdateThread", 0x20000000, "Run"); }, "|"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        std::string path;
        {
            CUpdateLogFile log(dir.Path());
            c.write(log);
            EXPECT_FALSE(log.IsDiscardable());
            path = log.GetFilePath();
        }
        const std::string text = WithoutStamps(ReadLogText(path));
        EXPECT_NE(text.find(c.body), std::string::npos) << text;
    }
}

TEST_F(UpdateLogTest, EntriesReadBackExactlyAndTheFileIsScrambled) {
    std::string path;
    {
        CUpdateLogFile log(temp.Path());
        log.LogMessage("CWinApp", "User Language: German\r\nSecond line", nullptr, false);
        log.LogError("CCommThread", RC_PORT_THREAD_TERMINATED, "Execute");
        log.LogMessage(nullptr, "", "ignored", true);
        path = log.GetFilePath();
    }
    const std::vector<unsigned char> raw = ReadFileBytes(path);
    const std::string rawText(raw.begin(), raw.end());
    EXPECT_EQ(rawText.find("Msg"), std::string::npos);
    EXPECT_EQ(WithoutStamps(ReadLogText(path)),
              "Msg - CWinApp|User Language: German|Second line|"
              "Err - CCommThread::Execute - 0x20000004|The port thread was terminated.||"
              "Msg|");
}

#ifndef _WIN32  // file modes and symbolic links as a user makes them on Linux
TEST_F(UpdateLogTest, NoFileWhenTheFolderIsNotTheUsersOwn) {
    // A KORVA folder that others may write into is not used.
    ASSERT_EQ(::mkdir(temp.Join("KORVA").c_str(), 0777), 0);
    ASSERT_EQ(::chmod(temp.Join("KORVA").c_str(), 0777), 0);
    {
        CUpdateLogFile log(temp.Path());
        EXPECT_FALSE(log.IsOpen());
        EXPECT_EQ(log.LogError("CBaseObject", 5, "Test"), 1);  // succeeds, writes nothing
    }
    EXPECT_TRUE(temp.List("KORVA").empty());
}
#endif

TEST(LogScrambler, KeyHasFullPeriod) {
    // A short key cycle would repeat the same mask over recurring text.
    uint8_t zeros[512] = {};
    CLogScrambler s;
    s.Apply(zeros, sizeof zeros);
    for (size_t period = 1; period < 256; ++period) {
        bool repeats = true;
        for (size_t i = 0; i + period < 512 && repeats; ++i) repeats = zeros[i] == zeros[i + period];
        EXPECT_FALSE(repeats) << period;
    }
}
