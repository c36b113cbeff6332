#include "platform/PortListing.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <map>

#include "platform/PortAlias.h"

namespace platform {

namespace {

int ComNumber(const std::string& comName) {
    return IsComName(comName) ? std::atoi(comName.c_str() + 3) : 0;
}

// "ttyUSB12" with prefix "ttyUSB" -> 12; -1 if the rest is not a number.
long DeviceNumber(const std::string& name, const std::string& prefix) {
    if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) return -1;
    const std::string rest = name.substr(prefix.size());
    if (rest.size() > 4 || !std::all_of(rest.begin(), rest.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return -1;
    return std::atol(rest.c_str());
}

std::string ReadFirstLine(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    if (in) std::getline(in, line);
    return line;
}

std::string LinkBaseName(const std::string& path) {
    char buffer[PATH_MAX];
    const ssize_t n = ::readlink(path.c_str(), buffer, sizeof buffer - 1);
    if (n <= 0) return {};
    std::string target(buffer, static_cast<size_t>(n));
    const size_t slash = target.rfind('/');
    return slash == std::string::npos ? target : target.substr(slash + 1);
}

// ttyS entries exist for every possible 8250 slot; only those with a UART
// behind them are ports. The placeholder slots have type 0 and hang off the
// serial8250 platform device.
bool HasUart(const std::string& sysfsEntry) {
    const std::string type = ReadFirstLine(sysfsEntry + "/type");
    if (!type.empty() && std::atoi(type.c_str()) != 0) return true;
    const std::string driver = LinkBaseName(sysfsEntry + "/device/driver");
    return !driver.empty() && driver != "serial8250";
}

std::string RealPath(const std::string& path) {
    char buffer[PATH_MAX];
    return ::realpath(path.c_str(), buffer) ? std::string(buffer) : path;
}

}  // namespace

std::string ComNameForDevice(const std::string& ttyName) {
    long number = -1;
    long n;
    if ((n = DeviceNumber(ttyName, "ttyUSB")) >= 0) {
        number = n + 33;
    } else if ((n = DeviceNumber(ttyName, "ttyACM")) >= 0) {
        number = n + 65;
    } else if ((n = DeviceNumber(ttyName, "ttyS")) >= 0) {
        number = n + 1;
    }
    if (number < 1 || number > 99) return {};
    return "COM" + std::to_string(number);
}

std::string ResolveComName(const std::string& comName, const std::string& devRoot) {
    const int number = ComNumber(comName);
    if (number == 0) return {};
    for (const auto& alias : ListPortAliases()) {
        if (alias.first == comName) return alias.second;
    }
    if (number <= 32) return devRoot + "/ttyS" + std::to_string(number - 1);
    if (number <= 64) return devRoot + "/ttyUSB" + std::to_string(number - 33);
    return devRoot + "/ttyACM" + std::to_string(number - 65);
}

bool IsUsableSerialDevice(const std::string& device) {
    const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return errno == EBUSY || errno == EACCES;  // there, but held or not ours
    termios tio;
    const bool usable = ::tcgetattr(fd, &tio) == 0;
    ::close(fd);
    return usable;
}

std::vector<SerialPortEntry> ListSerialPorts(const std::string& sysfsRoot, const std::string& devRoot) {
    std::map<int, SerialPortEntry> ports;
    if (DIR* dir = ::opendir(sysfsRoot.c_str())) {
        while (dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            const std::string comName = ComNameForDevice(name);
            if (comName.empty()) continue;
            if (name.compare(0, 4, "ttyS") == 0 && !HasUart(sysfsRoot + "/" + name)) continue;
            ports[ComNumber(comName)] = SerialPortEntry{comName, devRoot + "/" + name};
        }
        ::closedir(dir);
    }
    // An alias renames its device: the derived name of that device goes,
    // and the alias replaces whatever had its number.
    for (const auto& alias : ListPortAliases()) {
        const std::string target = RealPath(alias.second);
        for (auto it = ports.begin(); it != ports.end();) {
            it = RealPath(it->second.device) == target ? ports.erase(it) : std::next(it);
        }
        ports[ComNumber(alias.first)] = SerialPortEntry{alias.first, alias.second};
    }
    std::vector<SerialPortEntry> list;
    for (auto& [number, port] : ports) {
        if (IsUsableSerialDevice(port.device)) list.push_back(std::move(port));
    }
    return list;
}

}  // namespace platform
