#include "platform/PortAlias.h"

#include <dirent.h>
#include <errno.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

#include "platform/SysError.h"
#include "platform/SystemInfo.h"

namespace platform {

namespace {

int ComNumber(const std::string& name) {
    if (!IsComName(name)) return 0;
    return std::atoi(name.c_str() + 3);
}

// The alias folder and the run-time folder above it must be ours and
// writable only by us: anyone who can add a link there can put a fake
// instrument in front of the program (the /tmp fallback is shared).
bool IsPrivateFolder(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid() &&
           (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

uint32_t MakeFolder(const std::string& path) {
    if (const uint32_t rc = CheckRuntimeDirectory(RuntimeDirectory())) {
        SetLastError(rc);
        return rc;
    }
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return SetLastErrorFromErrno();
    if (!IsPrivateFolder(path)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return ERROR_ACCESS_DENIED;
    }
    return 0;
}

std::string ReadLink(const std::string& path) {
    char buffer[PATH_MAX];
    const ssize_t n = ::readlink(path.c_str(), buffer, sizeof buffer - 1);
    if (n < 0) return {};
    return std::string(buffer, static_cast<size_t>(n));
}

}  // namespace

std::string PortAliasDirectory() {
    return RuntimeDirectory() + "/ports";
}

bool IsComName(const std::string& name) {
    if (name.size() < 4 || name.size() > 5 || name.compare(0, 3, "COM") != 0) return false;
    if (name[3] < '1' || name[3] > '9') return false;
    return name.size() == 4 || (name[4] >= '0' && name[4] <= '9');
}

uint32_t RegisterPortAlias(const std::string& comName, const std::string& target) {
    if (!IsComName(comName) || target.empty()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return ERROR_INVALID_PARAMETER;
    }
    const std::string folder = PortAliasDirectory();
    if (const uint32_t rc = MakeFolder(folder)) return rc;
    const std::string link = folder + "/" + comName;
    if (::symlink(target.c_str(), link.c_str()) == 0) return 0;
    if (errno == EEXIST && ReadLink(link) == target) return 0;
    const uint32_t rc = errno == EEXIST ? ERROR_ALREADY_EXISTS : ErrorFromErrno(errno);
    SetLastError(rc);
    return rc;
}

uint32_t RemovePortAlias(const std::string& comName, const std::string& expectedTarget) {
    if (!IsComName(comName)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return ERROR_INVALID_PARAMETER;
    }
    const std::string link = PortAliasDirectory() + "/" + comName;
    if (!expectedTarget.empty() && ReadLink(link) != expectedTarget) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return ERROR_FILE_NOT_FOUND;
    }
    if (::unlink(link.c_str()) != 0) return SetLastErrorFromErrno();
    return 0;
}

std::vector<std::pair<std::string, std::string>> ListPortAliases() {
    std::vector<std::pair<std::string, std::string>> aliases;
    const std::string folder = PortAliasDirectory();
    if (!IsPrivateFolder(RuntimeDirectory()) || !IsPrivateFolder(folder)) return aliases;
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) return aliases;
    while (dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (!IsComName(name)) continue;
        std::string target = ReadLink(folder + "/" + name);
        if (target.empty()) continue;
        // A relative link means what the kernel makes of it: relative to
        // the folder, not to the current directory.
        if (target[0] != '/') target = folder + "/" + target;
        aliases.emplace_back(name, target);
    }
    ::closedir(dir);
    std::sort(aliases.begin(), aliases.end(),
              [](const auto& a, const auto& b) { return ComNumber(a.first) < ComNumber(b.first); });
    return aliases;
}

int FreeAliasNumber(int first) {
    const auto aliases = ListPortAliases();
    for (int n = std::max(first, 1); n <= 99; ++n) {
        const std::string name = "COM" + std::to_string(n);
        const bool taken = std::any_of(aliases.begin(), aliases.end(),
                                       [&](const auto& a) { return a.first == name; });
        if (!taken) return n;
    }
    return 0;
}

}  // namespace platform
