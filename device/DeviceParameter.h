// CDeviceParameter: the identification record of one instrument.
//
// Filled from the instrument's "*IDN?" reply (SetIdnParameter) and its
// hardware-module block (SetBoardIds); after every fill the record looks
// itself up in the hardware configuration table, which names the firmware
// the program carries for it. The compatibility rules that judge whether
// that firmware may be installed live here too (DeviceCompatibility.cpp).
//
// Threads: search threads, the update thread and the main thread. Every
// operation takes m_Lock (re-entrant, without time limit) for its whole
// run; m_Lock guards every member below it. No other lock is taken while
// it is held. When the lock cannot be taken (the record is being
// destroyed) fillers return 0, readers an empty string.
//
// Records are shared between the device list and a running update through
// std::shared_ptr (see device/DeviceList.h); the last holder destroys it.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/BaseObject.h"
#include "base/ByteBuffer.h"
#include "device/DeviceTables.h"

class CDeviceParameter : public CBaseObject {
public:
    KORVA_RUNTIME_CLASS(CDeviceParameter)

    CDeviceParameter() = default;
    // Takes the lock, then shuts it down, so a reader still waiting for it
    // gets an empty string instead of a destroyed record.
    ~CDeviceParameter() override;

    // --- filling (1 on success, 0 otherwise) ---
    // Parses the "*IDN?" reply: maker,name,serial,HWxxxxxxxx,SWnn.nnn-nn.nnn.
    // The reply is text; a zero byte ends it. Without the first two commas
    // the record is unchanged; without the third comma, "HW" or "SW" the
    // identity (name, serial number, versions, hardware ID) is cleared and
    // the board IDs stay.
    int SetIdnParameter(std::string_view reply);
    // Parses the hardware-module block (IEEE 488.2 definite-length block of
    // 4-byte records: wire code, board ID, both little-endian). Records
    // before an unknown code stay applied; the result is then 0.
    int SetBoardIds(const CByteBuffer& reply);

    // --- reading (fresh strings; "" when the lock cannot be taken) ---
    std::string GetDeviceName() const;
    std::string GetHardwareDeviceName() const;
    std::string GetTargetDeviceName() const;
    std::string GetSerialNumber() const;
    std::string GetNewSerialNumber() const;
    std::string GetHardwareIdText() const;            // "0x%08X"
    std::string GetSoftwareVersion() const;           // version 1 "-" version 2
    std::string GetTargetSoftwareVersion() const;
    std::string GetRequiredSoftwareVersion() const;
    std::string GetBoardIdText(uint32_t wireCode) const;  // "%u"; "0" for an unknown code
    std::string GetDeviceType() const;                // in the user's language
    // "Device: name_v1-v2, #serial, HW-ID 0x%08X\r\nBoard-IDs: AB n, ..."
    std::string GetDescription() const;

    // Same name, serial number, hardware ID, board IDs and versions. Each
    // record is read under its own lock, one after the other, so a refill
    // on another thread cannot tear the comparison.
    bool IsSameDevice(const CDeviceParameter& other) const;

    // Model name (bits 27-16; empty for 8 and above) + variant suffix
    // (bits 15-12).
    static std::string BuildDeviceName(uint32_t hardwareId);

    // --- compatibility rules ---
    // 0 when the carried firmware may be installed, else the string number
    // of the reason (IDS_DEVICE_NOT_UPDATABLE, IDS_DEVICE_NAME_INCORRECT,
    // IDS_HARDWARE_NOT_COMMERCIAL, IDS_PARAMETER_CHECK_FAILED,
    // IDS_SW_VERSION_REQUIRED; the last also fills the required versions).
    uint32_t CheckDeviceParameter();
    // The same against another hardware table whose rows line up with the
    // one the record was matched against (tests of table variants).
    uint32_t CheckDeviceParameter(std::span<const HardwareConfigRow> table);
    // VC_ flags of the step from the device's version 1 to the carried one.
    uint32_t GetVersionChangeFlags() const;
    // Whether the resident monitor of this version fits the MC board.
    bool IsMonitorSuitable(double monitorVersion) const;
    // Whether the instrument runs the carried firmware (after an update).
    bool HasTargetFirmware() const;

    // Rows of the hardware table that matched the last fill (0 or 1).
    std::vector<uint32_t> GetMatchedConfigurations() const;
    uint32_t GetHardwareId() const;
    uint16_t GetBoardId(BoardSlot slot) const;

private:
    struct Identity;
    // Caller holds m_Lock.
    void MatchHardwareConfiguration();
    Identity SnapshotIdentity(bool* locked) const;

    mutable CObjectLock m_Lock;
    std::string m_strDeviceName;
    char m_szSerialNumber[10] = {};
    uint32_t m_dwHardwareId = 0;
    uint16_t m_wBoardIds[BOARD_COUNT] = {};
    char m_szSoftwareVersion1[7] = {};
    char m_szSoftwareVersion2[7] = {};
    char m_szTargetDeviceName[10] = {};
    // Nothing fills it yet; the serial number programming of an update
    // runs only when it is set.
    char m_szNewSerialNumber[10] = {};
    char m_szTargetVersion1[7] = {};
    char m_szTargetVersion2[7] = {};
    char m_szRequiredVersion1[7] = {};
    char m_szRequiredVersion2[7] = {};
    std::vector<uint32_t> m_MatchedConfigurations;
};

// Whether a line can be an answer to "*IDN?" at all: a maker field ended by
// a comma, and no control byte anywhere. Anything else (a boot banner, a
// few stray bytes, a fragment broken by a NUL) is noise on the line, not a
// reply: the search and the update wait on through it. Whether a reply
// names the right maker and firmware is judged afterwards, as for any reply.
bool IsIdentificationReply(std::string_view line);
// How many noise lines an identification waits through before it takes
// the next line as the reply: a boot banner is a few lines, an instrument
// that never stops talking is not to be trusted.
inline constexpr int kMaxIdentificationNoise = 16;

// Numeric value of a version text: leading decimal digits with an optional
// fraction ("05.100" -> 5.1); text that does not start with a digit or a
// point gives 0. No sign, exponent or white space is accepted.
double VersionToNumber(std::string_view text);
