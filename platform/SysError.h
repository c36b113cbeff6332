// System error numbers of the program and their texts.
//
// The program speaks Windows error numbers everywhere (they are what its log
// files and messages have always carried), so this layer translates errno
// into them and owns the texts for every number in English and German.
// All functions are callable from any thread.
#pragma once

#include <cstdint>
#include <string>

inline constexpr uint32_t ERROR_SUCCESS = 0;
inline constexpr uint32_t ERROR_INVALID_FUNCTION = 1;
inline constexpr uint32_t ERROR_FILE_NOT_FOUND = 2;
inline constexpr uint32_t ERROR_PATH_NOT_FOUND = 3;
inline constexpr uint32_t ERROR_TOO_MANY_OPEN_FILES = 4;
inline constexpr uint32_t ERROR_ACCESS_DENIED = 5;
inline constexpr uint32_t ERROR_INVALID_HANDLE = 6;
inline constexpr uint32_t ERROR_NOT_ENOUGH_MEMORY = 8;
inline constexpr uint32_t ERROR_INVALID_DATA = 13;
inline constexpr uint32_t ERROR_OUTOFMEMORY = 14;
inline constexpr uint32_t ERROR_WRITE_PROTECT = 19;
inline constexpr uint32_t ERROR_NOT_READY = 21;
inline constexpr uint32_t ERROR_BAD_LENGTH = 24;
inline constexpr uint32_t ERROR_WRITE_FAULT = 29;
inline constexpr uint32_t ERROR_READ_FAULT = 30;
inline constexpr uint32_t ERROR_GEN_FAILURE = 31;
inline constexpr uint32_t ERROR_SHARING_VIOLATION = 32;
inline constexpr uint32_t ERROR_HANDLE_EOF = 38;
inline constexpr uint32_t ERROR_HANDLE_DISK_FULL = 39;
inline constexpr uint32_t ERROR_NOT_SUPPORTED = 50;
inline constexpr uint32_t ERROR_DEV_NOT_EXIST = 55;
inline constexpr uint32_t ERROR_FILE_EXISTS = 80;
inline constexpr uint32_t ERROR_INVALID_PARAMETER = 87;
inline constexpr uint32_t ERROR_BROKEN_PIPE = 109;
inline constexpr uint32_t ERROR_OPEN_FAILED = 110;
inline constexpr uint32_t ERROR_DISK_FULL = 112;
inline constexpr uint32_t ERROR_INSUFFICIENT_BUFFER = 122;
inline constexpr uint32_t ERROR_MOD_NOT_FOUND = 126;
inline constexpr uint32_t ERROR_PROC_NOT_FOUND = 127;
inline constexpr uint32_t ERROR_ALREADY_EXISTS = 183;
inline constexpr uint32_t ERROR_FILENAME_EXCED_RANGE = 206;
inline constexpr uint32_t ERROR_BAD_EXE_FORMAT = 193;
inline constexpr uint32_t ERROR_DIR_NOT_EMPTY = 145;
inline constexpr uint32_t ERROR_BUSY = 170;
inline constexpr uint32_t ERROR_WAIT_TIMEOUT = 258;  // WAIT_TIMEOUT
inline constexpr uint32_t ERROR_OPERATION_ABORTED = 995;
inline constexpr uint32_t ERROR_IO_INCOMPLETE = 996;
inline constexpr uint32_t ERROR_IO_PENDING = 997;
inline constexpr uint32_t ERROR_NOACCESS = 998;
inline constexpr uint32_t ERROR_IO_DEVICE = 1117;
inline constexpr uint32_t ERROR_DEVICE_NOT_CONNECTED = 1167;
inline constexpr uint32_t ERROR_NOT_FOUND = 1168;
inline constexpr uint32_t ERROR_CONNECTION_REFUSED = 1225;
inline constexpr uint32_t ERROR_NO_SYSTEM_RESOURCES = 1450;
inline constexpr uint32_t ERROR_TIMEOUT = 1460;
inline constexpr uint32_t ERROR_BAD_CONFIGURATION = 1610;
inline constexpr uint32_t ERROR_INVALID_USER_BUFFER = 1784;
inline constexpr uint32_t ERROR_NOT_CONNECTED = 2250;
inline constexpr uint32_t ERROR_OLD_WIN_VERSION = 1150;
inline constexpr uint32_t ERROR_CANTOPEN = 1011;
inline constexpr uint32_t ERROR_CANT_RESOLVE_FILENAME = 1921;
inline constexpr uint32_t ERROR_INTERNAL_ERROR = 1359;
inline constexpr uint32_t ERROR_NO_MORE_ITEMS = 259;
inline constexpr uint32_t ERROR_SEM_TIMEOUT = 121;
inline constexpr uint32_t ERROR_BAD_UNIT = 20;
inline constexpr uint32_t ERROR_CRC = 23;
inline constexpr uint32_t ERROR_COUNTER_TIMEOUT = 1121;
inline constexpr uint32_t ERROR_MORE_DATA = 234;
inline constexpr uint32_t ERROR_INVALID_NAME = 123;
inline constexpr uint32_t ERROR_DIRECTORY = 267;
inline constexpr uint32_t ERROR_NOT_OWNER = 288;
inline constexpr uint32_t ERROR_INVALID_FLAGS = 1004;
inline constexpr uint32_t ERROR_UNRECOGNIZED_MEDIA = 1785;
inline constexpr uint32_t ERROR_DLL_INIT_FAILED = 1114;
inline constexpr uint32_t ERROR_INVALID_OPERATION = 4317;
inline constexpr uint32_t ERROR_NETWORK_UNREACHABLE = 1231;
inline constexpr uint32_t ERROR_HOST_UNREACHABLE = 1232;
inline constexpr uint32_t ERROR_RESOURCE_NAME_NOT_FOUND = 1814;
inline constexpr uint32_t ERROR_RESOURCE_DATA_NOT_FOUND = 1812;

// Language identifiers as the program uses them (primary language ids).
inline constexpr uint16_t LANG_GERMAN = 0x07;
inline constexpr uint16_t LANG_ENGLISH = 0x09;

namespace platform {

// Maps an errno value to the program's error number. EINVAL becomes 87,
// ENOENT 2, EACCES/EPERM/EBUSY 5, EIO 1117, ENODEV/ENXIO 55 and so on;
// a value without a closer match becomes ERROR_GEN_FAILURE (31).
uint32_t ErrorFromErrno(int err);

// Per-thread "last error", as the program's callers expect after a failed
// platform call. Every failing function of this layer sets it.
uint32_t GetLastError();
void SetLastError(uint32_t code);
// Sets the last error from errno and returns it.
uint32_t SetLastErrorFromErrno();

// The text for an error number in German (LANG_GERMAN) or English (any other
// language id). Never fails: a number without a text of its own gets a
// generic text that names it. The text carries no line end.
std::string SystemErrorText(uint32_t code, uint16_t languageId);

}  // namespace platform
