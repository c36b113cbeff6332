#include "platform/SystemInfo.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <fstream>

#include "platform/SysError.h"

namespace platform {

namespace {

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::string(value) : std::string();
}

// os-release values may be quoted and may escape $, ", \ and `.
std::string Unquote(const std::string& raw) {
    std::string value = raw;
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front()) {
        value = value.substr(1, value.size() - 2);
    }
    std::string out;
    for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '\\' && i + 1 < value.size()) ++i;
        out += value[i];
    }
    return out;
}

// Creates `path` (mode 0700) if missing; an existing entry must be a
// directory owned by us, or a lock there could be taken by another user.
uint32_t EnsurePrivateDirectory(const std::string& path) {
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return ErrorFromErrno(errno);
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return ErrorFromErrno(errno);
    if (!S_ISDIR(st.st_mode) || st.st_uid != ::getuid() || (st.st_mode & 022) != 0) return ERROR_ACCESS_DENIED;
    return 0;
}

}  // namespace

std::string ReadOsReleaseName(const std::string& path) {
    std::ifstream file(path);
    if (!file) return {};
    std::string line, pretty, name;
    while (std::getline(file, line)) {
        if (line.rfind("PRETTY_NAME=", 0) == 0) pretty = Unquote(line.substr(12));
        else if (line.rfind("NAME=", 0) == 0) name = Unquote(line.substr(5));
    }
    return !pretty.empty() ? pretty : name;
}

uint32_t CurrentProcessId() { return static_cast<uint32_t>(::getpid()); }

std::string OperatingSystemLine() {
    struct utsname uts {};
    if (::uname(&uts) != 0) return {};
    std::string distribution = ReadOsReleaseName("/etc/os-release");
    if (distribution.empty()) distribution = ReadOsReleaseName("/usr/lib/os-release");
    std::string line = distribution.empty() ? std::string() : distribution + " ";
    line += std::string(uts.sysname) + " " + uts.release + " Build: " + uts.version;
    return line;
}

bool SystemTimeIncrementMs(double& ms) {
    struct timespec res {};
#ifdef CLOCK_REALTIME_COARSE
    if (::clock_getres(CLOCK_REALTIME_COARSE, &res) != 0 && ::clock_getres(CLOCK_REALTIME, &res) != 0) return false;
#else
    if (::clock_getres(CLOCK_REALTIME, &res) != 0) return false;
#endif
    ms = static_cast<double>(res.tv_sec) * 1000.0 + static_cast<double>(res.tv_nsec) / 1.0e6;
    return true;
}

namespace {

// A folder the user may keep private files in: a directory that belongs to
// the user. An environment inherited from another user (su, sudo -E) names
// that user's folders, which are not ours to write into.
bool IsOwnFolder(const std::string& path, bool privateMode) {
    struct stat st {};
    if (path.empty() || path[0] != '/' || ::stat(path.c_str(), &st) != 0) return false;
    return S_ISDIR(st.st_mode) && st.st_uid == ::getuid() && (!privateMode || (st.st_mode & 022) == 0);
}

std::string AccountHome() {
    struct passwd entry {};
    struct passwd* found = nullptr;
    char buffer[4096];
    if (::getpwuid_r(::getuid(), &entry, buffer, sizeof buffer, &found) != 0 || found == nullptr) return {};
    return found->pw_dir != nullptr ? found->pw_dir : "";
}

}  // namespace

std::string RuntimeDirectory() {
    const std::string runtime = Env("XDG_RUNTIME_DIR");
    if (IsOwnFolder(runtime, true)) return runtime + "/korva";
    for (const std::string& home : {Env("HOME"), AccountHome()}) {
        if (IsOwnFolder(home, false)) return home + "/.korva";
    }
    // Shared with everybody: the folder is checked for its owner and mode
    // wherever it is used.
    return "/tmp/korva-" + std::to_string(::getuid());
}

uint32_t CheckRuntimeDirectory(const std::string& path) {
    return EnsurePrivateDirectory(path.empty() ? RuntimeDirectory() : path);
}

std::string RuntimeDirectoryProblem(const std::string& path, uint32_t error) {
    std::string text = "The folder for the program's own files cannot be used:\n" + path + "\n";
    if (error == ERROR_ACCESS_DENIED) {
        text += "It is not a folder of yours, or other users may write into it.";
    } else {
        text += "It cannot be created or opened (error " + std::to_string(error) + ").";
    }
    return text + "\nSet XDG_RUNTIME_DIR or HOME to a folder that belongs to you and start the program again.";
}

uint32_t NamedInstanceLock::Acquire(const std::string& name, const std::string& directory) {
    Release();
    const std::string dir = directory.empty() ? RuntimeDirectory() : directory;
    if (uint32_t error = EnsurePrivateDirectory(dir)) {
        SetLastError(error);
        return error;
    }
    const std::string stem = dir + "/" + FileStem(name);
    const std::string path = stem + ".lock";
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return SetLastErrorFromErrno();
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        ::close(fd);
        if (err == EWOULDBLOCK) {
            SetLastError(ERROR_ALREADY_EXISTS);
            return ERROR_ALREADY_EXISTS;
        }
        const uint32_t error = ErrorFromErrno(err);
        SetLastError(error);
        return error;
    }
    m_handle = OsHandle::FromNative(fd);
    m_stem = stem;
    return 0;
}

void NamedInstanceLock::Release() {
    if (!m_handle.IsOpen()) return;
    // The file stays: removing it would let a starting copy lock a new file
    // of the same name while a third still waits on the old one.
    m_handle.Close();
}

}  // namespace platform
