#include "platform/PortAlias.h"

#include <dirent.h>
#include <errno.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

#include "platform/SysError.h"

namespace platform {

namespace {

std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

int ComNumber(const std::string& name) {
    if (!IsComName(name)) return 0;
    return std::atoi(name.c_str() + 3);
}

uint32_t MakeFolder(const std::string& path) {
    // Create each missing level; the last one private to the user.
    for (size_t pos = 1; pos <= path.size(); ++pos) {
        if (pos != path.size() && path[pos] != '/') continue;
        const std::string part = path.substr(0, pos);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return SetLastErrorFromErrno();
    }
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) return SetLastErrorFromErrno();
    if (!S_ISDIR(st.st_mode)) {
        SetLastError(ERROR_DIRECTORY);
        return ERROR_DIRECTORY;
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
    const std::string runtime = Env("XDG_RUNTIME_DIR");
    if (!runtime.empty()) return runtime + "/korva/ports";
    std::string home = Env("HOME");
    if (home.empty()) home = "/tmp";
    return home + "/.korva/ports";
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
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) return aliases;
    while (dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (!IsComName(name)) continue;
        const std::string target = ReadLink(folder + "/" + name);
        if (!target.empty()) aliases.emplace_back(name, target);
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
