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

#define ENTRY(name) \
    { name, #name }
const std::vector<std::pair<uint32_t, const char*>> kDeclared = {
    ENTRY(ERROR_SUCCESS),
    ENTRY(ERROR_INVALID_FUNCTION),
    ENTRY(ERROR_FILE_NOT_FOUND),
    ENTRY(ERROR_PATH_NOT_FOUND),
    ENTRY(ERROR_TOO_MANY_OPEN_FILES),
    ENTRY(ERROR_ACCESS_DENIED),
    ENTRY(ERROR_INVALID_HANDLE),
    ENTRY(ERROR_NOT_ENOUGH_MEMORY),
    ENTRY(ERROR_INVALID_DATA),
    ENTRY(ERROR_OUTOFMEMORY),
    ENTRY(ERROR_WRITE_PROTECT),
    ENTRY(ERROR_NOT_READY),
    ENTRY(ERROR_BAD_LENGTH),
    ENTRY(ERROR_WRITE_FAULT),
    ENTRY(ERROR_READ_FAULT),
    ENTRY(ERROR_GEN_FAILURE),
    ENTRY(ERROR_SHARING_VIOLATION),
    ENTRY(ERROR_HANDLE_EOF),
    ENTRY(ERROR_HANDLE_DISK_FULL),
    ENTRY(ERROR_NOT_SUPPORTED),
    ENTRY(ERROR_DEV_NOT_EXIST),
    ENTRY(ERROR_FILE_EXISTS),
    ENTRY(ERROR_INVALID_PARAMETER),
    ENTRY(ERROR_BROKEN_PIPE),
    ENTRY(ERROR_OPEN_FAILED),
    ENTRY(ERROR_DISK_FULL),
    ENTRY(ERROR_INSUFFICIENT_BUFFER),
    ENTRY(ERROR_MOD_NOT_FOUND),
    ENTRY(ERROR_PROC_NOT_FOUND),
    ENTRY(ERROR_ALREADY_EXISTS),
    ENTRY(ERROR_FILENAME_EXCED_RANGE),
    ENTRY(ERROR_BAD_EXE_FORMAT),
    ENTRY(ERROR_DIR_NOT_EMPTY),
    ENTRY(ERROR_BUSY),
    ENTRY(ERROR_WAIT_TIMEOUT),
    ENTRY(ERROR_OPERATION_ABORTED),
    ENTRY(ERROR_IO_INCOMPLETE),
    ENTRY(ERROR_IO_PENDING),
    ENTRY(ERROR_NOACCESS),
    ENTRY(ERROR_IO_DEVICE),
    ENTRY(ERROR_DEVICE_NOT_CONNECTED),
    ENTRY(ERROR_NOT_FOUND),
    ENTRY(ERROR_CONNECTION_REFUSED),
    ENTRY(ERROR_NO_SYSTEM_RESOURCES),
    ENTRY(ERROR_TIMEOUT),
    ENTRY(ERROR_BAD_CONFIGURATION),
    ENTRY(ERROR_INVALID_USER_BUFFER),
    ENTRY(ERROR_NOT_CONNECTED),
    ENTRY(ERROR_OLD_WIN_VERSION),
    ENTRY(ERROR_CANTOPEN),
    ENTRY(ERROR_CANT_RESOLVE_FILENAME),
    ENTRY(ERROR_INTERNAL_ERROR),
    ENTRY(ERROR_NO_MORE_ITEMS),
    ENTRY(ERROR_SEM_TIMEOUT),
    ENTRY(ERROR_BAD_UNIT),
    ENTRY(ERROR_CRC),
    ENTRY(ERROR_COUNTER_TIMEOUT),
    ENTRY(ERROR_MORE_DATA),
    ENTRY(ERROR_INVALID_NAME),
    ENTRY(ERROR_DIRECTORY),
    ENTRY(ERROR_NOT_OWNER),
    ENTRY(ERROR_INVALID_FLAGS),
    ENTRY(ERROR_UNRECOGNIZED_MEDIA),
    ENTRY(ERROR_DLL_INIT_FAILED),
    ENTRY(ERROR_INVALID_OPERATION),
    ENTRY(ERROR_NETWORK_UNREACHABLE),
    ENTRY(ERROR_HOST_UNREACHABLE),
    ENTRY(ERROR_RESOURCE_NAME_NOT_FOUND),
    ENTRY(ERROR_RESOURCE_DATA_NOT_FOUND),
    // Not declared, but the USB status mapping produces it.
    {1208, "ERROR_EXTENDED_ERROR"},
};
#undef ENTRY

bool IsGeneric(const std::string& text) {
    return text.rfind("Unknown error", 0) == 0 || text.rfind("Unbekannter Fehler", 0) == 0;
}

TEST(SystemErrorText, EveryNamedNumberHasItsOwnTextInBothLanguages) {
    for (const auto& [code, name] : kDeclared) {
        SCOPED_TRACE(name);
        const std::string en = SystemErrorText(code, LANG_ENGLISH);
        const std::string de = SystemErrorText(code, LANG_GERMAN);
        EXPECT_FALSE(en.empty());
        EXPECT_FALSE(de.empty());
        EXPECT_FALSE(IsGeneric(en)) << en;
        EXPECT_FALSE(IsGeneric(de)) << de;
        EXPECT_NE(en, de);
        EXPECT_EQ(en.find_first_of("\r\n"), std::string::npos);
        EXPECT_EQ(de.find_first_of("\r\n"), std::string::npos);
        EXPECT_EQ(en.find("%1"), std::string::npos) << "unfilled insert";
    }
}

TEST(SystemErrorText, KnownWordings) {
    EXPECT_EQ(SystemErrorText(ERROR_ACCESS_DENIED, LANG_ENGLISH), "Access is denied.");
    EXPECT_EQ(SystemErrorText(ERROR_ACCESS_DENIED, LANG_GERMAN), "Zugriff verweigert.");
    EXPECT_EQ(SystemErrorText(ERROR_INVALID_PARAMETER, LANG_ENGLISH),
              "The parameter is incorrect.");
    EXPECT_EQ(SystemErrorText(ERROR_INVALID_PARAMETER, LANG_GERMAN), "Falscher Parameter.");
    EXPECT_EQ(SystemErrorText(ERROR_IO_PENDING, LANG_GERMAN),
              "\xC3\x9C"
              "berlappender E/A-Vorgang wird verarbeitet.");
    EXPECT_EQ(SystemErrorText(ERROR_RESOURCE_NAME_NOT_FOUND, LANG_ENGLISH),
              "The specified resource name cannot be found in the image file.");
    // Every language but German reads English.
    for (uint16_t lang : {0x00, 0x0C, 0x19}) {
        EXPECT_EQ(SystemErrorText(ERROR_ACCESS_DENIED, lang), "Access is denied.") << lang;
    }
}

TEST(SystemErrorText, UnknownNumbersStillGetATextNamingThem) {
    EXPECT_EQ(SystemErrorText(0xDEADBEEF, LANG_ENGLISH), "Unknown error 0xDEADBEEF.");
    EXPECT_EQ(SystemErrorText(0xDEADBEEF, LANG_GERMAN), "Unbekannter Fehler 0xDEADBEEF.");
    // Neighbours of real entries and the extremes of the range.
    for (uint32_t code : {7u, 9999u, 0x20000001u, 0xFFFFFFFFu}) {
        EXPECT_TRUE(IsGeneric(SystemErrorText(code, LANG_ENGLISH))) << code;
        EXPECT_TRUE(IsGeneric(SystemErrorText(code, LANG_GERMAN))) << code;
    }
    EXPECT_EQ(SystemErrorText(0xFFFFFFFF, LANG_ENGLISH), "Unknown error 0xFFFFFFFF.");
}

TEST(ErrorFromErrno, MapsToTheProgramsNumbers) {
    const std::pair<int, uint32_t> cases[] = {
        {0, ERROR_SUCCESS},
        {ENOENT, 2},
        {ENOTDIR, 3},
        {EMFILE, 4},
        {ENFILE, 4},
        {EACCES, 5},
        {EPERM, 5},
        {EBUSY, 5},
        {ETXTBSY, 5},
        {EBADF, 6},
        {ENOMEM, 8},
        {EROFS, 19},
        {EEXIST, 80},
        {ENOTEMPTY, 145},
        {EINVAL, 87},
        {EPIPE, 109},
        {ENOSPC, 112},
        {ENAMETOOLONG, 206},
        {EIO, 1117},
        {ENODEV, 55},
        {ENXIO, 55},
        {ETIMEDOUT, 1460},
        {ECANCELED, 995},
        {EINTR, 995},
        {EAGAIN, 170},
        {EWOULDBLOCK, 170},
        {ENOTTY, 1},
        {ENOSYS, 50},
        {EOPNOTSUPP, 50},
        {ELOOP, 1921},
        {ECONNREFUSED, 1225},
        {ENETUNREACH, 1231},
        {EHOSTUNREACH, 1232},
        {ENOTCONN, 2250},
        {ENOEXEC, 193},
        {EFAULT, 998},
        // Without a closer match: the general failure.
        {EXDEV, 31},
        {ECHILD, 31},
        {-1, 31},
        {100000, 31},
    };
    for (const auto& [err, expected] : cases) {
        EXPECT_EQ(ErrorFromErrno(err), expected) << "errno " << err;
    }
}

TEST(ErrorFromErrno, EveryResultHasAText) {
    for (int err = 0; err < 200; ++err) {
        EXPECT_FALSE(IsGeneric(SystemErrorText(ErrorFromErrno(err), LANG_ENGLISH)))
            << "errno " << err;
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
