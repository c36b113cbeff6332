// The USB library file: written from the program's embedded copy at start,
// loaded by the USB transport, deleted at the end.
//
// The current directory may be writable by others, so the file is created
// anew (a file left there is replaced), kept open, and loaded through that
// open descriptor: the library that runs is exactly the one written, even if
// the name is swapped afterwards. Without a written file nothing is loaded.
// On Windows the file goes into the user's private folder (%TEMP%\KORVA, as
// korva_usb_<process id>.dll, one per running copy)
// and is loaded by its full name, which the open file keeps from being
// replaced; without an embedded copy the driver's own ftd2xx.dll from the
// system directory is used, by full path, and never deleted.
// Thread: the main thread writes and deletes; LoadUsbLibrary from any thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "platform/SharedLibrary.h"
#include "resources/Resources.h"

inline constexpr char kUsbLibraryFileName[] = "korva_usb.__t";

// 1 only when the file was written completely.
extern std::atomic<int> g_bUsbDllCreated;

// Writes `source` (default: the embedded library, resource 6121) as
// "korva_usb.__t" in the current directory in one write and sets
// g_bUsbDllCreated when exactly all bytes were written. Returns the
// start-up log line describing the outcome, ending in "\r\n".
std::string WriteUsbLibraryFile(const EmbeddedFile* source = nullptr);

// Empty, or why the library that was written cannot be loaded (the file is
// then removed again and g_bUsbDllCreated is 0), for the user.
std::string UsbLibraryProblem();

// Loads the written library into `library` through the descriptor that wrote
// it. ERROR_MOD_NOT_FOUND when no file was written.
uint32_t LoadUsbLibrary(platform::SharedLibrary& library);

// Deletes the file if it was written and its name still names it; clears
// g_bUsbDllCreated.
void DeleteUsbLibraryFile();
