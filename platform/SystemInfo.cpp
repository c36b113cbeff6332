#include "platform/SystemInfo.h"

// The part both systems share.
namespace platform {

NamedInstanceLock::~NamedInstanceLock() { Release(); }

std::string NamedInstanceLock::FileStem(const std::string& name) {
    std::string stem;
    for (char c : name) {
        const bool safe = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
                          c == '_' || c == '.';
        stem += safe ? c : '_';
    }
    if (stem.empty() || stem[0] == '.') stem.insert(stem.begin(), '_');
    return stem;
}

}  // namespace platform
