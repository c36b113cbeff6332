// The D2XX calls the program uses, implemented on libftdi1.
//
// Every open device has a reader thread of its own that fetches what the
// chip sends, so that FT_GetQueueStatus and the event notification are true
// without the caller polling; FT_Read then only copies what is waiting and
// never blocks. Handles are looked up in a table before use, so a stale or
// foreign handle is refused instead of followed.
#include <libftdi1/ftdi.h>
#include <libusb-1.0/libusb.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "usb/D2xxSupport.h"
#include "usb/ftd2xx.h"

namespace {

constexpr size_t kReceiveLimit = 64 * 1024;  // the chip holds back the rest
constexpr int kReadTimeoutMs = 100;          // bounds how long FT_Close waits for the reader

struct ListedDevice {
    FT_DEVICE_LIST_INFO_NODE node;
    int vendor;
    int product;
    uint8_t bus;
    uint8_t address;
};

struct Device {
    ftdi_context* ctx = nullptr;
    std::thread reader;
    std::mutex mutex;                 // guards rx, notifyFd, mask, gone
    std::condition_variable drained;  // the reader waits here while rx is full
    std::vector<uint8_t> rx;
    int notifyFd = -1;
    DWORD mask = 0;
    bool gone = false;
    std::atomic<bool> stop{false};
    std::mutex writeMutex;  // one write at a time per device
};

d2xx::HandleTable<Device> g_handles(0x4B000001);
std::mutex g_listMutex;  // guards g_list
std::vector<FT_DEVICE_LIST_INFO_NODE> g_list;

std::shared_ptr<Device> Find(FT_HANDLE handle) { return g_handles.Find(handle); }
void Notify(int fd) { d2xx::NotifyEvent(fd); }

void ReaderLoop(Device* device) {
    uint8_t buffer[4096];
    while (!device->stop.load()) {
        {
            std::unique_lock<std::mutex> lock(device->mutex);
            device->drained.wait(lock, [&] { return device->rx.size() < kReceiveLimit || device->stop.load(); });
        }
        if (device->stop.load()) break;
        // Returns at the latest after one latency period: the chip sends a
        // status packet then even when it has no data.
        const int n = ftdi_read_data(device->ctx, buffer, sizeof buffer);
        std::lock_guard<std::mutex> lock(device->mutex);
        if (n < 0) {
            device->gone = true;
            if (device->mask & FT_EVENT_RXCHAR) Notify(device->notifyFd);
            break;
        }
        if (n > 0) {
            device->rx.insert(device->rx.end(), buffer, buffer + n);
            if (device->mask & FT_EVENT_RXCHAR) Notify(device->notifyFd);
        }
    }
}

FT_STATUS ListDevices(std::vector<ListedDevice>& out) {
    ftdi_context* ctx = ftdi_new();
    if (ctx == nullptr) return FT_OK;  // no USB subsystem to reach: no devices
    ftdi_device_list* list = nullptr;
    // 0, 0: every device with one of FTDI's own vendor/product ids.
    const int found = ftdi_usb_find_all(ctx, &list, 0, 0);
    if (found < 0) {
        ftdi_free(ctx);
        return found == -3 ? FT_INSUFFICIENT_RESOURCES : FT_OK;
    }
    for (ftdi_device_list* d = list; d != nullptr; d = d->next) {
        ListedDevice entry{};
        libusb_device_descriptor desc{};
        if (libusb_get_device_descriptor(d->dev, &desc) != 0) continue;
        entry.vendor = desc.idVendor;
        entry.product = desc.idProduct;
        entry.bus = libusb_get_bus_number(d->dev);
        entry.address = libusb_get_device_address(d->dev);
        entry.node.ID = (static_cast<ULONG>(desc.idVendor) << 16) | desc.idProduct;
        entry.node.LocId = (static_cast<DWORD>(entry.bus) << 4) | libusb_get_port_number(d->dev);
        // Strings need the device opened; without permission they stay empty,
        // as D2XX leaves them for a device it cannot open.
        char serial[sizeof entry.node.SerialNumber] = {};
        char description[sizeof entry.node.Description] = {};
        if (ftdi_usb_get_strings(ctx, d->dev, nullptr, 0, description, sizeof description, serial,
                                 sizeof serial) == 0) {
            std::memcpy(entry.node.SerialNumber, serial, sizeof serial - 1);
            std::memcpy(entry.node.Description, description, sizeof description - 1);
        }
        g_handles.ForEach([&](FT_HANDLE handle, const std::shared_ptr<Device>& device) {
            if (device->ctx && device->ctx->usb_dev && libusb_get_device(device->ctx->usb_dev) == d->dev) {
                entry.node.Flags |= FT_FLAGS_OPENED;
                entry.node.ftHandle = handle;
            }
        });
        out.push_back(entry);
    }
    ftdi_list_free(&list);
    ftdi_free(ctx);
    return FT_OK;
}

}  // namespace

extern "C" {

FT_STATUS FT_CreateDeviceInfoList(DWORD* lpdwNumDevs) {
    if (lpdwNumDevs == nullptr) return FT_INVALID_PARAMETER;
    std::vector<ListedDevice> list;
    const FT_STATUS status = ListDevices(list);
    if (status != FT_OK) return status;
    std::lock_guard<std::mutex> lock(g_listMutex);
    g_list.clear();
    for (const ListedDevice& d : list) g_list.push_back(d.node);
    *lpdwNumDevs = static_cast<DWORD>(g_list.size());
    return FT_OK;
}

FT_STATUS FT_GetDeviceInfoList(FT_DEVICE_LIST_INFO_NODE* pDest, DWORD* lpdwNumDevs) {
    std::lock_guard<std::mutex> lock(g_listMutex);
    return d2xx::CopyDeviceInfoList(g_list, pDest, lpdwNumDevs);
}

FT_STATUS FT_OpenEx(PVOID pArg1, DWORD Flags, FT_HANDLE* pHandle) {
    if (pArg1 == nullptr || pHandle == nullptr) return FT_INVALID_PARAMETER;
    if (Flags != FT_OPEN_BY_SERIAL_NUMBER) return FT_NOT_SUPPORTED;
    *pHandle = nullptr;
    const std::string serial = d2xx::SerialNumberArgument(pArg1);
    if (serial.empty()) return FT_DEVICE_NOT_FOUND;
    std::vector<ListedDevice> list;
    if (ListDevices(list) != FT_OK) return FT_OTHER_ERROR;
    auto match = std::find_if(list.begin(), list.end(),
                              [&](const ListedDevice& d) { return serial == d.node.SerialNumber; });
    if (match == list.end()) return FT_DEVICE_NOT_FOUND;
    auto device = std::make_shared<Device>();
    device->ctx = ftdi_new();
    if (device->ctx == nullptr) return FT_INSUFFICIENT_RESOURCES;
    if (ftdi_usb_open_desc(device->ctx, match->vendor, match->product, nullptr, serial.c_str()) != 0) {
        ftdi_free(device->ctx);
        return FT_DEVICE_NOT_OPENED;
    }
    device->ctx->usb_read_timeout = kReadTimeoutMs;
    ftdi_tcioflush(device->ctx);
    try {
        device->reader = std::thread(ReaderLoop, device.get());
    } catch (...) {
        ftdi_usb_close(device->ctx);
        ftdi_free(device->ctx);
        return FT_INSUFFICIENT_RESOURCES;
    }
    *pHandle = g_handles.Add(device);
    return FT_OK;
}

FT_STATUS FT_Close(FT_HANDLE ftHandle) {
    std::shared_ptr<Device> device = g_handles.Take(ftHandle);
    if (!device) return FT_INVALID_HANDLE;
    device->stop = true;
    device->drained.notify_all();
    if (device->reader.joinable()) device->reader.join();
    ftdi_usb_close(device->ctx);
    ftdi_free(device->ctx);
    device->ctx = nullptr;
    return FT_OK;
}

FT_STATUS FT_SetLatencyTimer(FT_HANDLE ftHandle, UCHAR ucLatency) {
    auto device = Find(ftHandle);
    if (!device) return FT_INVALID_HANDLE;
    if (ucLatency < 1) return FT_INVALID_PARAMETER;
    return ftdi_set_latency_timer(device->ctx, ucLatency) == 0 ? FT_OK : FT_IO_ERROR;
}

FT_STATUS FT_SetEventNotification(FT_HANDLE ftHandle, DWORD Mask, PVOID Param) {
    auto device = Find(ftHandle);
    if (!device) return FT_INVALID_HANDLE;
    const int fd = d2xx::EventArgument(Param);
    if (Mask != 0 && fd < 0) return FT_INVALID_PARAMETER;
    std::lock_guard<std::mutex> lock(device->mutex);
    device->mask = Mask;
    device->notifyFd = Mask ? fd : -1;
    // Bytes that arrived before the notification was set must not go unseen.
    if ((Mask & FT_EVENT_RXCHAR) && (!device->rx.empty() || device->gone)) Notify(fd);
    return FT_OK;
}

FT_STATUS FT_GetQueueStatus(FT_HANDLE ftHandle, DWORD* dwRxBytes) {
    auto device = Find(ftHandle);
    if (!device) return FT_INVALID_HANDLE;
    if (dwRxBytes == nullptr) return FT_INVALID_PARAMETER;
    std::lock_guard<std::mutex> lock(device->mutex);
    if (device->gone && device->rx.empty()) return FT_IO_ERROR;
    *dwRxBytes = static_cast<DWORD>(device->rx.size());
    return FT_OK;
}

FT_STATUS FT_Read(FT_HANDLE ftHandle, PVOID lpBuffer, DWORD dwBytesToRead, DWORD* lpBytesReturned) {
    auto device = Find(ftHandle);
    if (!device) return FT_INVALID_HANDLE;
    if (lpBuffer == nullptr || lpBytesReturned == nullptr) return FT_INVALID_PARAMETER;
    std::lock_guard<std::mutex> lock(device->mutex);
    const size_t n = std::min<size_t>(dwBytesToRead, device->rx.size());
    std::memcpy(lpBuffer, device->rx.data(), n);
    device->rx.erase(device->rx.begin(), device->rx.begin() + static_cast<long>(n));
    *lpBytesReturned = static_cast<DWORD>(n);
    device->drained.notify_all();
    if (n == 0 && device->gone) return FT_IO_ERROR;
    return FT_OK;
}

FT_STATUS FT_Write(FT_HANDLE ftHandle, PVOID lpBuffer, DWORD dwBytesToWrite, DWORD* lpBytesWritten) {
    auto device = Find(ftHandle);
    if (!device) return FT_INVALID_HANDLE;
    if (lpBuffer == nullptr || lpBytesWritten == nullptr) return FT_INVALID_PARAMETER;
    *lpBytesWritten = 0;
    {
        std::lock_guard<std::mutex> lock(device->mutex);
        if (device->gone) return FT_IO_ERROR;
    }
    std::lock_guard<std::mutex> writing(device->writeMutex);
    const int n = ftdi_write_data(device->ctx, static_cast<const unsigned char*>(lpBuffer),
                                  static_cast<int>(dwBytesToWrite));
    if (n < 0) return FT_IO_ERROR;
    *lpBytesWritten = static_cast<DWORD>(n);
    return FT_OK;
}

FT_STATUS FT_GetLibraryVersion(DWORD* lpdwVersion) {
    if (lpdwVersion == nullptr) return FT_INVALID_PARAMETER;
    *lpdwVersion = 0x00010000;  // 1.0.0, in D2XX's 0x00MMmmpp form
    return FT_OK;
}

const char* KORVA_GetFileVersionInfo(const char* key) {
    static const std::string version = [] {
        const ftdi_version_info v = ftdi_get_library_version();
        return std::string("1.0.0 (libftdi1 ") + (v.version_str ? v.version_str : "?") + ")";
    }();
    if (key == nullptr) return nullptr;
    if (std::strcmp(key, "OriginalFilename") == 0) return "libkorva_usb.so";
    if (std::strcmp(key, "FileVersion") == 0) return version.c_str();
    return nullptr;
}

}  // extern "C"
