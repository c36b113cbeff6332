#include "base/BaseObject.h"

#include <cstdio>
#include <string>

#include "base/Strings.h"
#include "base/UpdateLogFile.h"
#include "platform/Clock.h"
#include "platform/SysError.h"

namespace {

const char* ClassNameOf(const CObject* object) {
    return object ? object->GetRuntimeClassName() : "CBaseObject";
}

}  // namespace

CBaseObject::~CBaseObject() {
    if (!m_BaseLock.Lock()) LogMessage("Lock failed", "~CBaseObject", false);
    m_BaseLock.Close();
    m_BaseLock.Unlock();
}

void CBaseObject::SetEventHandler(EventHandlerFn handler, CObject* user) {
    CObjectLockGuard guard(m_BaseLock);
    if (!guard) return;
    m_pEventHandler = handler;
    m_pEventUser = user;
}

void CBaseObject::SetDataHandler(DataHandlerFn handler, CObject* user) {
    CObjectLockGuard guard(m_BaseLock);
    if (!guard) return;
    m_pDataHandler = handler;
    m_pDataUser = user;
}

void CBaseObject::RaiseEvent(uint32_t code, uint32_t data) {
    CObjectLockGuard guard(m_BaseLock);
    if (guard && m_pEventHandler) m_pEventHandler(code, data, m_pEventUser);
}

void CBaseObject::DeliverData(CByteBuffer& data) {
    CObjectLockGuard guard(m_BaseLock);
    if (guard && m_pDataHandler) m_pDataHandler(data, m_pDataUser);
}

int CBaseObject::LogMessage(const CObject* object, std::string_view text, const char* methodName,
                            bool keepDiscardable) {
    CUpdateLogFile* log = CUpdateLogFile::Current();
    return log ? log->LogMessage(ClassNameOf(object), text, methodName, keepDiscardable) : 1;
}

int CBaseObject::LogMessage(std::string_view text, const char* methodName, bool keepDiscardable) {
    return LogMessage(nullptr, text, methodName, keepDiscardable);
}

int CBaseObject::LogError(const CObject* object, uint32_t code, const char* methodName) {
    CUpdateLogFile* log = CUpdateLogFile::Current();
    return log ? log->LogError(ClassNameOf(object), code, methodName) : 1;
}

int CBaseObject::LogError(uint32_t code, const char* methodName) {
    return LogError(nullptr, code, methodName);
}

uint32_t CBaseObject::LogDateTime(const CObject* object) {
    platform::LocalTime now;
    if (!platform::GetLocalTime(now)) return platform::GetLastError();
    char time[16];
    std::snprintf(time, sizeof time, "%02d:%02d:%02d", now.hour, now.minute, now.second);
    const std::string text = platform::FormatLongDate(now, GetUserLanguage()) + " - " + time;
    return static_cast<uint32_t>(LogMessage(object, text, nullptr, true));
}

void CBaseObject::FreeHandle(platform::OsHandle& handle) {
    if (!handle.IsOpen()) return;
    const uint32_t rc = handle.Close();
    if (rc != ERROR_SUCCESS) LogError(rc, "FreeHandle");
}

bool CBaseObject::LockForDestruction(CObjectLock& lock, const CObject* object, bool keepDiscardable) {
    if (lock.Lock()) return true;
    const std::string method = std::string("~") + ClassNameOf(object);
    LogMessage(object, "Lock failed", method.c_str(), keepDiscardable);
    return false;
}
