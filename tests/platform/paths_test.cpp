#include "platform/Paths.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "platform/SysError.h"
#include "tests/base/support/TempDir.h"

namespace {

namespace fs = std::filesystem;
using platform::PrivateDirectory;
using platform::PrivateFile;

TEST(TempDirectory, TempThenTmpThenTmpdirThenSlashTmp) {
    const char* names[] = {"TEMP", "TMP", "TMPDIR"};
    const struct {
        const char* values[3];  // nullptr: not set; "": set but empty, which counts as not set
        const char* expected;
    } cases[] = {{{nullptr, nullptr, nullptr}, "/tmp"}, {{"/a", "/b", "/c"}, "/a"}, {{"", "/b", "/c"}, "/b"},
                 {{"", nullptr, "/c"}, "/c"},          {{"", nullptr, ""}, "/tmp"}};
    EnvScope env;
    for (const auto& c : cases) {
        for (int i = 0; i < 3; ++i) env.Set(names[i], c.values[i]);
        EXPECT_EQ(platform::TempDirectory(), c.expected);
    }
}

class PrivatePaths : public ::testing::Test {
  protected:
    static std::string ReadAll(const fs::path& p) {
        const std::vector<unsigned char> bytes = ReadFileBytes(p.string());
        return std::string(bytes.begin(), bytes.end());
    }
    static mode_t ModeOf(const fs::path& p) {
        struct stat st {};
        EXPECT_EQ(lstat(p.c_str(), &st), 0);
        return st.st_mode & 07777;
    }

    TempDir m_temp;
    fs::path m_root = m_temp.Path();
    std::string m_dirPath = (m_root / "KORVA").string();
};

TEST_F(PrivatePaths, DirectoryIsCreatedPrivateOrAcceptedWhenOurs) {
    PrivateDirectory dir;
    EXPECT_EQ(dir.OpenOrCreate((m_root / "no" / "KORVA").string()), ERROR_PATH_NOT_FOUND);
    ASSERT_EQ(dir.OpenOrCreate(m_dirPath), ERROR_SUCCESS);
    EXPECT_EQ(ModeOf(m_dirPath), 0700u);
    // The same object does not silently switch to another directory.
    EXPECT_EQ(dir.OpenOrCreate((m_root / "other").string()), ERROR_ACCESS_DENIED);
    EXPECT_EQ(dir.Path(), m_dirPath);

    const std::string existing = (m_root / "existing").string();
    ASSERT_EQ(mkdir(existing.c_str(), 0755), 0);
    PrivateDirectory second;
    EXPECT_EQ(second.OpenOrCreate(existing), ERROR_SUCCESS);
}

TEST_F(PrivatePaths, RefusesDirectoriesOthersCouldControl) {
    const auto refused = [&](const char* what) {
        SCOPED_TRACE(what);
        platform::SetLastError(ERROR_SUCCESS);
        PrivateDirectory dir;
        EXPECT_EQ(dir.OpenOrCreate(m_dirPath), ERROR_ACCESS_DENIED);
        EXPECT_EQ(platform::GetLastError(), ERROR_ACCESS_DENIED);
        EXPECT_FALSE(dir.IsOpen());
    };

    const fs::path real = m_root / "real";
    ASSERT_EQ(mkdir(real.c_str(), 0700), 0);
    fs::create_directory_symlink(real, m_dirPath);
    refused("symbolic link to our own directory");
    fs::remove(m_dirPath);

    ASSERT_EQ(mkdir(m_dirPath.c_str(), 0700), 0);
    ASSERT_EQ(chmod(m_dirPath.c_str(), 0770), 0);
    refused("group-writable");
    ASSERT_EQ(chmod(m_dirPath.c_str(), 01777), 0);
    refused("world-writable, even with the sticky bit");
    fs::remove(m_dirPath);

    std::ofstream(m_dirPath) << "x";
    refused("regular file");
    fs::remove(m_dirPath);

    if (geteuid() == 0) {
        ASSERT_EQ(mkdir(m_dirPath.c_str(), 0700), 0);
        ASSERT_EQ(chown(m_dirPath.c_str(), 65534, 65534), 0);
        refused("owned by another user");
    }
}

// Writing, keeping and deleting are the update log's (tests/base), over
// this same file.
TEST_F(PrivatePaths, FileIsTheUsersAloneAndKeepsItsFolder) {
    PrivateDirectory dir;
    ASSERT_EQ(dir.OpenOrCreate(m_dirPath), ERROR_SUCCESS);
    PrivateFile file;
    ASSERT_EQ(file.Create(dir, "upd.log"), ERROR_SUCCESS);
    EXPECT_EQ(ModeOf(fs::path(m_dirPath) / "upd.log"), 0600u);
    EXPECT_EQ(dir.RemoveIfEmpty(), ERROR_DIR_NOT_EMPTY);
    file.Close();
    EXPECT_EQ(file.Append("x", 1), ERROR_NOACCESS);
}

TEST_F(PrivatePaths, ExistingFileIsEmptiedButAHeldFileIsRefusedUntouched) {
    PrivateDirectory dir;
    ASSERT_EQ(dir.OpenOrCreate(m_dirPath), ERROR_SUCCESS);
    const fs::path filePath = fs::path(m_dirPath) / "upd.log";
    std::ofstream(filePath) << "old contents";

    PrivateFile first;
    ASSERT_EQ(first.Create(dir, "upd.log"), ERROR_SUCCESS);
    EXPECT_EQ(ReadAll(filePath), "");
    ASSERT_EQ(first.Append("kept", 4), ERROR_SUCCESS);

    PrivateFile second;
    EXPECT_EQ(second.Create(dir, "upd.log"), ERROR_SHARING_VIOLATION);
    EXPECT_EQ(platform::GetLastError(), ERROR_SHARING_VIOLATION);
    EXPECT_FALSE(second.IsOpen());
    EXPECT_EQ(ReadAll(filePath), "kept");

    EXPECT_EQ(first.Create(dir, "other.log"), ERROR_ACCESS_DENIED);  // already open

    first.Close();
    EXPECT_EQ(second.Create(dir, "upd.log"), ERROR_SUCCESS);
}

TEST_F(PrivatePaths, FileRefusesLinksOddNamesAndNonFiles) {
    PrivateDirectory dir;
    ASSERT_EQ(dir.OpenOrCreate(m_dirPath), ERROR_SUCCESS);

    const fs::path target = m_root / "target";
    std::ofstream(target) << "precious";
    fs::create_symlink(target, fs::path(m_dirPath) / "link.log");
    fs::create_directory(fs::path(m_dirPath) / "sub");

    PrivateFile file;
    EXPECT_EQ(file.Create(dir, "link.log"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(ReadAll(target), "precious");
    EXPECT_EQ(file.Create(dir, "sub"), ERROR_ACCESS_DENIED);
    for (const char* name : {"", ".", "..", "../escape.log", "a/b"}) {
        EXPECT_EQ(file.Create(dir, name), ERROR_INVALID_NAME) << name;
    }
    EXPECT_FALSE(fs::exists(m_root / "escape.log"));

    EXPECT_EQ(file.Create(PrivateDirectory{}, "x.log"), ERROR_INVALID_PARAMETER);
}

TEST_F(PrivatePaths, FilesFollowTheOpenedDirectoryNotItsName) {
    PrivateDirectory dir;
    ASSERT_EQ(dir.OpenOrCreate(m_dirPath), ERROR_SUCCESS);
    const fs::path moved = m_root / "moved";
    fs::rename(m_dirPath, moved);
    ASSERT_EQ(mkdir(m_dirPath.c_str(), 0700), 0);

    PrivateFile file;
    ASSERT_EQ(file.Create(dir, "upd.log"), ERROR_SUCCESS);
    EXPECT_TRUE(fs::exists(moved / "upd.log"));
    EXPECT_FALSE(fs::exists(fs::path(m_dirPath) / "upd.log"));
}

}  // namespace
