// Paths and private files: the temporary directory rule and the files the
// program keeps in it (the update log).
#pragma once

#include <cstdint>
#include <string>

#include "platform/Handle.h"

namespace platform {

// TEMP, else TMP (the names the program has always used), else TMPDIR,
// else "/tmp". A variable that is set but empty counts as not set.
std::string TempDirectory();

// `name` inside the directory `dir`, joined with the system's separator
// (one only, also when `dir` ends with one).
std::string JoinPath(const std::string& dir, const std::string& name);

// A directory that only the current user controls, opened by descriptor so
// that later operations cannot be redirected through a swapped symlink.
// Thread: any, one owner at a time.
class PrivateDirectory {
public:
    PrivateDirectory() = default;
    ~PrivateDirectory();
    PrivateDirectory(const PrivateDirectory&) = delete;
    PrivateDirectory& operator=(const PrivateDirectory&) = delete;

    // Creates `path` with mode 0700, or accepts an existing one only if it is
    // a real directory (not a symlink), owned by the current user and not
    // writable by group or others. Returns 0 or an error number
    // (ERROR_ACCESS_DENIED for a directory that fails those checks).
    uint32_t OpenOrCreate(const std::string& path);
    bool IsOpen() const { return m_handle.IsOpen(); }
    OsHandle Handle() const { return m_handle; }
    const std::string& Path() const { return m_path; }
    void Close();
    // Removes the directory itself; succeeds only when it is empty.
    uint32_t RemoveIfEmpty();

private:
    OsHandle m_handle;
    std::string m_path;
};

// A file inside a PrivateDirectory, opened read/write without following
// symbolic links, mode 0600, not inherited by child processes, with an
// exclusive advisory lock so that a second writer is refused.
// Thread: any, callers serialise.
class PrivateFile {
public:
    PrivateFile() = default;
    ~PrivateFile();
    PrivateFile(const PrivateFile&) = delete;
    PrivateFile& operator=(const PrivateFile&) = delete;

    // Creates `name` anew in `dir` (an existing regular file of that name is
    // emptied). Returns 0 or an error number.
    uint32_t Create(const PrivateDirectory& dir, const std::string& name);
    bool IsOpen() const { return m_handle.IsOpen(); }
    // Appends all bytes in one write at the end of the file.
    uint32_t Append(const void* data, size_t length);
    uint32_t Flush();
    void Close();
    // Deletes the file (by name, inside its directory). Returns 0 or an error.
    uint32_t Delete(const PrivateDirectory& dir);
    const std::string& Name() const { return m_name; }

private:
    OsHandle m_handle;
    std::string m_name;
};

}  // namespace platform
