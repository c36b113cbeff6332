// An update log in a private temporary directory, installed as the
// process's log while the object lives; any log file read back as text.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "TempDir.h"
#include "base/LogScrambler.h"
#include "base/UpdateLogFile.h"

// The whole log file at `path`, unscrambled.
inline std::string ReadLogText(const std::string& path) {
    std::vector<unsigned char> bytes = ReadFileBytes(path);
    CLogScrambler scrambler;
    scrambler.Apply(bytes.data(), bytes.size());
    return std::string(bytes.begin(), bytes.end());
}

class LogCapture {
public:
    LogCapture() : m_log(std::make_unique<CUpdateLogFile>(m_dir.Path())) { CUpdateLogFile::SetCurrent(m_log.get()); }
    ~LogCapture() { CUpdateLogFile::SetCurrent(nullptr); }
    CUpdateLogFile& Log() { return *m_log; }
    // Everything written so far.
    std::string Text() const { return ReadLogText(m_log->GetFilePath()); }

private:
    TempDir m_dir;
    std::unique_ptr<CUpdateLogFile> m_log;
};
