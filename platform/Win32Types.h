// The Win32 vocabulary the program speaks: error numbers, language ids, the
// comm structures and their flag bits, and the message parameter types.
//
// The program has always used Windows' names and numbers for these (its log
// files and messages carry them), so on Windows they are the system's own
// definitions; elsewhere this header defines the same names with the same
// values and layouts. Windows' macros are `long` or `DWORD` where these are
// uint32_t: code that deduces a type from one of them (std::min, auto)
// names the type it wants.
#pragma once

#include <cstdint>

#ifdef _WIN32

#include <windows.h>

// Windows names this one WAIT_TIMEOUT; the program's texts know it by this name.
inline constexpr uint32_t ERROR_WAIT_TIMEOUT = WAIT_TIMEOUT;

#else

// --- error numbers ---
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
inline constexpr uint32_t ERROR_BAD_DEV_TYPE = 66;
inline constexpr uint32_t ERROR_FILE_EXISTS = 80;
inline constexpr uint32_t ERROR_ALREADY_ASSIGNED = 85;
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

// Line errors (ClearCommError).
inline constexpr uint32_t CE_RXOVER = 0x0001;
inline constexpr uint32_t CE_OVERRUN = 0x0002;
inline constexpr uint32_t CE_RXPARITY = 0x0004;
inline constexpr uint32_t CE_FRAME = 0x0008;
inline constexpr uint32_t CE_BREAK = 0x0010;
inline constexpr uint32_t CE_TXFULL = 0x0100;
inline constexpr uint32_t CE_IOE = 0x0400;
inline constexpr uint32_t CE_MODE = 0x8000;

// Comm events (SetCommMask / WaitCommEvent).
inline constexpr uint32_t EV_RXCHAR = 0x0001;
inline constexpr uint32_t EV_RXFLAG = 0x0002;
inline constexpr uint32_t EV_TXEMPTY = 0x0004;
inline constexpr uint32_t EV_CTS = 0x0008;
inline constexpr uint32_t EV_DSR = 0x0010;
inline constexpr uint32_t EV_RLSD = 0x0020;
inline constexpr uint32_t EV_BREAK = 0x0040;
inline constexpr uint32_t EV_ERR = 0x0080;
inline constexpr uint32_t EV_RING = 0x0100;

// Modem status (GetCommModemStatus).
inline constexpr uint32_t MS_CTS_ON = 0x0010;
inline constexpr uint32_t MS_DSR_ON = 0x0020;
inline constexpr uint32_t MS_RING_ON = 0x0040;
inline constexpr uint32_t MS_RLSD_ON = 0x0080;

// PurgeComm flags.
inline constexpr uint32_t PURGE_TXABORT = 0x0001;
inline constexpr uint32_t PURGE_RXABORT = 0x0002;
inline constexpr uint32_t PURGE_TXCLEAR = 0x0004;
inline constexpr uint32_t PURGE_RXCLEAR = 0x0008;

// DCB values.
inline constexpr uint8_t NOPARITY = 0;
inline constexpr uint8_t ODDPARITY = 1;
inline constexpr uint8_t EVENPARITY = 2;
inline constexpr uint8_t MARKPARITY = 3;
inline constexpr uint8_t SPACEPARITY = 4;
inline constexpr uint8_t ONESTOPBIT = 0;
inline constexpr uint8_t ONE5STOPBITS = 1;
inline constexpr uint8_t TWOSTOPBITS = 2;
inline constexpr uint32_t DTR_CONTROL_DISABLE = 0;
inline constexpr uint32_t DTR_CONTROL_ENABLE = 1;
inline constexpr uint32_t DTR_CONTROL_HANDSHAKE = 2;
inline constexpr uint32_t RTS_CONTROL_DISABLE = 0;
inline constexpr uint32_t RTS_CONTROL_ENABLE = 1;
inline constexpr uint32_t RTS_CONTROL_HANDSHAKE = 2;
inline constexpr uint32_t RTS_CONTROL_TOGGLE = 3;
inline constexpr uint32_t MAXDWORD = 0xFFFFFFFF;

// The device control block: the wanted line settings (28 bytes, as the
// program has always kept it).
struct DCB {
    uint32_t DCBlength = sizeof(DCB);
    uint32_t BaudRate = 0;
    uint32_t fBinary : 1;
    uint32_t fParity : 1;
    uint32_t fOutxCtsFlow : 1;
    uint32_t fOutxDsrFlow : 1;
    uint32_t fDtrControl : 2;
    uint32_t fDsrSensitivity : 1;
    uint32_t fTXContinueOnXoff : 1;
    uint32_t fOutX : 1;
    uint32_t fInX : 1;
    uint32_t fErrorChar : 1;
    uint32_t fNull : 1;
    uint32_t fRtsControl : 2;
    uint32_t fAbortOnError : 1;
    uint32_t fDummy2 : 17;
    uint16_t wReserved = 0;
    uint16_t XonLim = 0;
    uint16_t XoffLim = 0;
    uint8_t ByteSize = 0;
    uint8_t Parity = 0;
    uint8_t StopBits = 0;
    char XonChar = 0;
    char XoffChar = 0;
    char ErrorChar = 0;
    char EofChar = 0;
    char EvtChar = 0;
    uint16_t wReserved1 = 0;

    DCB()
        : fBinary(0), fParity(0), fOutxCtsFlow(0), fOutxDsrFlow(0), fDtrControl(0),
          fDsrSensitivity(0), fTXContinueOnXoff(0), fOutX(0), fInX(0), fErrorChar(0), fNull(0),
          fRtsControl(0), fAbortOnError(0), fDummy2(0) {}
};
static_assert(sizeof(DCB) == 28, "DCB keeps its 28-byte layout");

// Port state of ClearCommError.
struct COMSTAT {
    uint32_t fCtsHold : 1;
    uint32_t fDsrHold : 1;
    uint32_t fRlsdHold : 1;
    uint32_t fXoffHold : 1;
    uint32_t fXoffSent : 1;
    uint32_t fEof : 1;
    uint32_t fTxim : 1;
    uint32_t fReserved : 25;
    uint32_t cbInQue = 0;
    uint32_t cbOutQue = 0;

    COMSTAT()
        : fCtsHold(0), fDsrHold(0), fRlsdHold(0), fXoffHold(0), fXoffSent(0), fEof(0), fTxim(0),
          fReserved(0) {}
};

// Port properties (the fields this program reads; the rest stay 0).
struct COMMPROP {
    uint16_t wPacketLength = 0;
    uint16_t wPacketVersion = 0;
    uint32_t dwServiceMask = 0;
    uint32_t dwReserved1 = 0;
    uint32_t dwMaxTxQueue = 0;  // 0: no maximum
    uint32_t dwMaxRxQueue = 0;
    uint32_t dwMaxBaud = 0;
    uint32_t dwProvSubType = 0;
    uint32_t dwProvCapabilities = 0;
    uint32_t dwSettableParams = 0;
    uint32_t dwSettableBaud = 0;
    uint16_t wSettableData = 0;
    uint16_t wSettableStopParity = 0;
    uint32_t dwCurrentTxQueue = 0;
    uint32_t dwCurrentRxQueue = 0;
    uint32_t dwProvSpec1 = 0;
    uint32_t dwProvSpec2 = 0;
    wchar_t wcProvChar[1] = {};
};

struct COMMTIMEOUTS {
    uint32_t ReadIntervalTimeout = 0;
    uint32_t ReadTotalTimeoutMultiplier = 0;
    uint32_t ReadTotalTimeoutConstant = 0;
    uint32_t WriteTotalTimeoutMultiplier = 0;
    uint32_t WriteTotalTimeoutConstant = 0;
};

// --- message parameters ---
using WPARAM = uintptr_t;
using LPARAM = intptr_t;
using LRESULT = intptr_t;

#endif  // _WIN32
