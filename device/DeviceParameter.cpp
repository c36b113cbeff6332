#include "device/DeviceParameter.h"

#include <charconv>
#include <cstdio>
#include <cstring>

#include "base/Strings.h"
#include "device/CarriedFirmware.h"

namespace {

// Bounded copy into a fixed text field: at most N-1 bytes, always ended.
template <size_t N>
void CopyField(char (&field)[N], std::string_view text) {
    const size_t n = text.size() < N - 1 ? text.size() : N - 1;
    if (n != 0) std::memcpy(field, text.data(), n);
    std::memset(field + n, 0, N - n);
}

template <size_t N>
std::string_view FieldView(const char (&field)[N]) {
    return {field, strnlen(field, N)};
}

int HexDigit(unsigned char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string_view Piece(std::string_view text, size_t pos, size_t count) {
    return pos >= text.size() ? std::string_view{} : text.substr(pos, count);
}

uint32_t ModelIndex(uint32_t hardwareId) { return (hardwareId >> 16) & 0x0FFF; }

}  // namespace

// The identity fields that IsSameDevice compares.
struct CDeviceParameter::Identity {
    std::string name;
    std::string serial;
    uint32_t hardwareId = 0;
    uint16_t boards[BOARD_COUNT] = {};
    std::string version1;
    std::string version2;
    bool operator==(const Identity& other) const {
        return name == other.name && serial == other.serial && hardwareId == other.hardwareId &&
               std::memcmp(boards, other.boards, sizeof boards) == 0 && version1 == other.version1 &&
               version2 == other.version2;
    }
};

double VersionToNumber(std::string_view text) {
    size_t end = 0;
    while (end < text.size() && text[end] >= '0' && text[end] <= '9') ++end;
    if (end < text.size() && text[end] == '.') {
        ++end;
        while (end < text.size() && text[end] >= '0' && text[end] <= '9') ++end;
    }
    if (end == 0 || (end == 1 && text[0] == '.')) return 0.0;
    // from_chars rounds exactly like the compiler does for the table's
    // literals, so 5.306 read here equals the 5.306 written there.
    double value = 0.0;
    const auto result = std::from_chars(text.data(), text.data() + end, value);
    return result.ec == std::errc() ? value : 0.0;
}

bool IsIdentificationReply(std::string_view line) {
    const size_t comma = line.find(',');
    if (comma == std::string_view::npos || comma == 0) return false;
    for (const char c : line) {
        const unsigned char b = static_cast<unsigned char>(c);
        if (b < 0x20 || b == 0x7F) return false;
    }
    return true;
}

CDeviceParameter::~CDeviceParameter() {
    const bool locked = LockForDestruction(m_Lock, this);
    m_Lock.Close();
    if (locked) m_Lock.Unlock();
}

int CDeviceParameter::SetIdnParameter(std::string_view reply) {
    // The reply is text: a zero byte from a garbled line ends it.
    const size_t zero = reply.find('\0');
    if (zero != std::string_view::npos) reply = reply.substr(0, zero);

    // The maker (checked by the caller) and the device name must be there
    // before anything changes.
    size_t comma = reply.find(',');
    if (comma == std::string_view::npos) return 0;
    std::string_view rest = reply.substr(comma + 1);
    comma = rest.find(',');
    if (comma == std::string_view::npos) return 0;
    const std::string_view name = rest.substr(0, comma);
    rest = rest.substr(comma + 1);

    CObjectLockGuard guard(m_Lock);
    if (!guard) return 0;
    m_strDeviceName.assign(name);

    bool complete = false;
    comma = rest.find(',');
    if (comma != std::string_view::npos) {
        CopyField(m_szSerialNumber, rest.substr(0, comma));
        const std::string_view r = rest.substr(comma + 1);
        const size_t hw = r.find("HW");
        const size_t sw = r.find("SW");
        if (hw != std::string_view::npos && sw != std::string_view::npos) {
            // Up to eight hex digits; a field without one keeps the old ID.
            const std::string_view hex = Piece(r, hw + 2, 8);
            uint32_t id = 0;
            size_t digits = 0;
            for (; digits < hex.size(); ++digits) {
                const int d = HexDigit(static_cast<unsigned char>(hex[digits]));
                if (d < 0) break;
                id = (id << 4) | static_cast<uint32_t>(d);
            }
            if (digits != 0) m_dwHardwareId = id;
            // NN.NNN-NN.NNN; the separator is not checked.
            const std::string_view versions = Piece(r, sw + 2, 13);
            CopyField(m_szSoftwareVersion1, versions.substr(0, 6));
            CopyField(m_szSoftwareVersion2, Piece(versions, 7, 6));
            complete = true;
        }
    }
    if (!complete) {
        // A reply that names a device but not its identity must not leave
        // the previous identity behind under the new name.
        m_strDeviceName.clear();
        CopyField(m_szSerialNumber, {});
        CopyField(m_szSoftwareVersion1, {});
        CopyField(m_szSoftwareVersion2, {});
        m_dwHardwareId = 0;
    }
    MatchHardwareConfiguration();
    return complete ? 1 : 0;
}

int CDeviceParameter::SetBoardIds(const CByteBuffer& reply) {
    const uint8_t* data = reply.GetData();
    const size_t length = reply.GetLength();
    if (data == nullptr || length == 0) return 0;
    const void* hash = std::memchr(data, '#', length);
    if (hash == nullptr) return 0;
    size_t pos = static_cast<const uint8_t*>(hash) - data + 1;
    if (pos >= length) return 0;
    // The digit count is the low four bits of the byte after '#'.
    const size_t n = data[pos] & 0x0F;
    if (n < 1 || n > 9) return 0;
    ++pos;
    if (length - pos < n) return 0;
    uint64_t blockLength = 0;
    for (size_t i = 0; i < n && data[pos + i] >= '0' && data[pos + i] <= '9'; ++i)
        blockLength = blockLength * 10 + (data[pos + i] - '0');
    pos += n;
    if (length - pos < blockLength || blockLength < 4) return 0;

    CObjectLockGuard guard(m_Lock);
    if (!guard) return 0;
    int result = 1;
    const size_t records = static_cast<size_t>(blockLength / 4);
    for (size_t i = 0; i < records; ++i) {
        const uint8_t* record = data + pos + 4 * i;
        const uint32_t code = record[0] | (record[1] << 8);
        const uint16_t value = static_cast<uint16_t>(record[2] | (record[3] << 8));
        const int slot = BoardSlotOfWireCode(code);
        if (slot < 0) {
            result = 0;  // skipped; the records after it still count
            continue;
        }
        m_wBoardIds[slot] = value;
    }
    MatchHardwareConfiguration();
    return result;
}

void CDeviceParameter::MatchHardwareConfiguration() {
    m_MatchedConfigurations.clear();
    bool anyBoard = false;
    for (int slot = 0; slot < BOARD_COUNT; ++slot)
        if (slot != BOARD_MC && m_wBoardIds[slot] != 0) anyBoard = true;

    const std::span<const HardwareConfigRow> table = HardwareConfigTable();
    for (size_t row = 0; row < table.size(); ++row) {
        const HardwareConfigRow& config = table[row];
        if (anyBoard) {
            bool boardsFit = true;
            for (int slot = 0; slot < BOARD_COUNT && boardsFit; ++slot) {
                if (slot == BOARD_MC) continue;
                boardsFit = config.boards[slot] == 0 || config.boards[slot] == m_wBoardIds[slot];
            }
            if (!boardsFit) continue;
        }
        if (config.boards[BOARD_MC] != m_wBoardIds[BOARD_MC]) continue;
        // Model index 4 is the development model: it never takes firmware.
        if (ModelIndex(m_dwHardwareId) == 4) break;
        if (ModelIndex(config.hardwareId) == 4) continue;
        if (config.hardwareId != m_dwHardwareId) continue;
        if (m_szSoftwareVersion1[0] == '\0' || m_szSoftwareVersion2[0] == '\0') continue;

        CopyField(m_szTargetDeviceName, carried::kModel);
        CopyField(m_szTargetVersion1, carried::kVersion1);
        CopyField(m_szTargetVersion2, carried::kVersion2);
        m_MatchedConfigurations.push_back(static_cast<uint32_t>(row));
        return;
    }
}

std::string CDeviceParameter::BuildDeviceName(uint32_t hardwareId) {
    const char* model = ModelName(ModelIndex(hardwareId));
    std::string name = model ? model : "";
    name += VariantSuffix((hardwareId >> 12) & 0x0F);
    return name;
}

std::string CDeviceParameter::GetDeviceName() const {
    CObjectLockGuard guard(m_Lock);
    return guard ? m_strDeviceName : std::string();
}

std::string CDeviceParameter::GetHardwareDeviceName() const {
    CObjectLockGuard guard(m_Lock);
    return guard ? BuildDeviceName(m_dwHardwareId) : std::string();
}

std::string CDeviceParameter::GetTargetDeviceName() const {
    CObjectLockGuard guard(m_Lock);
    return guard ? std::string(FieldView(m_szTargetDeviceName)) : std::string();
}

std::string CDeviceParameter::GetSerialNumber() const {
    CObjectLockGuard guard(m_Lock);
    return guard ? std::string(FieldView(m_szSerialNumber)) : std::string();
}

std::string CDeviceParameter::GetNewSerialNumber() const {
    CObjectLockGuard guard(m_Lock);
    return guard ? std::string(FieldView(m_szNewSerialNumber)) : std::string();
}

std::string CDeviceParameter::GetHardwareIdText() const {
    CObjectLockGuard guard(m_Lock);
    if (!guard) return {};
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", m_dwHardwareId);
    return text;
}

std::string CDeviceParameter::GetSoftwareVersion() const {
    CObjectLockGuard guard(m_Lock);
    if (!guard) return {};
    return std::string(FieldView(m_szSoftwareVersion1)) + "-" + std::string(FieldView(m_szSoftwareVersion2));
}

std::string CDeviceParameter::GetTargetSoftwareVersion() const {
    CObjectLockGuard guard(m_Lock);
    if (!guard) return {};
    return std::string(FieldView(m_szTargetVersion1)) + "-" + std::string(FieldView(m_szTargetVersion2));
}

std::string CDeviceParameter::GetRequiredSoftwareVersion() const {
    CObjectLockGuard guard(m_Lock);
    if (!guard) return {};
    return std::string(FieldView(m_szRequiredVersion1)) + "-" + std::string(FieldView(m_szRequiredVersion2));
}

std::string CDeviceParameter::GetBoardIdText(uint32_t wireCode) const {
    CObjectLockGuard guard(m_Lock);
    if (!guard) return {};
    const int slot = BoardSlotOfWireCode(wireCode);
    return std::to_string(slot < 0 ? 0u : static_cast<unsigned>(m_wBoardIds[slot]));
}

std::string CDeviceParameter::GetDeviceType() const {
    CObjectLockGuard guard(m_Lock);
    if (!guard) return {};
    if (ModelIndex(m_dwHardwareId) > 16) return {};
    const bool german = (GetUserLanguage() & 0x3FF) == 7;
    return DeviceTypeName(m_dwHardwareId >> 28, german);
}

std::string CDeviceParameter::GetDescription() const {
    CObjectLockGuard guard(m_Lock);
    if (!guard) return {};
    // Built piece by piece: the device name has no length limit.
    char id[16];
    std::snprintf(id, sizeof id, "0x%08X", m_dwHardwareId);
    std::string text = "Device: " + m_strDeviceName + "_" + std::string(FieldView(m_szSoftwareVersion1)) + "-" +
                       std::string(FieldView(m_szSoftwareVersion2)) + ", #" +
                       std::string(FieldView(m_szSerialNumber)) + ", HW-ID " + id + "\r\n";
    static constexpr const char* kBoardNames[BOARD_COUNT] = {"AB", "CRT", "FC", "IF", "MB",
                                                             "MC", "PS",  "TE", "YF", "YP"};
    text += "Board-IDs: ";
    for (int slot = 0; slot < BOARD_COUNT; ++slot) {
        if (slot != 0) text += ", ";
        text += kBoardNames[slot];
        text += ' ';
        text += std::to_string(m_wBoardIds[slot]);
    }
    return text;
}

CDeviceParameter::Identity CDeviceParameter::SnapshotIdentity(bool* locked) const {
    Identity identity;
    CObjectLockGuard guard(m_Lock);
    *locked = guard.IsLocked();
    if (!guard) return identity;
    identity.name = m_strDeviceName;
    identity.serial = FieldView(m_szSerialNumber);
    identity.hardwareId = m_dwHardwareId;
    std::memcpy(identity.boards, m_wBoardIds, sizeof identity.boards);
    identity.version1 = FieldView(m_szSoftwareVersion1);
    identity.version2 = FieldView(m_szSoftwareVersion2);
    return identity;
}

bool CDeviceParameter::IsSameDevice(const CDeviceParameter& other) const {
    if (&other == this) return true;
    // One record's lock at a time: never two record locks nested.
    bool lockedThis = false;
    bool lockedOther = false;
    const Identity mine = SnapshotIdentity(&lockedThis);
    const Identity theirs = other.SnapshotIdentity(&lockedOther);
    return lockedThis && lockedOther && mine == theirs;
}

std::vector<uint32_t> CDeviceParameter::GetMatchedConfigurations() const {
    CObjectLockGuard guard(m_Lock);
    return guard ? m_MatchedConfigurations : std::vector<uint32_t>();
}

uint32_t CDeviceParameter::GetHardwareId() const {
    CObjectLockGuard guard(m_Lock);
    return guard ? m_dwHardwareId : 0;
}

uint16_t CDeviceParameter::GetBoardId(BoardSlot slot) const {
    CObjectLockGuard guard(m_Lock);
    return guard && slot < BOARD_COUNT ? m_wBoardIds[slot] : 0;
}
