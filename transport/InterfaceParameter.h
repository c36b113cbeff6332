// CInterfaceParameter: the record of one port (serial, USB or IP) with its
// short and long names.
//
// A record is a plain value: copied field by field, owned by whoever
// received it. Thread: any; m_Lock guards the fields.
#pragma once

#include <cstdint>
#include <string>

#include "base/BaseObject.h"

class CInterfaceParameter : public CBaseObject {
public:
    KORVA_RUNTIME_CLASS(CInterfaceParameter)

    enum Kind : uint8_t { kNone = 0, kSerial = 1, kUsb = 2, kIP = 4 };

    CInterfaceParameter() = default;
    CInterfaceParameter(const CInterfaceParameter& other);
    CInterfaceParameter& operator=(const CInterfaceParameter& other);
    ~CInterfaceParameter() override;

    // Kind serial with the first five characters of `name`; null or empty
    // names change nothing.
    void SetSerialPort(const char* name);
    // Kind USB with `deviceId` (vendor id << 16 | product id) and the first
    // nine characters of `serialNumber`; a null serial number changes nothing.
    void SetUsbPort(uint32_t deviceId, const char* serialNumber);
    // Kind IP; `address` in network byte order.
    void SetIPPort(uint32_t address, uint16_t port);

    bool IsSerialPort() const;
    bool IsUsbPort() const;
    bool IsIPPort() const;
    bool IsSameKind(const CInterfaceParameter& other) const;
    uint8_t GetKind() const;

    // 87 if an argument is missing, 66 if not a USB record, else copies the
    // device id and the serial number (at most 10 bytes with the zero).
    uint32_t GetUsbId(uint32_t* deviceId, char* serialNumber) const;
    // COM3 / "USB Pid_6001 #FT123456" / "192.168.0.5" / "".
    std::string GetName() const;
    // "Interface: " + COM3 / "USB\Vid_0403&Pid_6001\#FT123456" /
    // "192.168.0.5   5025" / "Unknown Interface".
    std::string GetDescription() const;
    void CopyFrom(const CInterfaceParameter& other);
    bool IsEqual(const CInterfaceParameter& other) const;

private:
    struct Fields {
        uint8_t kind = kNone;
        char portName[6] = {};
        uint32_t deviceId = 0;
        char serialNumber[10] = {};
        uint32_t address = 0;
        uint16_t ipPort = 0;
    };
    Fields Snapshot(bool* locked) const;

    mutable CObjectLock m_Lock;
    Fields m_Fields;  // guarded by m_Lock
};
