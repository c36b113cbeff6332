#include "base/UpdateLogFile.h"

#include <atomic>
#include <cstdio>

#include "base/ByteBuffer.h"
#include "base/ResultCodes.h"
#include "base/Strings.h"
#include "platform/SysError.h"
#include "platform/Thread.h"

namespace {
std::atomic<CUpdateLogFile*> g_currentLog{nullptr};
}

CUpdateLogFile::CUpdateLogFile() : m_dwStartTicks(platform::GetTickCount()) {
    Open(platform::TempDirectory());
}

CUpdateLogFile::CUpdateLogFile(const std::string& tempRoot)
    : m_dwStartTicks(platform::GetTickCount()) {
    Open(tempRoot);
}

CUpdateLogFile::~CUpdateLogFile() {
    Close();
    CUpdateLogFile* self = this;
    g_currentLog.compare_exchange_strong(self, nullptr);
}

CUpdateLogFile* CUpdateLogFile::Current() { return g_currentLog.load(std::memory_order_acquire); }

void CUpdateLogFile::SetCurrent(CUpdateLogFile* log) {
    g_currentLog.store(log, std::memory_order_release);
}

void CUpdateLogFile::Open(const std::string& tempRoot) {
    // Any failure leaves the log without a file; the program runs on.
    if (tempRoot.empty()) return;
    if (m_Directory.OpenOrCreate(platform::JoinPath(tempRoot, "KORVA")) != 0) return;
    platform::LocalTime now;
    if (!platform::GetLocalTime(now)) return;
    m_File.Create(m_Directory, MakeFileName(now));
}

std::string CUpdateLogFile::MakeFileName(const platform::LocalTime& t) {
    char name[64];
    std::snprintf(name, sizeof name, "upd_%04d%02d%02d_%02d%02d%02d%03u.log", t.year, t.month, t.day,
                  t.hour, t.minute, t.second, static_cast<unsigned>(t.millisecond));
    return name;
}

std::string CUpdateLogFile::FormatEntryHeader(uint32_t elapsedMs, uint32_t threadId, bool isError,
                                              const char* className, const char* methodName,
                                              uint32_t code) {
    const uint32_t ms = elapsedMs % 1000;
    const uint32_t seconds = (elapsedMs / 1000) % 60;
    const uint32_t minutes = (elapsedMs / 60000) % 60;
    const uint32_t hours = (elapsedMs / 3600000) % 24;
    char head[64];
    std::snprintf(head, sizeof head, "%02u:%02u:%02u %04u - 0x%08X - ", hours, minutes, seconds, ms,
                  threadId);
    std::string header = head;
    header += isError ? "Err" : "Msg";
    if (className != nullptr && *className != '\0') {
        header += " - ";
        header += className;
        // A method name without a class name is dropped.
        if (methodName != nullptr && *methodName != '\0') {
            header += "::";
            header += methodName;
        }
    }
    if (isError) {
        char tail[24];
        std::snprintf(tail, sizeof tail, " - 0x%08X\r\n", code);
        header += tail;
    } else {
        header += "\r\n";
    }
    return header;
}

int CUpdateLogFile::LogMessage(const char* className, std::string_view text, const char* methodName,
                               bool keepDiscardable) {
    CObjectLockGuard guard(m_Lock);
    if (!guard) return 0;
    std::string entry = FormatEntryHeader(platform::GetTickCount() - m_dwStartTicks,
                                          platform::CurrentThreadId(), false, className, methodName, 0);
    if (!text.empty()) {
        entry.append(text);
        entry += "\r\n";
    }
    if (m_bDiscardable) m_bDiscardable = keepDiscardable;
    return Write(entry);
}

int CUpdateLogFile::LogError(const char* className, uint32_t code, const char* methodName) {
    CObjectLockGuard guard(m_Lock);
    if (!guard) return 0;
    std::string entry = FormatEntryHeader(platform::GetTickCount() - m_dwStartTicks,
                                          platform::CurrentThreadId(), true, className, methodName, code);
    if (!IsResultCode(code)) {
        // System texts carry their own line end where they come from, so a
        // system error body ends with an empty line like a result code body.
        entry += platform::SystemErrorText(code, GetUserLanguage());
        entry += "\r\n\r\n";
        if (code != 0) m_bDiscardable = false;
    } else {
        uint32_t textId = 0;
        uint32_t discardable = 0;
        if (LookupResultCode(code, &textId, &discardable)) {
            // Looked up directly: a missing text must not log from inside the log.
            const uint32_t languageOffset = GetUserLanguage() == LANG_GERMAN ? 0 : 200;
            const char* text = FindStringResource(textId + languageOffset);
            entry += text ? text : "";
            entry += "\r\n\r\n";
            if (m_bDiscardable) m_bDiscardable = discardable != 0;
        } else {
            entry += "\r\n";
            m_bDiscardable = false;
        }
    }
    return Write(entry);
}

int CUpdateLogFile::Write(std::string& entry) {
    if (m_bClosed || !m_File.IsOpen()) return 1;
    m_Scrambler.Apply(reinterpret_cast<uint8_t*>(entry.data()), entry.size());
    return m_File.Append(entry.data(), entry.size()) == 0 ? 1 : 0;
}

bool CUpdateLogFile::IsOpen() const { return m_File.IsOpen(); }

bool CUpdateLogFile::IsDiscardable() const {
    CObjectLockGuard guard(const_cast<CObjectLock&>(m_Lock));
    return m_bDiscardable;
}

std::string CUpdateLogFile::GetDirectory() const { return m_Directory.Path(); }

std::string CUpdateLogFile::GetFileName() const { return m_File.Name(); }

std::string CUpdateLogFile::GetFilePath() const {
    if (m_File.Name().empty()) return {};
    return platform::JoinPath(m_Directory.Path(), m_File.Name());
}

void CUpdateLogFile::Close() {
    if (!m_Lock.Lock()) return;  // already closed
    m_bClosed = true;
    if (m_File.IsOpen()) {
        if (m_bFlushOnClose) m_File.Flush();
        m_File.Close();
        if (m_bDiscardable && m_File.Delete(m_Directory) == 0) m_Directory.RemoveIfEmpty();
    }
    m_Directory.Close();
    m_Lock.Close();
    m_Lock.Unlock();
}
