// Result codes of the program and the mapping of USB library status numbers.
//
// A value with bit 29 set is a result code of the program; any other value
// is a system error number (or, where a caller says so, a string number).
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr uint32_t RC_FLAG = 0x20000000;

inline constexpr uint32_t RC_PORT_STATE_CHANGED = 0x20000001;
inline constexpr uint32_t RC_PORT_DATA_WRITTEN = 0x20000002;
inline constexpr uint32_t RC_PORT_TX_EMPTY = 0x20000003;
inline constexpr uint32_t RC_PORT_THREAD_TERMINATED = 0x20000004;
inline constexpr uint32_t RC_PORT_ERROR = 0x21000000;
inline constexpr uint32_t RC_PORT_SYSTEM_ERROR = 0x2F000000;
inline constexpr uint32_t RC_SEARCH_RUNNING = 0x20010000;
inline constexpr uint32_t RC_SEARCH_STEP = 0x20020000;
inline constexpr uint32_t RC_SEARCH_DATA_RECEIVED = 0x20030000;
inline constexpr uint32_t RC_SEARCH_TIMEOUT = 0x22000000;
inline constexpr uint32_t RC_SEARCH_ERROR = 0x23000000;
inline constexpr uint32_t RC_SEARCH_FINISHED = 0x20070000;
inline constexpr uint32_t RC_SEARCH_CANCELED = 0x200F0000;
inline constexpr uint32_t RC_UPDATE_DATA_RECEIVED = 0x20300000;
inline constexpr uint32_t RC_UPDATE_DATA_SENT = 0x20400000;
inline constexpr uint32_t RC_UPDATE_REPEAT = 0x20500000;
inline constexpr uint32_t RC_UPDATE_TIMEOUT = 0x24000000;
inline constexpr uint32_t RC_UPDATE_FINISHED = 0x20700000;
inline constexpr uint32_t RC_MONITOR_UPDATE_REQUIRED = 0x20E00000;
inline constexpr uint32_t RC_UPDATE_CANCELED = 0x20F00000;

inline constexpr bool IsResultCode(uint32_t value) { return (value & RC_FLAG) != 0; }

struct ResultCodeRow {
    const char* name;
    uint32_t code;
    uint32_t textId;     // German string number
    uint32_t discardable;  // 1 for routine events, 0 for failures and cancellations
};

// The 20 rows, in table order.
const ResultCodeRow* ResultCodeTable(size_t* count);

// Finds `code` in the table. Every row can be found, the first included.
// Returns false (outputs untouched) for a code that is not in the table.
bool LookupResultCode(uint32_t code, uint32_t* textId, uint32_t* discardable);

// Status number of the USB access library -> system error number.
uint32_t MapUsbStatus(uint32_t status);
