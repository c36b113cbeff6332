// The simulated USB library: the nine D2XX calls of the real one, whose
// devices are simulated instruments.
//
// Each attached device has a host thread that runs its instrument in real
// time: it feeds the bytes FT_Write took, advances the instrument's clock
// and moves the reply bytes that have left its UART into the receive queue,
// signalling the caller's event as the real library does.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "sim/Instrument.h"
#include "sim/d2xx/SimD2xxControl.h"
#include "usb/D2xxSupport.h"

namespace {

constexpr uint32_t kWriteWaitMs = 5000;  // FT_Write gives up when the instrument takes nothing
constexpr size_t kRxCapacity = 64 * 1024;  // received bytes kept until FT_Read takes them

uint64_t NowNs() {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
}

struct SimDevice {
    uint32_t id = 0;
    std::string serial;
    std::mutex mutex;  // guards everything below
    std::condition_variable wake;
    std::unique_ptr<sim::CInstrument> instrument;
    std::deque<uint8_t> rx;
    d2xx::EventTarget notifyEvent = d2xx::kNoEventTarget;
    DWORD mask = 0;
    bool unplugged = false;
    bool stop = false;
    bool open = false;
    uint32_t writeLimit = 0;
    int limitedWrites = 0;
    int writersWaiting = 0;  // FT_Write calls waiting for the instrument to take input
    std::thread host;

    // A device still attached when the library is unloaded (at exit) stops
    // its host thread here.
    ~SimDevice() {
        {
            std::lock_guard<std::mutex> lock(mutex);
            stop = true;
        }
        wake.notify_all();
        if (host.joinable()) {
            if (host.get_id() == std::this_thread::get_id()) host.detach();
            else host.join();
        }
    }

    void Notify() {
        if (mask & FT_EVENT_RXCHAR) d2xx::NotifyEvent(notifyEvent);
    }

    // The instrument's clock runs on this thread; it sleeps until the
    // instrument's next due time or until FT_Write brings bytes.
    void Run() {
        std::unique_lock<std::mutex> lock(mutex);
        uint8_t buffer[512];
        while (!stop) {
            const uint64_t now = NowNs();
            instrument->Advance(now);
            size_t n;
            bool any = false;
            // As the chip's own buffer: bounded, so an instrument that never
            // stops talking cannot grow it; while it is full the instrument
            // waits, and while nobody has the device open its output is lost.
            const auto room = [&] { return open ? kRxCapacity - std::min(kRxCapacity, rx.size()) : sizeof buffer; };
            while (room() > 0 && (n = instrument->ReadOutput(buffer, std::min(sizeof buffer, room()), now)) > 0) {
                if (!open) continue;
                rx.insert(rx.end(), buffer, buffer + n);
                any = true;
            }
            if (instrument->IsHungUp() && !unplugged) {
                unplugged = true;
                any = true;
            }
            if (any) Notify();
            if (writersWaiting > 0 && instrument->InputSpace() > 0) wake.notify_all();
            const uint64_t due = instrument->NextDueNs();
            if (due == sim::kNever || unplugged) {
                wake.wait(lock);
            } else if (due > now) {
                wake.wait_for(lock, std::chrono::nanoseconds(due - now));
            } else if (room() == 0 || !open) {
                // Output is due but has nowhere to go (or nobody to go to):
                // let the callers in instead of spinning under the lock.
                wake.wait_for(lock, std::chrono::milliseconds(1));
            }
        }
    }
};

std::mutex g_mutex;  // guards g_devices and g_list
std::map<std::string, std::shared_ptr<SimDevice>> g_devices;
std::vector<FT_DEVICE_LIST_INFO_NODE> g_list;
d2xx::HandleTable<SimDevice> g_handles(0x51000001);

std::shared_ptr<SimDevice> FindHandle(FT_HANDLE handle) { return g_handles.Find(handle); }

std::shared_ptr<SimDevice> FindSerial(const char* serial) {
    if (serial == nullptr) return nullptr;
    std::lock_guard<std::mutex> lock(g_mutex);
    auto it = g_devices.find(serial);
    return it == g_devices.end() ? nullptr : it->second;
}

void StopDevice(const std::shared_ptr<SimDevice>& device) {
    {
        std::lock_guard<std::mutex> lock(device->mutex);
        device->stop = true;
        device->unplugged = true;
        device->Notify();
    }
    device->wake.notify_all();
    if (device->host.joinable() && device->host.get_id() != std::this_thread::get_id()) device->host.join();
}

}  // namespace

extern "C" {

FT_STATUS FT_CALL FT_CreateDeviceInfoList(DWORD* lpdwNumDevs) {
    if (lpdwNumDevs == nullptr) return FT_INVALID_PARAMETER;
    std::lock_guard<std::mutex> lock(g_mutex);
    g_list.clear();
    for (const auto& [serial, device] : g_devices) {
        std::lock_guard<std::mutex> deviceLock(device->mutex);
        if (device->unplugged) continue;
        FT_DEVICE_LIST_INFO_NODE node{};
        node.ID = device->id;
        node.Flags = device->open ? FT_FLAGS_OPENED : 0;
        std::strncpy(node.SerialNumber, serial.c_str(), sizeof node.SerialNumber - 1);
        std::strncpy(node.Description, "KORVA simulated instrument", sizeof node.Description - 1);
        g_list.push_back(node);
    }
    *lpdwNumDevs = static_cast<DWORD>(g_list.size());
    return FT_OK;
}

FT_STATUS FT_CALL FT_GetDeviceInfoList(FT_DEVICE_LIST_INFO_NODE* pDest, DWORD* lpdwNumDevs) {
    std::lock_guard<std::mutex> lock(g_mutex);
    return d2xx::CopyDeviceInfoList(g_list, pDest, lpdwNumDevs);
}

FT_STATUS FT_CALL FT_OpenEx(PVOID pArg1, DWORD Flags, FT_HANDLE* pHandle) {
    if (pArg1 == nullptr || pHandle == nullptr) return FT_INVALID_PARAMETER;
    if (Flags != FT_OPEN_BY_SERIAL_NUMBER) return FT_NOT_SUPPORTED;
    *pHandle = nullptr;
    auto device = FindSerial(d2xx::SerialNumberArgument(pArg1).c_str());
    if (!device) return FT_DEVICE_NOT_FOUND;
    {
        std::lock_guard<std::mutex> lock(device->mutex);
        if (device->unplugged) return FT_DEVICE_NOT_FOUND;
        if (device->open) return FT_DEVICE_NOT_OPENED;  // one opener at a time, as with the chip
        device->open = true;
        device->rx.clear();
    }
    *pHandle = g_handles.Add(device);
    return FT_OK;
}

FT_STATUS FT_CALL FT_Close(FT_HANDLE ftHandle) {
    std::shared_ptr<SimDevice> device = g_handles.Take(ftHandle);
    if (!device) return FT_INVALID_HANDLE;
    std::lock_guard<std::mutex> lock(device->mutex);
    device->open = false;
    device->notifyEvent = d2xx::kNoEventTarget;
    device->mask = 0;
    return FT_OK;
}

FT_STATUS FT_CALL FT_SetLatencyTimer(FT_HANDLE ftHandle, UCHAR ucLatency) {
    auto device = FindHandle(ftHandle);
    if (!device) return FT_INVALID_HANDLE;
    std::lock_guard<std::mutex> lock(device->mutex);
    if (device->unplugged) return FT_IO_ERROR;
    return ucLatency >= 1 ? FT_OK : FT_INVALID_PARAMETER;
}

FT_STATUS FT_CALL FT_SetEventNotification(FT_HANDLE ftHandle, DWORD Mask, PVOID Param) {
    auto device = FindHandle(ftHandle);
    if (!device) return FT_INVALID_HANDLE;
    const d2xx::EventTarget event = d2xx::EventArgument(Param);
    if (Mask != 0 && event == d2xx::kNoEventTarget) return FT_INVALID_PARAMETER;
    std::lock_guard<std::mutex> lock(device->mutex);
    device->mask = Mask;
    device->notifyEvent = Mask ? event : d2xx::kNoEventTarget;
    if (!device->rx.empty() || device->unplugged) device->Notify();
    return FT_OK;
}

FT_STATUS FT_CALL FT_GetQueueStatus(FT_HANDLE ftHandle, DWORD* dwRxBytes) {
    auto device = FindHandle(ftHandle);
    if (!device) return FT_INVALID_HANDLE;
    if (dwRxBytes == nullptr) return FT_INVALID_PARAMETER;
    std::lock_guard<std::mutex> lock(device->mutex);
    if (device->unplugged) return FT_IO_ERROR;
    *dwRxBytes = static_cast<DWORD>(device->rx.size());
    return FT_OK;
}

FT_STATUS FT_CALL FT_Read(FT_HANDLE ftHandle, PVOID lpBuffer, DWORD dwBytesToRead, DWORD* lpBytesReturned) {
    auto device = FindHandle(ftHandle);
    if (!device) return FT_INVALID_HANDLE;
    if (lpBuffer == nullptr || lpBytesReturned == nullptr) return FT_INVALID_PARAMETER;
    std::lock_guard<std::mutex> lock(device->mutex);
    *lpBytesReturned = 0;
    if (device->unplugged) return FT_IO_ERROR;
    const size_t n = std::min<size_t>(dwBytesToRead, device->rx.size());
    std::copy(device->rx.begin(), device->rx.begin() + static_cast<long>(n), static_cast<uint8_t*>(lpBuffer));
    device->rx.erase(device->rx.begin(), device->rx.begin() + static_cast<long>(n));
    *lpBytesReturned = static_cast<DWORD>(n);
    return FT_OK;
}

FT_STATUS FT_CALL FT_Write(FT_HANDLE ftHandle, PVOID lpBuffer, DWORD dwBytesToWrite, DWORD* lpBytesWritten) {
    auto device = FindHandle(ftHandle);
    if (!device) return FT_INVALID_HANDLE;
    if (lpBuffer == nullptr || lpBytesWritten == nullptr) return FT_INVALID_PARAMETER;
    *lpBytesWritten = 0;
    std::unique_lock<std::mutex> lock(device->mutex);
    // Like the chip, a write waits while the instrument cannot take more;
    // the host thread wakes it as the instrument consumes its input.
    ++device->writersWaiting;
    const bool room = device->wake.wait_for(lock, std::chrono::milliseconds(kWriteWaitMs), [&] {
        return device->unplugged || device->instrument->InputSpace() > 0;
    });
    --device->writersWaiting;
    if (device->unplugged) return FT_IO_ERROR;
    if (!room) return FT_IO_ERROR;
    size_t n = std::min<size_t>(dwBytesToWrite, device->instrument->InputSpace());
    if (device->limitedWrites != 0) {
        n = std::min<size_t>(n, device->writeLimit);
        if (device->limitedWrites > 0) --device->limitedWrites;
    }
    n = device->instrument->Receive(static_cast<const uint8_t*>(lpBuffer), n, NowNs());
    *lpBytesWritten = static_cast<DWORD>(n);
    device->wake.notify_all();
    return FT_OK;
}

FT_STATUS FT_CALL FT_GetLibraryVersion(DWORD* lpdwVersion) {
    if (lpdwVersion == nullptr) return FT_INVALID_PARAMETER;
    *lpdwVersion = 0x00010000;
    return FT_OK;
}

const char* KORVA_GetFileVersionInfo(const char* key) {
    if (key == nullptr) return nullptr;
#ifdef _WIN32
    if (std::strcmp(key, "OriginalFilename") == 0) return "korva_usb_sim.dll";
#else
    if (std::strcmp(key, "OriginalFilename") == 0) return "libkorva_usb_sim.so";
#endif
    if (std::strcmp(key, "FileVersion") == 0) return "1.0.0 (simulated instruments)";
    return nullptr;
}

int KORVA_SimAttach(uint32_t deviceId, const char* serialNumber, const sim::Config* config) {
    if (serialNumber == nullptr || *serialNumber == '\0' || std::strlen(serialNumber) > 15) return -1;
    auto device = std::make_shared<SimDevice>();
    device->id = deviceId;
    device->serial = serialNumber;
    device->instrument = std::make_unique<sim::CInstrument>(config ? *config : sim::Config{});
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        if (g_devices.count(serialNumber)) return -1;
        g_devices[serialNumber] = device;
    }
    device->host = std::thread([device = device.get()] { device->Run(); });
    return 0;
}

int KORVA_SimUnplug(const char* serialNumber) {
    std::shared_ptr<SimDevice> device;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        auto it = serialNumber ? g_devices.find(serialNumber) : g_devices.end();
        if (it == g_devices.end()) return -1;
        device = it->second;
        g_devices.erase(it);
    }
    StopDevice(device);
    return 0;
}

int KORVA_SimLimitWrites(const char* serialNumber, uint32_t maxBytes, int writes) {
    auto device = FindSerial(serialNumber);
    if (!device) return -1;
    std::lock_guard<std::mutex> lock(device->mutex);
    device->writeLimit = maxBytes;
    device->limitedWrites = writes;
    return 0;
}

int KORVA_SimInspect(const char* serialNumber, void (*inspect)(const void* instrument, void* user), void* user) {
    auto device = FindSerial(serialNumber);
    if (!device || inspect == nullptr) return -1;
    std::lock_guard<std::mutex> lock(device->mutex);
    inspect(device->instrument.get(), user);
    return 0;
}

void KORVA_SimReset(void) {
    std::map<std::string, std::shared_ptr<SimDevice>> devices;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        devices.swap(g_devices);
    }
    for (auto& [serial, device] : devices) StopDevice(device);
}

}  // extern "C"
