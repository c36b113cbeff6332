// A private temporary directory for one test, removed with its contents.
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

// The whole contents of a file.
std::vector<unsigned char> ReadFileBytes(const std::string& path);
