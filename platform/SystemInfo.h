// What the start-up entry of the update log says about the machine, and the
// named lock that keeps the program to a single running copy.
// Thread: any.
#pragma once

#include <cstdint>
#include <string>

#include "platform/Handle.h"

namespace platform {

// "<distribution> <kernel name> <release> Build: <kernel version>", e.g.
// "Debian GNU/Linux 12 (bookworm) Linux 6.1.0-18-amd64 Build: #1 SMP ...".
// The distribution comes from os-release (left out when there is none);
// empty when the kernel cannot be asked (uname failed).
std::string OperatingSystemLine();

// PRETTY_NAME (else NAME) of an os-release file; empty when the file or the
// key is missing. Quotes and backslash escapes are removed.
std::string ReadOsReleaseName(const std::string& path);

// The step by which the system clock advances, in milliseconds: the
// resolution of the coarse real-time clock, which moves with the kernel's
// tick as the Windows clock moves with its time adjustment increment.
// False when the clock cannot be asked.
bool SystemTimeIncrementMs(double& ms);

// The number of this process, for names two running copies must not share.
uint32_t CurrentProcessId();

// The folder for the per-user run-time files (locks, sockets, the port
// aliases): $XDG_RUNTIME_DIR/korva, else $HOME/.korva (HOME unset: the
// account's home), else /tmp/korva-<uid>. A variable naming a folder that
// does not belong to the user (inherited from another user's session) is
// passed over.
std::string RuntimeDirectory();

// Creates `path` (empty: RuntimeDirectory()) private to the user if missing;
// 0 when it is usable, ERROR_ACCESS_DENIED when it belongs to someone else,
// is no directory or is writable by others, else the error of the failure.
uint32_t CheckRuntimeDirectory(const std::string& path = "");

// What is wrong with the folder, in words for the user, after
// CheckRuntimeDirectory or NamedInstanceLock::Acquire failed with `error`.
std::string RuntimeDirectoryProblem(const std::string& path, uint32_t error);

// A named lock held for the life of a process, standing in for a named
// mutex used as a marker of a running copy: a file in RuntimeDirectory()
// taken with an exclusive flock, so a copy that dies releases it at once.
// Thread: one owner.
class NamedInstanceLock {
public:
    NamedInstanceLock() = default;
    ~NamedInstanceLock();
    NamedInstanceLock(const NamedInstanceLock&) = delete;
    NamedInstanceLock& operator=(const NamedInstanceLock&) = delete;

    // 0: taken. ERROR_ALREADY_EXISTS: another holder has it. Else the error
    // number of the failure (the folder or file cannot be made or opened).
    // `directory` empty means RuntimeDirectory().
    uint32_t Acquire(const std::string& name, const std::string& directory = "");
    void Release();
    bool IsHeld() const { return m_handle.IsOpen(); }
    // Path of the lock file without its extension; a companion (the socket
    // through which a second copy reaches the first) takes the same stem.
    const std::string& Stem() const { return m_stem; }

    // `name` reduced to characters that are safe in a file name.
    static std::string FileStem(const std::string& name);

private:
    OsHandle m_handle;
    std::string m_stem;
};

}  // namespace platform
