#include "base/ResultCodes.h"

#include <iterator>

namespace {

// Failures and cancellations are not discardable: an entry with one of them
// keeps the run's log file.
constexpr ResultCodeRow kResultCodes[] = {
    {"RC_PORT_STATE_CHANGED", RC_PORT_STATE_CHANGED, 6232, 1},
    {"RC_PORT_DATA_WRITTEN", RC_PORT_DATA_WRITTEN, 6233, 1},
    {"RC_PORT_TX_EMPTY", RC_PORT_TX_EMPTY, 6234, 1},
    {"RC_PORT_THREAD_TERMINATED", RC_PORT_THREAD_TERMINATED, 6235, 0},
    {"RC_PORT_ERROR", RC_PORT_ERROR, 6265, 0},
    {"RC_PORT_SYSTEM_ERROR", RC_PORT_SYSTEM_ERROR, 6266, 0},
    {"RC_SEARCH_RUNNING", RC_SEARCH_RUNNING, 6236, 1},
    {"RC_SEARCH_STEP", RC_SEARCH_STEP, 6237, 1},
    {"RC_SEARCH_DATA_RECEIVED", RC_SEARCH_DATA_RECEIVED, 6238, 1},
    {"RC_SEARCH_TIMEOUT", RC_SEARCH_TIMEOUT, 6267, 0},
    {"RC_SEARCH_ERROR", RC_SEARCH_ERROR, 6268, 0},
    {"RC_SEARCH_FINISHED", RC_SEARCH_FINISHED, 6239, 1},
    {"RC_SEARCH_CANCELED", RC_SEARCH_CANCELED, 6240, 0},
    {"RC_UPDATE_DATA_RECEIVED", RC_UPDATE_DATA_RECEIVED, 6241, 1},
    {"RC_UPDATE_DATA_SENT", RC_UPDATE_DATA_SENT, 6242, 1},
    {"RC_UPDATE_REPEAT", RC_UPDATE_REPEAT, 6243, 1},
    {"RC_UPDATE_TIMEOUT", RC_UPDATE_TIMEOUT, 6269, 0},
    {"RC_UPDATE_FINISHED", RC_UPDATE_FINISHED, 6244, 1},
    {"RC_MONITOR_UPDATE_REQUIRED", RC_MONITOR_UPDATE_REQUIRED, 6270, 0},
    {"RC_UPDATE_CANCELED", RC_UPDATE_CANCELED, 6218, 0},
};
static_assert(std::size(kResultCodes) == 20);

}  // namespace

const ResultCodeRow* ResultCodeTable(size_t* count) {
    if (count != nullptr) *count = std::size(kResultCodes);
    return kResultCodes;
}

bool LookupResultCode(uint32_t code, uint32_t* textId, uint32_t* discardable) {
    for (const ResultCodeRow& row : kResultCodes) {
        if (row.code != code) continue;
        if (textId != nullptr) *textId = row.textId;
        if (discardable != nullptr) *discardable = row.discardable;
        return true;
    }
    return false;
}

uint32_t MapUsbStatus(uint32_t status) {
    // Status numbers of the D2XX interface, in its own order.
    switch (status) {
        case 0: return 0;      // FT_OK
        case 1: return 6;      // FT_INVALID_HANDLE -> ERROR_INVALID_HANDLE
        case 2: return 1167;   // FT_DEVICE_NOT_FOUND -> ERROR_DEVICE_NOT_CONNECTED
        case 3: return 110;    // FT_DEVICE_NOT_OPENED -> ERROR_OPEN_FAILED
        case 4: return 1117;   // FT_IO_ERROR -> ERROR_IO_DEVICE
        case 5: return 1450;   // FT_INSUFFICIENT_RESOURCES -> ERROR_NO_SYSTEM_RESOURCES
        case 6:                // FT_INVALID_PARAMETER
        case 7:                // FT_INVALID_BAUD_RATE
        case 16: return 87;    // FT_INVALID_ARGS -> ERROR_INVALID_PARAMETER
        case 8:                // FT_DEVICE_NOT_OPENED_FOR_ERASE
        case 9: return 21;     // FT_DEVICE_NOT_OPENED_FOR_WRITE -> ERROR_NOT_READY
        case 10:               // FT_FAILED_TO_WRITE_DEVICE
        case 12:               // FT_EEPROM_WRITE_FAILED
        case 13: return 29;    // FT_EEPROM_ERASE_FAILED -> ERROR_WRITE_FAULT
        case 11: return 30;    // FT_EEPROM_READ_FAILED -> ERROR_READ_FAULT
        case 14:               // FT_EEPROM_NOT_PRESENT
        case 15: return 1610;  // FT_EEPROM_NOT_PROGRAMMED -> ERROR_BAD_CONFIGURATION
        case 17: return 50;    // FT_NOT_SUPPORTED -> ERROR_NOT_SUPPORTED
        default: return 1208;  // FT_OTHER_ERROR and anything newer -> ERROR_EXTENDED_ERROR
    }
}
