#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/SharedLibrary.h"
#include "platform/SysError.h"
#include "tests/base/support/TempDir.h"

namespace {

namespace fs = std::filesystem;
using platform::SharedLibrary;
using AnswerFn = int (*)();

const char* const kPlugin = KORVA_TEST_PLUGIN_PATH;

class SharedLibraryTest : public ::testing::Test {
  protected:
    TempDir m_temp;
    fs::path m_dir = m_temp.Path();
};

TEST_F(SharedLibraryTest, LoadsBindsAndFrees) {
    SharedLibrary lib;
    ASSERT_EQ(lib.Load(kPlugin), ERROR_SUCCESS) << lib.LastLoaderMessage();
    EXPECT_TRUE(lib.IsLoaded());
    const auto answer = lib.Bind<AnswerFn>("korva_test_answer");
    ASSERT_NE(answer, nullptr);
    EXPECT_EQ(answer(), 42);

    EXPECT_EQ(lib.Load(kPlugin), ERROR_ACCESS_DENIED);  // already loaded

    platform::SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(lib.Symbol("korva_no_such_symbol"), nullptr);
    EXPECT_EQ(platform::GetLastError(), ERROR_PROC_NOT_FOUND);

    lib.Free();
    EXPECT_FALSE(lib.IsLoaded());
    EXPECT_EQ(lib.Symbol("korva_test_answer"), nullptr);
    lib.Free();  // harmless twice
}

TEST_F(SharedLibraryTest, MissingFileIsModuleNotFound) {
    SharedLibrary lib;
    EXPECT_EQ(lib.Load((m_dir / "absent.so").string()), ERROR_MOD_NOT_FOUND);
    EXPECT_EQ(platform::GetLastError(), ERROR_MOD_NOT_FOUND);
    EXPECT_FALSE(lib.IsLoaded());
    EXPECT_EQ(lib.Load(""), ERROR_INVALID_PARAMETER);
}

TEST_F(SharedLibraryTest, BareNameIsNeverSearchedInSystemPaths) {
    // libc is on every system path, but not in the current directory.
    const fs::path before = fs::current_path();
    fs::current_path(m_dir);
    SharedLibrary lib;
    EXPECT_EQ(lib.Load("libc.so.6"), ERROR_MOD_NOT_FOUND);

    // The same bare name finds the file that is in the current directory.
    fs::copy_file(kPlugin, m_dir / "korva_usb.__t");
    EXPECT_EQ(lib.Load("korva_usb.__t"), ERROR_SUCCESS) << lib.LastLoaderMessage();
    fs::current_path(before);
    EXPECT_NE(lib.Symbol("korva_test_answer"), nullptr);
}

TEST_F(SharedLibraryTest, FileThatIsNoLibraryIsBadFormat) {
    const fs::path garbage = m_dir / "garbage.so";
    std::ofstream(garbage) << "this is not an ELF object";
    SharedLibrary lib;
    EXPECT_EQ(lib.Load(garbage.string()), ERROR_BAD_EXE_FORMAT);
    EXPECT_EQ(platform::GetLastError(), ERROR_BAD_EXE_FORMAT);
    EXPECT_FALSE(lib.LastLoaderMessage().empty());
    EXPECT_EQ(lib.Load(m_dir.string()), ERROR_BAD_EXE_FORMAT);  // a directory

    // A cut-off library, and a loaded file whose name was swapped, are the
    // USB library file's tests (tests/transport/usblibraryfile_test.cpp).
    const int fd = open(garbage.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(lib.LoadFromFile(platform::OsHandle::FromNative(fd)), ERROR_BAD_EXE_FORMAT);
    close(fd);
    EXPECT_EQ(lib.LoadFromFile(platform::OsHandle::FromNative(fd)), ERROR_INVALID_HANDLE);  // closed descriptor
    EXPECT_EQ(lib.LoadFromFile(platform::OsHandle{}), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(lib.IsLoaded());
}

}  // namespace
