// Loading a shared library at run time: load, bind a symbol, free.
#pragma once

#include <cstdint>
#include <string>

#include "platform/Handle.h"

namespace platform {

// Thread: one owner; Load/Free are not concurrent with Symbol.
class SharedLibrary {
public:
    SharedLibrary() = default;
    ~SharedLibrary();  // frees the library
    SharedLibrary(const SharedLibrary&) = delete;
    SharedLibrary& operator=(const SharedLibrary&) = delete;

    // Loads the library at `path` (a relative path without a slash is taken
    // relative to the current directory, never searched for). Returns 0, or
    // ERROR_MOD_NOT_FOUND for a missing file, ERROR_BAD_EXE_FORMAT for a file
    // that is not a loadable library, ERROR_ACCESS_DENIED if already loaded
    // or if the file lies on a file system mounted noexec (said in the
    // loader message).
    // The loader's own message is kept in LastLoaderMessage().
    uint32_t Load(const std::string& path);
    // Loads the library from an open file (NewFile::Handle), so the file
    // that is mapped is exactly the one behind `file` whatever happens to
    // its name (Windows: by the full name the handle reports, which the
    // holder keeps from being replaced). ERROR_INVALID_HANDLE for a handle
    // that is not open.
    uint32_t LoadFromFile(OsHandle file);
    // Address of an exported symbol, or nullptr (last error
    // ERROR_PROC_NOT_FOUND).
    void* Symbol(const char* name) const;
    template <class Fn>
    Fn Bind(const char* name) const {
        return reinterpret_cast<Fn>(Symbol(name));
    }
    bool IsLoaded() const { return m_handle != nullptr; }
    void Free();
    const std::string& LastLoaderMessage() const { return m_message; }

private:
    uint32_t FailLoading(bool noexec);

    void* m_handle = nullptr;
    std::string m_message;
};

// The full path of `name` in the system's own library folder, where a
// driver installs the library a program is to use (Windows: the system
// directory); empty where the system has no such folder (Linux).
std::string SystemLibraryPath(const std::string& name);

}  // namespace platform
