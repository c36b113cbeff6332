// CDeviceList: the instruments the search has found, one entry per port,
// each with its identification record and a state byte.
//
// Ownership: records are held through std::shared_ptr. The list is one
// holder; a running update is another. When a device is found again or
// replaced by another device on its port, and when an entry is removed,
// the list only drops its own reference: a record that an update still
// uses lives on until the update lets go of it, and every record is freed
// by its last holder. Records handed out by GetDevice/GetDeviceAt are
// shared, never borrowed pointers that a later search could free. In a
// blocking window message a record travels as the address of the sender's
// shared_ptr, which the handler copies (docs/design-notes.md).
//
// Threads: used from the main thread (inside handlers of messages that
// search and update threads send), but every operation takes m_Lock all
// the same. Lock order: m_Lock, then the lock of a record it holds or the
// update log's lock; nothing takes m_Lock while holding one of those.
// m_Lock guards m_Entries and m_bChanged.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "base/BaseObject.h"
#include "device/DeviceParameter.h"
#include "transport/InterfaceParameter.h"

inline constexpr uint8_t DEVICE_STATE_IMPOSSIBLE = 0x01;
inline constexpr uint8_t DEVICE_STATE_POSSIBLE = 0x02;
inline constexpr uint8_t DEVICE_STATE_RUNNING = 0x04;
inline constexpr uint8_t DEVICE_STATE_SUCCEEDED = 0x08;
inline constexpr uint8_t DEVICE_STATE_FAILED = 0x10;
inline constexpr uint8_t DEVICE_STATE_REPORTED = 0x40;
inline constexpr uint8_t DEVICE_STATE_OLD = 0x80;

using DevicePtr = std::shared_ptr<CDeviceParameter>;
using PortPtr = std::shared_ptr<CInterfaceParameter>;

class CDeviceList : public CBaseObject {
public:
    KORVA_RUNTIME_CLASS(CDeviceList)

    CDeviceList() = default;
    // Takes and shuts down the lock, then drops every entry, last first.
    ~CDeviceList() override;

    // Lists `device` for `port` (the port is the key). The two lowest bits
    // of `state` are replaced by the device's CheckDeviceParameter verdict.
    // The same device found again keeps the listed records and its state
    // (an update's result, DEVICE_STATE_SUCCEEDED, replaces the state but
    // keeps the reported mark); another device replaces the records and is
    // logged, as is a new entry. Returns the entry's index, -1 for a null
    // record or when the lock cannot be taken.
    int Add(DevicePtr device, PortPtr port, uint8_t state);
    // Marks every entry old at the start of a search cycle.
    void SetEntrieStatesToOld();
    // Drops the entries still old at the end of a cycle, except those whose
    // update runs: they only lose the mark.
    void RemoveOldListEntries();
    // ORs `bits` into the entry's state, clears the old mark and the bits
    // that contradict `bits`. An unlisted port changes nothing.
    void SetDeviceState(const CInterfaceParameter* port, uint8_t bits);
    // Gives the entry `state` as it is (a refused update's row goes back to
    // what it was). An unlisted port changes nothing.
    void RestoreDeviceState(const CInterfaceParameter* port, uint8_t state);
    // The entry's state, 0 for an unlisted port.
    uint8_t GetDeviceState(const CInterfaceParameter* port);
    // 1 and the listed record, or 0 and null.
    int GetDevice(const CInterfaceParameter* port, DevicePtr* device);
    // 1 and the entry's records and state if 0 <= index < count; else 0 and
    // the outputs untouched. Null outputs are skipped.
    int GetDeviceAt(int index, PortPtr* port, DevicePtr* device, uint8_t* state);
    int GetCount();
    // The changed flag, cleared by the call.
    int TakeChangedFlag();
    // Index of the entry for `port`, -1 if none or for a null port.
    int FindEntry(const CInterfaceParameter* port);

private:
    struct Entry {
        DevicePtr device;
        PortPtr port;
        uint8_t state = 0;
    };
    void LogEntry(const Entry& entry);

    CObjectLock m_Lock;
    std::vector<Entry> m_Entries;  // guarded by m_Lock, in order of first appearance
    int m_bChanged = 0;            // guarded by m_Lock
};
