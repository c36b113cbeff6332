#include "TempDir.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <system_error>

namespace fs = std::filesystem;

TempDir::TempDir() {
    // A fresh name under the system's temporary folder, made by us alone.
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const fs::path path = fs::temp_directory_path() / ("korva-test-" + std::to_string(random()));
        std::error_code ec;
        if (fs::create_directory(path, ec)) {
            m_path = path.generic_string();
            return;
        }
    }
    throw std::runtime_error("cannot make a temporary folder");
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::remove_all(m_path, ec);  // does not follow symbolic links
}

std::vector<std::string> TempDir::List(const std::string& dir) const {
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(dir.empty() ? m_path : Join(dir), ec), end; !ec && it != end; it.increment(ec)) {
        names.push_back(it->path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

bool TempDir::Exists(const std::string& relative) const {
    std::error_code ec;
    return fs::exists(fs::symlink_status(Join(relative), ec));
}

#ifndef _WIN32
void EnvScope::Set(const char* name, const char* value) {
    const bool known = std::any_of(m_saved.begin(), m_saved.end(), [&](const auto& s) { return s.first == name; });
    if (!known) {
        const char* old = std::getenv(name);
        m_saved.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
    }
    value ? ::setenv(name, value, 1) : ::unsetenv(name);
}

EnvScope::~EnvScope() {
    for (auto it = m_saved.rbegin(); it != m_saved.rend(); ++it)
        it->second ? ::setenv(it->first.c_str(), it->second->c_str(), 1) : ::unsetenv(it->first.c_str());
}
#endif

std::vector<unsigned char> ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}
