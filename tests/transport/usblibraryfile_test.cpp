#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include <gtest/gtest.h>

#include "../base/support/TempDir.h"
#include "base/Strings.h"
#include "platform/SysError.h"
#include "transport/UsbLibraryFile.h"
#include "usb/ftd2xx.h"

namespace {

// Runs a test inside its own current directory.
class UsbLibraryFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetLanguageOverride(LANG_ENGLISH);
        char* cwd = ::getcwd(nullptr, 0);
        m_previous = cwd;
        free(cwd);
        ASSERT_EQ(::chdir(m_dir.Path().c_str()), 0);
    }
    void TearDown() override {
        DeleteUsbLibraryFile();
        EXPECT_EQ(::chdir(m_previous.c_str()), 0);
        SetLanguageOverride(0);
    }
    EmbeddedFile Embedded() {
        EmbeddedFile file;
        EXPECT_TRUE(FindEmbeddedFile(IDR_USB_LIBRARY, file));
        return file;
    }
    TempDir m_dir;
    std::string m_previous;
};

void WriteText(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

}  // namespace

TEST_F(UsbLibraryFileTest, WritesLoadsDescribesAndDeletes) {
    WriteText(kUsbLibraryFileName, "left behind by an earlier run");
    const std::string line = WriteUsbLibraryFile();
    EXPECT_EQ(g_bUsbDllCreated.load(), 1);
    EXPECT_EQ(line.rfind("DLL for USB devices generated - File: libkorva_usb.so     Version: 1.0.0 (libftdi1 ", 0), 0u)
        << line;
    EXPECT_EQ(line.substr(line.size() - 3), ")\r\n");
    const std::vector<unsigned char> bytes = ReadFileBytes(m_dir.Join(kUsbLibraryFileName));
    const EmbeddedFile embedded = Embedded();
    ASSERT_EQ(bytes.size(), embedded.size);
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), embedded.data));

    platform::SharedLibrary library;
    ASSERT_EQ(LoadUsbLibrary(library), 0u);
    EXPECT_NE(library.Symbol("FT_CreateDeviceInfoList"), nullptr);

    DeleteUsbLibraryFile();
    EXPECT_EQ(g_bUsbDllCreated.load(), 0);
    EXPECT_FALSE(m_dir.Exists(kUsbLibraryFileName));
    platform::SharedLibrary again;
    EXPECT_EQ(LoadUsbLibrary(again), ERROR_MOD_NOT_FOUND);
}

TEST_F(UsbLibraryFileTest, LoadsTheWrittenBytesEvenIfTheNameIsSwapped) {
    WriteUsbLibraryFile();
    ASSERT_EQ(::unlink(kUsbLibraryFileName), 0);
    WriteText(kUsbLibraryFileName, "not a library");
    platform::SharedLibrary library;
    EXPECT_EQ(LoadUsbLibrary(library), 0u);
    DeleteUsbLibraryFile();  // the swapped-in file is not ours: it stays
    EXPECT_TRUE(m_dir.Exists(kUsbLibraryFileName));
}

TEST_F(UsbLibraryFileTest, ALinkLeftBehindIsReplacedNotFollowed) {
    TempDir elsewhere;
    WriteText(elsewhere.Join("victim"), "precious");
    ASSERT_EQ(::symlink(elsewhere.Join("victim").c_str(), kUsbLibraryFileName), 0);
    WriteUsbLibraryFile();
    EXPECT_EQ(g_bUsbDllCreated.load(), 1);
    const std::vector<unsigned char> victim = ReadFileBytes(elsewhere.Join("victim"));
    EXPECT_EQ(std::string(victim.begin(), victim.end()), "precious");
}

TEST_F(UsbLibraryFileTest, UnwritableNameLeavesTheFlagAndNoLibrary) {
    // The name is taken by a directory, which cannot be replaced (as root a
    // read-only directory would not stop the write).
    ASSERT_EQ(::mkdir(kUsbLibraryFileName, 0700), 0);
    const std::string line = WriteUsbLibraryFile();
    EXPECT_EQ(g_bUsbDllCreated.load(), 0);
    EXPECT_EQ(line, "DLL for USB devices not generated - Error: Access is denied.\r\n");
    platform::SharedLibrary library;
    EXPECT_EQ(LoadUsbLibrary(library), ERROR_MOD_NOT_FOUND);
    DeleteUsbLibraryFile();
    EXPECT_TRUE(m_dir.Exists(kUsbLibraryFileName));  // nothing of ours to delete
}

TEST_F(UsbLibraryFileTest, AnIncompleteLibraryIsNotLoaded) {
    // In a child process: the loader keeps libraries it has seen under the
    // same descriptor name, so this must not follow a good load here.
    EXPECT_EXIT(
        {
            EmbeddedFile cut = Embedded();
            cut.size /= 2;
            const std::string line = WriteUsbLibraryFile(&cut);
            platform::SharedLibrary library;
            const uint32_t rc = LoadUsbLibrary(library);
            // Written but not loadable: USB is off, and the line and the
            // problem for the user say why.
            std::exit(g_bUsbDllCreated == 0 && rc == ERROR_MOD_NOT_FOUND &&
                              line == "DLL for USB devices generated but not loadable - Error: not a complete "
                                      "64-bit ELF shared object\r\n" &&
                              UsbLibraryProblem().find("cannot be loaded: not a complete") != std::string::npos
                          ? 0
                          : 1);
        },
        ::testing::ExitedWithCode(0), "");
}
