// A private temporary directory for one test, removed with its contents,
// and a private alias folder on top of one.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::string& Path() const { return m_path; }
    std::string Join(const std::string& name) const { return m_path + "/" + name; }
    // Names of the entries of `dir` (relative to this directory), sorted.
    std::vector<std::string> List(const std::string& dir = "") const;
    bool Exists(const std::string& relative) const;

private:
    std::string m_path;
};

#ifndef _WIN32
// Environment variables set (a value) or cleared (nullptr) for the object's
// life; what was there before comes back.
class EnvScope {
public:
    EnvScope() = default;
    EnvScope(const char* name, const char* value) { Set(name, value); }
    EnvScope(const EnvScope&) = delete;
    EnvScope& operator=(const EnvScope&) = delete;
    ~EnvScope();
    void Set(const char* name, const char* value);

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> m_saved;  // first values, in order
};

// XDG_RUNTIME_DIR points at a fresh folder for the object's life, so port
// aliases (of simulators, of pseudo-terminals) never touch the user's.
class RuntimeDirScope {
public:
    const std::string& Path() const { return m_dir.Path(); }

private:
    TempDir m_dir;
    EnvScope m_env{"XDG_RUNTIME_DIR", m_dir.Path().c_str()};
};
#endif

// The whole contents of a file.
std::vector<unsigned char> ReadFileBytes(const std::string& path);
