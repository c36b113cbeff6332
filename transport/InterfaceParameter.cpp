#include "transport/InterfaceParameter.h"

#include <cstdio>
#include <cstring>

#include "platform/Network.h"
#include "platform/SysError.h"

namespace {

void CopyLimited(char* target, size_t size, const char* source) {
    std::strncpy(target, source, size - 1);
    target[size - 1] = '\0';
}

}  // namespace

CInterfaceParameter::CInterfaceParameter(const CInterfaceParameter& other) : CBaseObject() {
    CopyFrom(other);
}

CInterfaceParameter& CInterfaceParameter::operator=(const CInterfaceParameter& other) {
    if (this != &other) CopyFrom(other);
    return *this;
}

CInterfaceParameter::~CInterfaceParameter() {
    LockForDestruction(m_Lock, this);
    m_Lock.Close();
    m_Lock.Unlock();
}

void CInterfaceParameter::SetSerialPort(const char* name) {
    if (name == nullptr || *name == '\0') return;
    CObjectLockGuard guard(m_Lock);
    if (!guard) return;
    m_Fields.kind = kSerial;
    CopyLimited(m_Fields.portName, sizeof m_Fields.portName, name);
}

void CInterfaceParameter::SetUsbPort(uint32_t deviceId, const char* serialNumber) {
    if (serialNumber == nullptr) return;
    CObjectLockGuard guard(m_Lock);
    if (!guard) return;
    m_Fields.kind = kUsb;
    m_Fields.deviceId = deviceId;
    CopyLimited(m_Fields.serialNumber, sizeof m_Fields.serialNumber, serialNumber);
}

void CInterfaceParameter::SetIPPort(uint32_t address, uint16_t port) {
    CObjectLockGuard guard(m_Lock);
    if (!guard) return;
    m_Fields.kind = kIP;
    m_Fields.address = address;
    m_Fields.ipPort = port;
}

CInterfaceParameter::Fields CInterfaceParameter::Snapshot(bool* locked) const {
    CObjectLockGuard guard(m_Lock);
    *locked = guard.IsLocked();
    return *locked ? m_Fields : Fields{};
}

uint8_t CInterfaceParameter::GetKind() const {
    bool locked;
    return Snapshot(&locked).kind;
}

bool CInterfaceParameter::IsSerialPort() const { return GetKind() == kSerial; }
bool CInterfaceParameter::IsUsbPort() const { return GetKind() == kUsb; }
bool CInterfaceParameter::IsIPPort() const { return GetKind() == kIP; }

bool CInterfaceParameter::IsSameKind(const CInterfaceParameter& other) const {
    bool locked;
    const uint8_t mine = Snapshot(&locked).kind;
    return locked && mine == other.GetKind();
}

uint32_t CInterfaceParameter::GetUsbId(uint32_t* deviceId, char* serialNumber) const {
    if (deviceId == nullptr || serialNumber == nullptr) return ERROR_INVALID_PARAMETER;
    bool locked;
    const Fields f = Snapshot(&locked);
    if (f.kind != kUsb) return ERROR_BAD_DEV_TYPE;
    *deviceId = f.deviceId;
    std::memcpy(serialNumber, f.serialNumber, sizeof f.serialNumber);
    return 0;
}

std::string CInterfaceParameter::GetName() const {
    bool locked;
    const Fields f = Snapshot(&locked);
    char text[64];
    switch (f.kind) {
        case kSerial:
            return f.portName;
        case kUsb:
            std::snprintf(text, sizeof text, "USB Pid_%04X #%s", f.deviceId & 0xFFFF, f.serialNumber);
            return text;
        case kIP:
            return platform::DottedAddress(f.address);
        default:
            return {};
    }
}

std::string CInterfaceParameter::GetDescription() const {
    bool locked;
    const Fields f = Snapshot(&locked);
    if (!locked) return {};
    char text[96];
    switch (f.kind) {
        case kSerial:
            return std::string("Interface: ") + f.portName;
        case kUsb:
            std::snprintf(text, sizeof text, "Interface: USB\\Vid_%04X&Pid_%04X\\#%s", f.deviceId >> 16,
                          f.deviceId & 0xFFFF, f.serialNumber);
            return text;
        case kIP:
            return "Interface: " + platform::DottedAddress(f.address) + "   " + std::to_string(f.ipPort);
        default:
            return "Interface: Unknown Interface";
    }
}

void CInterfaceParameter::CopyFrom(const CInterfaceParameter& other) {
    if (&other == this) return;
    bool locked;
    const Fields f = other.Snapshot(&locked);
    if (!locked) return;
    CObjectLockGuard guard(m_Lock);
    if (guard) m_Fields = f;
}

bool CInterfaceParameter::IsEqual(const CInterfaceParameter& other) const {
    bool mineLocked, otherLocked;
    const Fields a = Snapshot(&mineLocked);
    const Fields b = other.Snapshot(&otherLocked);
    if (!mineLocked || !otherLocked || a.kind != b.kind) return false;
    switch (a.kind) {
        case kSerial:
            return std::strcmp(a.portName, b.portName) == 0;
        case kUsb:
            return a.deviceId == b.deviceId && std::strcmp(a.serialNumber, b.serialNumber) == 0;
        case kIP:
            return a.address == b.address && a.ipPort == b.ipPort;
        default:
            return false;
    }
}
