// The rules that decide whether the carried firmware may be installed on an
// identified instrument.
#include <cstring>

#include "base/StringIds.h"
#include "device/CarriedFirmware.h"
#include "device/DeviceParameter.h"

namespace {

bool IsDevelopmentModelName(const std::string& name) { return name == "QV0000" || name == "QV0000-2"; }

}  // namespace

uint32_t CDeviceParameter::CheckDeviceParameter() { return CheckDeviceParameter(HardwareConfigTable()); }

uint32_t CDeviceParameter::CheckDeviceParameter(std::span<const HardwareConfigRow> table) {
    CObjectLockGuard guard(m_Lock);
    if (!guard) return IDS_PARAMETER_CHECK_FAILED;
    if (m_MatchedConfigurations.size() != 1 || m_MatchedConfigurations[0] >= table.size())
        return IDS_HARDWARE_NOT_COMMERCIAL;
    if (IsDevelopmentModelName(m_strDeviceName)) return IDS_DEVICE_NOT_UPDATABLE;
    const std::string hardwareName = GetHardwareDeviceName();
    if (hardwareName != carried::kModel) return IDS_DEVICE_NOT_UPDATABLE;
    if (m_strDeviceName != hardwareName) return IDS_DEVICE_NAME_INCORRECT;

    // Version texts of the form NN.NNN compare correctly byte by byte.
    const HardwareConfigRow& row = table[m_MatchedConfigurations[0]];
    if (std::strcmp(carried::kVersion1, row.minVersion1) >= 0 &&
        std::strcmp(carried::kVersion2, row.minVersion2) >= 0)
        return 0;
    std::memset(m_szRequiredVersion1, 0, sizeof m_szRequiredVersion1);
    std::memset(m_szRequiredVersion2, 0, sizeof m_szRequiredVersion2);
    std::strncpy(m_szRequiredVersion1, row.minVersion1, sizeof m_szRequiredVersion1 - 1);
    std::strncpy(m_szRequiredVersion2, row.minVersion2, sizeof m_szRequiredVersion2 - 1);
    return IDS_SW_VERSION_REQUIRED;
}

uint32_t CDeviceParameter::GetVersionChangeFlags() const {
    // Read under the lock: the update thread may refill the record.
    CObjectLockGuard guard(m_Lock);
    if (!guard) return VC_CHANGE_IMPOSSIBLE;
    if (IsDevelopmentModelName(m_strDeviceName)) return 0;
    const double device = VersionToNumber({m_szSoftwareVersion1, strnlen(m_szSoftwareVersion1, 7)});
    const double carried = VersionToNumber({m_szTargetVersion1, strnlen(m_szTargetVersion1, 7)});
    if (device == 0.0 || carried == 0.0) return VC_CHANGE_IMPOSSIBLE;
    const uint32_t down = carried < device ? VC_DOWNGRADE : 0;
    for (const VersionChangeRow& row : VersionChangeTable()) {
        if (row.deviceFrom <= device && device <= row.deviceTo && row.carriedFrom <= carried &&
            carried <= row.carriedTo)
            return down | row.flags;
    }
    return down | VC_CHANGE_IMPOSSIBLE;
}

bool CDeviceParameter::IsMonitorSuitable(double monitorVersion) const {
    CObjectLockGuard guard(m_Lock);
    if (!guard) return false;
    switch (m_wBoardIds[BOARD_MC]) {
    case 0: return monitorVersion < 2.0;
    case 1:
    case 2: return monitorVersion >= 2.0;
    default: return false;
    }
}

bool CDeviceParameter::HasTargetFirmware() const {
    CObjectLockGuard guard(m_Lock);
    if (!guard) return false;
    // A record that never matched has no target; empty fields comparing
    // equal must not pass for an installed firmware.
    if (m_szTargetDeviceName[0] == '\0') return false;
    if (m_strDeviceName != std::string_view(m_szTargetDeviceName, strnlen(m_szTargetDeviceName, 10))) return false;
    if (m_szNewSerialNumber[0] != '\0' && std::strncmp(m_szSerialNumber, m_szNewSerialNumber, 10) != 0) return false;
    return std::strncmp(m_szSoftwareVersion1, m_szTargetVersion1, 7) == 0 &&
           std::strncmp(m_szSoftwareVersion2, m_szTargetVersion2, 7) == 0;
}
