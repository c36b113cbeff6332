/* The D2XX-compatible interface of the KORVA USB library (korva_usb).
 *
 * The program loads this library at run time and binds these calls by name,
 * exactly as it would bind FTDI's own D2XX library; names, status numbers and
 * record layout follow D2XX. On Windows the calls are WINAPI (stdcall,
 * exported without decoration) as in FTDI's ftd2xx.dll, and
 * FT_SetEventNotification takes a Win32 event handle. Two differences on
 * Linux:
 *  - FT_SetEventNotification takes the eventfd of the caller's event as its
 *    parameter (cast to a pointer); the library writes to it when characters
 *    arrive.
 *  - FT_GetDeviceInfoList takes the count it is given as the capacity of the
 *    caller's array and never writes beyond it.
 * All calls may be made from any thread.
 */
#ifndef KORVA_USB_FTD2XX_H
#define KORVA_USB_FTD2XX_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32)
#define FTD2XX_API __declspec(dllexport)
#define FT_CALL __stdcall
#elif defined(__GNUC__)
#define FTD2XX_API __attribute__((visibility("default")))
#define FT_CALL
#else
#define FTD2XX_API
#define FT_CALL
#endif

#ifdef _WIN32
// The D2XX base types are the system's own there.
#include <windows.h>
#else
typedef uint32_t DWORD;
typedef uint32_t ULONG;
typedef uint8_t UCHAR;
typedef void* PVOID;
#endif
typedef void* FT_HANDLE;
typedef ULONG FT_STATUS;

enum {
    FT_OK = 0,
    FT_INVALID_HANDLE = 1,
    FT_DEVICE_NOT_FOUND = 2,
    FT_DEVICE_NOT_OPENED = 3,
    FT_IO_ERROR = 4,
    FT_INSUFFICIENT_RESOURCES = 5,
    FT_INVALID_PARAMETER = 6,
    FT_INVALID_BAUD_RATE = 7,
    FT_DEVICE_NOT_OPENED_FOR_ERASE = 8,
    FT_DEVICE_NOT_OPENED_FOR_WRITE = 9,
    FT_FAILED_TO_WRITE_DEVICE = 10,
    FT_EEPROM_READ_FAILED = 11,
    FT_EEPROM_WRITE_FAILED = 12,
    FT_EEPROM_ERASE_FAILED = 13,
    FT_EEPROM_NOT_PRESENT = 14,
    FT_EEPROM_NOT_PROGRAMMED = 15,
    FT_INVALID_ARGS = 16,
    FT_NOT_SUPPORTED = 17,
    FT_OTHER_ERROR = 18
};

#define FT_OPEN_BY_SERIAL_NUMBER 1
#define FT_OPEN_BY_DESCRIPTION 2
#define FT_EVENT_RXCHAR 1
#define FT_FLAGS_OPENED 1

typedef struct _ft_device_list_info_node {
    ULONG Flags;
    ULONG Type;
    ULONG ID;   /* vendor id << 16 | product id */
    DWORD LocId;
    char SerialNumber[16];
    char Description[64];
    FT_HANDLE ftHandle;
} FT_DEVICE_LIST_INFO_NODE;

FTD2XX_API FT_STATUS FT_CALL FT_CreateDeviceInfoList(DWORD* lpdwNumDevs);
FTD2XX_API FT_STATUS FT_CALL FT_GetDeviceInfoList(FT_DEVICE_LIST_INFO_NODE* pDest, DWORD* lpdwNumDevs);
FTD2XX_API FT_STATUS FT_CALL FT_OpenEx(PVOID pArg1, DWORD Flags, FT_HANDLE* pHandle);
FTD2XX_API FT_STATUS FT_CALL FT_Close(FT_HANDLE ftHandle);
FTD2XX_API FT_STATUS FT_CALL FT_SetLatencyTimer(FT_HANDLE ftHandle, UCHAR ucLatency);
FTD2XX_API FT_STATUS FT_CALL FT_SetEventNotification(FT_HANDLE ftHandle, DWORD Mask, PVOID Param);
FTD2XX_API FT_STATUS FT_CALL FT_GetQueueStatus(FT_HANDLE ftHandle, DWORD* dwRxBytes);
FTD2XX_API FT_STATUS FT_CALL FT_Read(FT_HANDLE ftHandle, PVOID lpBuffer, DWORD dwBytesToRead,
                                     DWORD* lpBytesReturned);
FTD2XX_API FT_STATUS FT_CALL FT_Write(FT_HANDLE ftHandle, PVOID lpBuffer, DWORD dwBytesToWrite,
                                      DWORD* lpBytesWritten);
FTD2XX_API FT_STATUS FT_CALL FT_GetLibraryVersion(DWORD* lpdwVersion);

/* Version information for the start-up log, standing in for a file version
 * resource: "OriginalFilename" and "FileVersion"; NULL for other keys. */
FTD2XX_API const char* KORVA_GetFileVersionInfo(const char* key);

/* Function pointer types for binding by name. */
typedef FT_STATUS(FT_CALL* PFN_FT_CreateDeviceInfoList)(DWORD*);
typedef FT_STATUS(FT_CALL* PFN_FT_GetDeviceInfoList)(FT_DEVICE_LIST_INFO_NODE*, DWORD*);
typedef FT_STATUS(FT_CALL* PFN_FT_OpenEx)(PVOID, DWORD, FT_HANDLE*);
typedef FT_STATUS(FT_CALL* PFN_FT_Close)(FT_HANDLE);
typedef FT_STATUS(FT_CALL* PFN_FT_SetLatencyTimer)(FT_HANDLE, UCHAR);
typedef FT_STATUS(FT_CALL* PFN_FT_SetEventNotification)(FT_HANDLE, DWORD, PVOID);
typedef FT_STATUS(FT_CALL* PFN_FT_GetQueueStatus)(FT_HANDLE, DWORD*);
typedef FT_STATUS(FT_CALL* PFN_FT_Read)(FT_HANDLE, PVOID, DWORD, DWORD*);
typedef FT_STATUS(FT_CALL* PFN_FT_Write)(FT_HANDLE, PVOID, DWORD, DWORD*);
typedef FT_STATUS(FT_CALL* PFN_FT_GetLibraryVersion)(DWORD*);
typedef const char* (*PFN_KORVA_GetFileVersionInfo)(const char*);

#ifdef __cplusplus
}
#endif

#endif
