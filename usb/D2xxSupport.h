// Pieces both D2XX-compatible libraries (the real one on libftdi1 and the
// simulated one) need in the same form: the table that turns handles into
// devices, the event notification, the device list copy and the reading of
// FT_OpenEx's serial number argument. Header-only: each library is a shared
// object of its own.
#pragma once

#ifndef _WIN32
#include <unistd.h>
#endif

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "usb/ftd2xx.h"

namespace d2xx {

// Handles are numbers from this table, never addresses: a stale or foreign
// handle is found missing instead of being followed.
// Thread: any; the table's own mutex guards it.
template <class Device>
class HandleTable {
public:
    explicit HandleTable(uintptr_t first) : m_next(first) {}

    FT_HANDLE Add(std::shared_ptr<Device> device) {
        std::lock_guard<std::mutex> lock(m_mutex);
        const uintptr_t id = m_next++;
        m_devices[id] = std::move(device);
        return reinterpret_cast<FT_HANDLE>(id);
    }
    std::shared_ptr<Device> Find(FT_HANDLE handle) {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_devices.find(reinterpret_cast<uintptr_t>(handle));
        return it == m_devices.end() ? nullptr : it->second;
    }
    // Removes the handle and returns its device (null for an unknown handle).
    std::shared_ptr<Device> Take(FT_HANDLE handle) {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_devices.find(reinterpret_cast<uintptr_t>(handle));
        if (it == m_devices.end()) return nullptr;
        std::shared_ptr<Device> device = std::move(it->second);
        m_devices.erase(it);
        return device;
    }
    // Calls `visit(handle, device)` for every open handle, under the table's mutex.
    template <class Visit>
    void ForEach(Visit visit) {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (auto& [id, device] : m_devices) visit(reinterpret_cast<FT_HANDLE>(id), device);
    }

private:
    std::mutex m_mutex;
    std::map<uintptr_t, std::shared_ptr<Device>> m_devices;
    uintptr_t m_next;
};

// The caller's event as FT_SetEventNotification hands it over: a Win32 event
// handle on Windows, an eventfd on Linux (cast to a pointer).
#ifdef _WIN32
using EventTarget = HANDLE;
inline constexpr EventTarget kNoEventTarget = nullptr;
inline void NotifyEvent(EventTarget event) {
    if (event != nullptr) ::SetEvent(event);
}
inline EventTarget EventArgument(PVOID param) { return static_cast<HANDLE>(param); }
#else
using EventTarget = int;
inline constexpr EventTarget kNoEventTarget = -1;
// A full counter still reads as set.
inline void NotifyEvent(EventTarget fd) {
    if (fd < 0) return;
    const uint64_t one = 1;
    const ssize_t ignored = ::write(fd, &one, sizeof one);
    (void)ignored;
}
inline EventTarget EventArgument(PVOID param) { return static_cast<int>(reinterpret_cast<intptr_t>(param)); }
#endif

// Copies the list made by FT_CreateDeviceInfoList; the count given is the
// capacity of the caller's array, and nothing is written past it.
inline FT_STATUS CopyDeviceInfoList(const std::vector<FT_DEVICE_LIST_INFO_NODE>& list,
                                    FT_DEVICE_LIST_INFO_NODE* dest, DWORD* count) {
    if (dest == nullptr || count == nullptr) return FT_INVALID_PARAMETER;
    const DWORD n = std::min<DWORD>(*count, static_cast<DWORD>(list.size()));
    std::copy(list.begin(), list.begin() + n, dest);
    *count = n;
    return FT_OK;
}

// FT_OpenEx's argument as a serial number: at most the 16 bytes a device
// list record holds, whether or not it is terminated.
inline std::string SerialNumberArgument(PVOID arg) {
    const char* text = static_cast<const char*>(arg);
    return std::string(text, strnlen(text, 16));
}

}  // namespace d2xx
