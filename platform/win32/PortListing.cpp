// The serial ports: the spooler's port list (EnumPorts, level 1) with the
// default configuration of each COM name as the test that it is a serial
// port.
#include "platform/PortListing.h"

#include <algorithm>
#include <vector>

#include "platform/win32/Win32.h"

#include <winspool.h>

namespace platform {

namespace {

// 1 .. 99 for "COM1" .. "COM99" (a trailing colon allowed), else 0.
int ComNumber(const std::wstring& name) {
    std::wstring n = name;
    if (!n.empty() && n.back() == L':') n.pop_back();
    if (n.size() < 4 || n.size() > 5 || _wcsnicmp(n.c_str(), L"COM", 3) != 0 || n[3] < L'1' || n[3] > L'9') return 0;
    if (n.size() == 5 && (n[4] < L'0' || n[4] > L'9')) return 0;
    return n.size() == 4 ? n[3] - L'0' : (n[3] - L'0') * 10 + (n[4] - L'0');
}

}  // namespace

std::vector<SerialPortEntry> ListSerialPorts(const std::string&, const std::string&) {
    std::vector<SerialPortEntry> ports;
    DWORD needed = 0, count = 0;
    ::EnumPortsW(nullptr, 1, nullptr, 0, &needed, &count);
    if (needed == 0) return ports;
    std::vector<BYTE> buffer(needed);
    if (!::EnumPortsW(nullptr, 1, buffer.data(), needed, &needed, &count)) return ports;
    const auto* info = reinterpret_cast<const PORT_INFO_1W*>(buffer.data());
    std::vector<int> numbers;
    for (DWORD i = 0; i < count; ++i) {
        if (info[i].pName == nullptr) continue;
        const int number = ComNumber(info[i].pName);
        if (number != 0) numbers.push_back(number);
    }
    std::sort(numbers.begin(), numbers.end());
    numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
    for (const int number : numbers) {
        const std::wstring name = L"COM" + std::to_wstring(number);
        // A port whose default configuration cannot be had is no serial
        // port (a printer port named COM, a driver that is gone).
        std::vector<BYTE> config(sizeof(COMMCONFIG));
        DWORD size = static_cast<DWORD>(config.size());
        auto* cc = reinterpret_cast<COMMCONFIG*>(config.data());
        cc->dwSize = size;
        if (!::GetDefaultCommConfigW(name.c_str(), cc, &size)) {
            if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER || size <= config.size()) continue;
            config.assign(size, 0);
            cc = reinterpret_cast<COMMCONFIG*>(config.data());
            cc->dwSize = size;
            if (!::GetDefaultCommConfigW(name.c_str(), cc, &size)) continue;
        }
        ports.push_back({"COM" + std::to_string(number), "\\\\.\\COM" + std::to_string(number)});
    }
    return ports;
}

}  // namespace platform
