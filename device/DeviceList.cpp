#include "device/DeviceList.h"

#include <string>

CDeviceList::~CDeviceList() {
    const bool locked = LockForDestruction(m_Lock, this);
    m_Lock.Close();
    while (!m_Entries.empty()) m_Entries.pop_back();
    if (locked) m_Lock.Unlock();
}

void CDeviceList::LogEntry(const Entry& entry) {
    std::string text = entry.port->GetDescription();
    text += "\r\n";
    text += entry.device->GetDescription();
    text += (entry.state & DEVICE_STATE_POSSIBLE) ? "\r\nUpdate possible\r\n" : "\r\nUpdate impossible\r\n";
    LogMessage(this, text, nullptr, true);
}

int CDeviceList::Add(DevicePtr device, PortPtr port, uint8_t state) {
    if (!device || !port) return -1;
    // Judged before the list's lock is taken: the check only needs the
    // record's own lock.
    const uint8_t verdict = device->CheckDeviceParameter() != 0 ? DEVICE_STATE_IMPOSSIBLE : DEVICE_STATE_POSSIBLE;
    state = static_cast<uint8_t>((state & ~(DEVICE_STATE_IMPOSSIBLE | DEVICE_STATE_POSSIBLE)) | verdict);

    CObjectLockGuard guard(m_Lock);
    if (!guard) return -1;
    const int index = FindEntry(port.get());
    if (index < 0) {
        m_Entries.push_back(Entry{std::move(device), std::move(port), state});
        m_bChanged = 1;
        LogEntry(m_Entries.back());
        return static_cast<int>(m_Entries.size() - 1);
    }

    Entry& entry = m_Entries[index];
    if (entry.device->IsSameDevice(*device)) {
        const uint8_t old = entry.state & static_cast<uint8_t>(~DEVICE_STATE_OLD);
        if (state != old) {
            if (!(state & DEVICE_STATE_SUCCEEDED)) state = old;
            state |= old & DEVICE_STATE_REPORTED;
        }
        // The listed records stay; the caller's copies go with its
        // references.
        entry.state = state;
    } else {
        // Another device on this port. The replaced records may still be
        // used by a running update; they go when their last holder does.
        entry.device = std::move(device);
        entry.port = std::move(port);
        entry.state = state;
        LogEntry(entry);
    }
    m_bChanged = 1;
    return index;
}

void CDeviceList::SetEntrieStatesToOld() {
    CObjectLockGuard guard(m_Lock);
    if (!guard) return;
    for (Entry& entry : m_Entries) entry.state |= DEVICE_STATE_OLD;
}

void CDeviceList::RemoveOldListEntries() {
    CObjectLockGuard guard(m_Lock);
    if (!guard) return;
    for (size_t i = 0; i < m_Entries.size();) {
        Entry& entry = m_Entries[i];
        if (!(entry.state & DEVICE_STATE_OLD)) {
            ++i;
        } else if (entry.state & DEVICE_STATE_RUNNING) {
            entry.state &= static_cast<uint8_t>(~DEVICE_STATE_OLD);
            ++i;
        } else {
            m_Entries.erase(m_Entries.begin() + static_cast<std::ptrdiff_t>(i));
            m_bChanged = 1;
        }
    }
    m_Entries.shrink_to_fit();
}

void CDeviceList::SetDeviceState(const CInterfaceParameter* port, uint8_t bits) {
    CObjectLockGuard guard(m_Lock);
    if (!guard) return;
    const int index = FindEntry(port);
    if (index < 0) return;
    uint8_t state = (m_Entries[index].state | bits) & static_cast<uint8_t>(~DEVICE_STATE_OLD);
    switch (bits) {
    case DEVICE_STATE_IMPOSSIBLE: state &= static_cast<uint8_t>(~DEVICE_STATE_POSSIBLE); break;
    case DEVICE_STATE_POSSIBLE: state &= static_cast<uint8_t>(~DEVICE_STATE_IMPOSSIBLE); break;
    case DEVICE_STATE_RUNNING:
        state &= static_cast<uint8_t>(~(DEVICE_STATE_SUCCEEDED | DEVICE_STATE_FAILED));
        break;
    case DEVICE_STATE_SUCCEEDED:
    case DEVICE_STATE_FAILED: state &= static_cast<uint8_t>(~DEVICE_STATE_RUNNING); break;
    default: break;
    }
    m_Entries[index].state = state;
    m_bChanged = 1;
}

void CDeviceList::RestoreDeviceState(const CInterfaceParameter* port, uint8_t state) {
    CObjectLockGuard guard(m_Lock);
    if (!guard) return;
    const int index = FindEntry(port);
    if (index < 0) return;
    m_Entries[index].state = state;
    m_bChanged = 1;
}

uint8_t CDeviceList::GetDeviceState(const CInterfaceParameter* port) {
    CObjectLockGuard guard(m_Lock);
    if (!guard) return 0;
    const int index = FindEntry(port);
    return index < 0 ? 0 : m_Entries[index].state;
}

int CDeviceList::GetDevice(const CInterfaceParameter* port, DevicePtr* device) {
    if (device) device->reset();
    CObjectLockGuard guard(m_Lock);
    if (!guard) return 0;
    const int index = FindEntry(port);
    if (index < 0) return 0;
    if (device) *device = m_Entries[index].device;
    return 1;
}

int CDeviceList::GetDeviceAt(int index, PortPtr* port, DevicePtr* device, uint8_t* state) {
    CObjectLockGuard guard(m_Lock);
    if (!guard) return 0;
    if (index < 0 || static_cast<size_t>(index) >= m_Entries.size()) return 0;
    const Entry& entry = m_Entries[index];
    if (port) *port = entry.port;
    if (device) *device = entry.device;
    if (state) *state = entry.state;
    return 1;
}

int CDeviceList::GetCount() {
    CObjectLockGuard guard(m_Lock);
    return guard ? static_cast<int>(m_Entries.size()) : 0;
}

int CDeviceList::TakeChangedFlag() {
    CObjectLockGuard guard(m_Lock);
    if (!guard) return 0;
    const int changed = m_bChanged;
    m_bChanged = 0;
    return changed;
}

int CDeviceList::FindEntry(const CInterfaceParameter* port) {
    if (port == nullptr) return -1;
    CObjectLockGuard guard(m_Lock);
    if (!guard) return -1;
    for (size_t i = 0; i < m_Entries.size(); ++i)
        if (m_Entries[i].port.get() == port || m_Entries[i].port->IsEqual(*port)) return static_cast<int>(i);
    return -1;
}
