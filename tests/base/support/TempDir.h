// A private temporary directory for one test, removed with its contents,
// and a private alias folder on top of one.
#pragma once

#include <string>
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
// XDG_RUNTIME_DIR points at a fresh folder for the object's life, so port
// aliases (of simulators, of pseudo-terminals) never touch the user's.
class RuntimeDirScope {
public:
    RuntimeDirScope();
    ~RuntimeDirScope();
    const std::string& Path() const { return m_dir.Path(); }

private:
    TempDir m_dir;
    std::string m_saved;
    bool m_hadSaved = false;
};
#endif

// The whole contents of a file.
std::vector<unsigned char> ReadFileBytes(const std::string& path);
