#include "platform/SysError.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

using platform::ErrorFromErrno;
using platform::SystemErrorText;

bool IsGeneric(const std::string& text) {
    return text.rfind("Unknown error", 0) == 0 || text.rfind("Unbekannter Fehler", 0) == 0;
}

// Whatever number reaches the user must read as a real message in both
// languages: every errno result, and the numbers the transports set directly.
TEST(SystemErrorText, EveryNumberTheProgramProducesHasItsOwnTextInBothLanguages) {
    std::vector<uint32_t> codes = {ERROR_IO_INCOMPLETE, ERROR_IO_PENDING,    ERROR_NOACCESS,
                                   ERROR_DEV_NOT_EXIST, ERROR_BAD_LENGTH,    ERROR_SHARING_VIOLATION,
                                   ERROR_MOD_NOT_FOUND, ERROR_BAD_EXE_FORMAT, ERROR_PROC_NOT_FOUND,
                                   ERROR_WAIT_TIMEOUT,  1208 /* USB status without a closer match */};
    for (int err = 0; err < 200; ++err) codes.push_back(ErrorFromErrno(err));
    for (uint32_t code : codes) {
        SCOPED_TRACE(code);
        const std::string en = SystemErrorText(code, LANG_ENGLISH);
        const std::string de = SystemErrorText(code, LANG_GERMAN);
        EXPECT_FALSE(IsGeneric(en)) << en;
        EXPECT_FALSE(IsGeneric(de)) << de;
        EXPECT_NE(en, de);
        // The text goes into one log line and into message boxes unfilled.
        EXPECT_EQ(en.find_first_of("\r\n"), std::string::npos);
        EXPECT_EQ(de.find_first_of("\r\n"), std::string::npos);
        EXPECT_EQ(en.find("%1"), std::string::npos);
    }
}

TEST(SystemErrorText, UnknownNumbersStillGetATextNamingThem) {
    EXPECT_EQ(SystemErrorText(0xDEADBEEF, LANG_ENGLISH), "Unknown error 0xDEADBEEF.");
    EXPECT_EQ(SystemErrorText(0xDEADBEEF, LANG_GERMAN), "Unbekannter Fehler 0xDEADBEEF.");
    // Neighbours of real entries and the extremes of the range.
    for (uint32_t code : {7u, 9999u, 0x20000001u, 0xFFFFFFFFu}) {
#ifdef _WIN32
        if (code == 7u) continue;  // the system's own text stands in for a number we have none for
#endif
        EXPECT_TRUE(IsGeneric(SystemErrorText(code, LANG_ENGLISH))) << code;
        EXPECT_TRUE(IsGeneric(SystemErrorText(code, LANG_GERMAN))) << code;
    }
}

TEST(LastError, IsPerThreadAndSetFromErrno) {
    platform::SetLastError(ERROR_BUSY);
    uint32_t seenByOther = 12345;
    std::thread other([&] {
        seenByOther = platform::GetLastError();
        platform::SetLastError(ERROR_TIMEOUT);
    });
    other.join();
    EXPECT_EQ(seenByOther, ERROR_SUCCESS);
    EXPECT_EQ(platform::GetLastError(), ERROR_BUSY);

    errno = ENOENT;
    EXPECT_EQ(platform::SetLastErrorFromErrno(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(platform::GetLastError(), ERROR_FILE_NOT_FOUND);
    platform::SetLastError(ERROR_SUCCESS);
}

}  // namespace
