#include "transport/UsbLibraryFile.h"

#include <cstdio>
#include <mutex>

#include "base/Strings.h"
#include "platform/NewFile.h"
#include "platform/Paths.h"
#include "platform/SystemInfo.h"
#include "platform/SysError.h"
#include "usb/ftd2xx.h"

std::atomic<int> g_bUsbDllCreated{0};

namespace {

std::mutex g_fileMutex;      // guards everything below
platform::NewFile g_file;    // open while the written file is in use
std::string g_problem;       // why the written file cannot be loaded
std::string g_systemLibrary; // the driver's own library, when it is used instead
#ifdef _WIN32
// A DLL is loaded by name on Windows, so it is written into the user's
// private folder, never into a current directory others may write to.
platform::PrivateDirectory g_folder;
#endif

// FTDI's D2XX library as its driver installs it.
constexpr char kDriverLibraryName[] = "ftd2xx.dll";

std::string WritePath(uint32_t& error) {
#ifdef _WIN32
    if (!g_folder.IsOpen()) error = g_folder.OpenOrCreate(platform::TempDirectory() + "\\KORVA");
    if (error != 0) return {};
    // A name of its own for each running copy: another copy's file is open
    // and cannot be replaced.
    return g_folder.Path() + "\\korva_usb_" + std::to_string(platform::CurrentProcessId()) + ".dll";
#else
    error = 0;
    return kUsbLibraryFileName;
#endif
}

// The version line of a written library, standing in for its version
// resource: " - File: <name>     Version: <version>" as far as known.
// Empty with `problem` set when the library cannot be loaded.
std::string DescribeLibrary(std::string& problem) {
    platform::SharedLibrary library;
    if (LoadUsbLibrary(library) != 0) {
        problem = library.LastLoaderMessage();
        if (problem.empty()) problem = platform::SystemErrorText(platform::GetLastError(), GetUserLanguage());
        return {};
    }
    auto info = library.Bind<PFN_KORVA_GetFileVersionInfo>("KORVA_GetFileVersionInfo");
    if (info == nullptr) {
        // FTDI's library: its own version number, 0x00MMmmbb.
        auto version = library.Bind<PFN_FT_GetLibraryVersion>("FT_GetLibraryVersion");
        DWORD number = 0;
        if (version == nullptr || version(&number) != FT_OK) return {};
        char text[64];
        std::snprintf(text, sizeof text, " - File: %s     Version: %x.%02x.%02x", kDriverLibraryName,
                      unsigned(number >> 16 & 0xFF), unsigned(number >> 8 & 0xFF), unsigned(number & 0xFF));
        return text;
    }
    std::string text = " - ";
    if (const char* name = info("OriginalFilename")) text += std::string("File: ") + name + "     ";
    if (const char* version = info("FileVersion")) text += std::string("Version: ") + version;
    return text;
}

// Uses the library the driver installed at `path` (loaded by that full
// path only, never searched for). Missing or not loadable: USB is not
// available, and the start-up log says why.
std::string UseDriverLibrary(const std::string& path) {
    {
        std::lock_guard<std::mutex> lock(g_fileMutex);
        g_problem.clear();
        g_systemLibrary = path;
    }
    std::string problem;
    const std::string description = DescribeLibrary(problem);
    std::lock_guard<std::mutex> lock(g_fileMutex);
    if (problem.empty()) {
        g_bUsbDllCreated = 1;
        return "DLL for USB devices found: " + path + description + "\r\n";
    }
    g_systemLibrary.clear();
    g_problem = "FTDI's USB driver library " + path + " cannot be loaded (is the FTDI driver installed?): " + problem;
    return "DLL for USB devices not available - " + path + " - Error: " + problem + "\r\n";
}

}  // namespace

std::string WriteUsbLibraryFile(const EmbeddedFile* source) {
    EmbeddedFile embedded;
    uint32_t error = 0;
    const std::string driverLibrary = platform::SystemLibraryPath(kDriverLibraryName);
    if (source == nullptr && !driverLibrary.empty()) return UseDriverLibrary(driverLibrary);
    if (source == nullptr) {
        if (FindEmbeddedFile(IDR_USB_LIBRARY, embedded)) source = &embedded;
        else error = ERROR_RESOURCE_DATA_NOT_FOUND;
    }
    if (source != nullptr) {
        std::lock_guard<std::mutex> lock(g_fileMutex);
        g_problem.clear();
        g_systemLibrary.clear();
        const std::string path = WritePath(error);
        if (error == 0) error = g_file.CreateReplacing(path);
        if (error == 0) {
            size_t written = 0;
            error = g_file.Write(source->data, source->size, written);
            if (error == 0 && written == source->size) error = g_file.FinishWriting();
            if (error == 0 && written == source->size) {
                g_bUsbDllCreated = 1;
            } else {
                if (error == 0) error = ERROR_WRITE_FAULT;  // short write: the file is unusable
                g_file.Remove();
                g_file.Close();
            }
        }
    }
    if (g_bUsbDllCreated) {
        std::string problem;
        const std::string description = DescribeLibrary(problem);
        if (problem.empty()) return "DLL for USB devices generated" + description + "\r\n";
        // Written but not loadable (a current directory mounted noexec):
        // USB is not available, and the user is told why.
        DeleteUsbLibraryFile();
        std::lock_guard<std::mutex> lock(g_fileMutex);
        g_problem = "the USB library " + std::string(kUsbLibraryFileName) +
                    " was written into the current directory but cannot be loaded: " + problem;
        return "DLL for USB devices generated but not loadable - Error: " + problem + "\r\n";
    }
    return "DLL for USB devices not generated - Error: " + platform::SystemErrorText(error, GetUserLanguage()) +
           "\r\n";
}

std::string UsbLibraryProblem() {
    std::lock_guard<std::mutex> lock(g_fileMutex);
    return g_problem;
}

uint32_t LoadUsbLibrary(platform::SharedLibrary& library) {
    std::lock_guard<std::mutex> lock(g_fileMutex);
    if (!g_systemLibrary.empty()) return library.Load(g_systemLibrary);
    if (!g_bUsbDllCreated || !g_file.IsOpen()) {
        platform::SetLastError(ERROR_MOD_NOT_FOUND);
        return ERROR_MOD_NOT_FOUND;
    }
    return library.LoadFromFile(g_file.Handle());
}

void DeleteUsbLibraryFile() {
    std::lock_guard<std::mutex> lock(g_fileMutex);
    // The driver's library is never ours to delete.
    if (g_bUsbDllCreated && g_systemLibrary.empty()) g_file.Remove();
    g_file.Close();
    g_systemLibrary.clear();
    g_bUsbDllCreated = 0;
#ifdef _WIN32
    g_folder.Close();
#endif
}
