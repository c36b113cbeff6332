// CBaseObject: the lock, the two notification callbacks and the logging
// helpers that nearly every class of the program shares.
//
// Callbacks get the user value they were registered with as a CObject*; the
// receiver checks its run-time class with CObject::DownCast before using it.
// Thread: the setters and the raise/deliver helpers may be called from any
// thread; both take the object's lock (m_BaseLock) around the callback.
#pragma once

#include <cstdint>
#include <string_view>

#include "base/ByteBuffer.h"
#include "base/Object.h"
#include "base/ObjectLock.h"
#include "platform/Handle.h"

using EventHandlerFn = void (*)(uint32_t code, uint32_t data, CObject* user);
using DataHandlerFn = void (*)(CByteBuffer& data, CObject* user);

class CBaseObject : public CObject {
public:
    KORVA_RUNTIME_CLASS(CBaseObject)

    CBaseObject() = default;
    // Takes the lock, writes "Lock failed" ("~CBaseObject", not discardable)
    // if it cannot, and shuts the lock down.
    ~CBaseObject() override;
    CBaseObject(const CBaseObject&) = delete;
    CBaseObject& operator=(const CBaseObject&) = delete;

    virtual void SetEventHandler(EventHandlerFn handler, CObject* user);
    virtual void SetDataHandler(DataHandlerFn handler, CObject* user);

    // Logging helpers addressing the process's update log. With an object
    // the entry carries its run-time class name, without one "CBaseObject".
    // Return 1 on success, 0 when nothing could be written.
    static int LogMessage(const CObject* object, std::string_view text, const char* methodName,
                          bool keepDiscardable);
    static int LogMessage(std::string_view text, const char* methodName, bool keepDiscardable);
    static int LogError(const CObject* object, uint32_t code, const char* methodName);
    static int LogError(uint32_t code, const char* methodName);
    // Writes "ddd, dd.MMMM yyyy - HH:mm:ss" (local date and time) as a
    // discardable message entry. Returns as LogMessage.
    static uint32_t LogDateTime(const CObject* object);
    // Closes a system handle and leaves it empty; a failed close is logged
    // ("CBaseObject", error, "FreeHandle").
    static void FreeHandle(platform::OsHandle& handle);

    // For destructors of classes that own a CObjectLock: takes `lock`; if
    // that fails writes "Lock failed" under the class name with the method
    // "~" + class name. Returns whether the lock was taken.
    static bool LockForDestruction(CObjectLock& lock, const CObject* object,
                                   bool keepDiscardable = true);

protected:
    // Calls the event handler, if set, under the object's lock.
    void RaiseEvent(uint32_t code, uint32_t data);
    // Calls the data handler, if set, under the object's lock.
    void DeliverData(CByteBuffer& data);

    CObjectLock m_BaseLock;  // guards the four handler fields

private:
    EventHandlerFn m_pEventHandler = nullptr;
    CObject* m_pEventUser = nullptr;
    DataHandlerFn m_pDataHandler = nullptr;
    CObject* m_pDataUser = nullptr;
};
