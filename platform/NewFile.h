// A file created anew by this process and kept open, so that later users
// (the library loader) can be sure they get exactly the bytes written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/Handle.h"

namespace platform {

// Thread: one owner.
class NewFile {
public:
    NewFile() = default;
    ~NewFile();
    NewFile(const NewFile&) = delete;
    NewFile& operator=(const NewFile&) = delete;

    // Removes whatever stands under `path` and creates a new file there
    // (exclusive create, no symlink followed, mode 0600, not inherited).
    // Returns 0 or an error number.
    uint32_t CreateReplacing(const std::string& path);
    // One write call; `written` tells how much was taken.
    uint32_t Write(const void* data, size_t length, size_t& written);
    // Writing is over: the file stays open for reading only, and nobody
    // else may write, rename or delete it (Windows: the loader, which opens
    // by name, may then map it). Returns 0 or an error number.
    uint32_t FinishWriting();
    OsHandle Handle() const { return m_handle; }
    bool IsOpen() const { return m_handle.IsOpen(); }
    // True while `m_path` still names the file this object created.
    bool StillNamesThisFile() const;
    // Deletes the name if it still names this file. Returns 0 or an error.
    uint32_t Remove();
    void Close();
    const std::string& Path() const { return m_path; }

private:
    OsHandle m_handle;
    std::string m_path;
};

}  // namespace platform
