// CUpdateLogFile: the single update log of a run.
//
// One file per run, TEMP/KORVA/upd_yyyyMMdd_HHmmssmmm.log, every byte
// scrambled. Routine entries keep the file "discardable"; the first entry
// worth keeping (an error, a failure code, a message marked so) clears that
// mark, and a file that is still discardable at close is deleted together
// with its directory if that is then empty.
//
// The temporary directory is often shared by all users here, so the KORVA
// folder is used only when the current user owns it and nobody else may
// write into it, and the file is opened without following symbolic links:
// no log is better than a log another user controls.
//
// Thread: every operation may be called from any thread; m_Lock serialises
// the writes, the keystream and the close.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "base/BaseObject.h"
#include "base/LogScrambler.h"
#include "platform/Clock.h"
#include "platform/Paths.h"

class CUpdateLogFile : public CBaseObject {
public:
    KORVA_RUNTIME_CLASS(CUpdateLogFile)

    // Opens a new file under platform::TempDirectory().
    CUpdateLogFile();
    // Opens a new file under `tempRoot` (tests, other front ends).
    explicit CUpdateLogFile(const std::string& tempRoot);
    ~CUpdateLogFile() override;

    // Return 1 on success (also when there is no file), 0 when the lock could
    // not be taken or the write failed.
    int LogMessage(const char* className, std::string_view text, const char* methodName,
                   bool keepDiscardable);
    int LogError(const char* className, uint32_t code, const char* methodName);

    bool IsOpen() const;
    bool IsDiscardable() const;
    std::string GetFilePath() const;
    std::string GetFileName() const;
    std::string GetDirectory() const;

    // Flushes, closes, and deletes the file if it is still discardable.
    // Later entries are not written. Called by the destructor.
    void Close();

    // The process's log, which the CBaseObject helpers write to. Installed
    // by the program at start and removed before the log is destroyed.
    static CUpdateLogFile* Current();
    static void SetCurrent(CUpdateLogFile* log);

    // "%02u:%02u:%02u %04u - 0x%08X - " then "Msg"/"Err", " - Class" and
    // "::Method" as present, then " - 0x%08X\r\n" with the code for an error
    // or "\r\n" for a message. Hours wrap at 24.
    static std::string FormatEntryHeader(uint32_t elapsedMs, uint32_t threadId, bool isError,
                                         const char* className, const char* methodName,
                                         uint32_t code);
    // "upd_yyyyMMdd_HHmmssmmm.log"
    static std::string MakeFileName(const platform::LocalTime& time);

private:
    void Open(const std::string& tempRoot);
    int Write(std::string& entry);

    CObjectLock m_Lock;
    uint32_t m_dwStartTicks;
    bool m_bDiscardable = true;  // guarded by m_Lock; only ever goes from true to false
    bool m_bFlushOnClose = true;
    bool m_bClosed = false;  // guarded by m_Lock
    CLogScrambler m_Scrambler;  // guarded by m_Lock
    platform::PrivateDirectory m_Directory;
    platform::PrivateFile m_File;
};
