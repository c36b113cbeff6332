#include "transport/UsbLibraryFile.h"

#include <mutex>

#include "base/Strings.h"
#include "platform/NewFile.h"
#include "platform/SysError.h"
#include "usb/ftd2xx.h"

std::atomic<int> g_bUsbDllCreated{0};

namespace {

std::mutex g_fileMutex;      // guards g_file and g_problem
platform::NewFile g_file;    // open while the written file is in use
std::string g_problem;       // why the written file cannot be loaded

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
    if (info == nullptr) return {};
    std::string text = " - ";
    if (const char* name = info("OriginalFilename")) text += std::string("File: ") + name + "     ";
    if (const char* version = info("FileVersion")) text += std::string("Version: ") + version;
    return text;
}

}  // namespace

std::string WriteUsbLibraryFile(const EmbeddedFile* source) {
    EmbeddedFile embedded;
    uint32_t error = 0;
    if (source == nullptr) {
        if (FindEmbeddedFile(IDR_USB_LIBRARY, embedded)) source = &embedded;
        else error = ERROR_RESOURCE_DATA_NOT_FOUND;
    }
    if (source != nullptr) {
        std::lock_guard<std::mutex> lock(g_fileMutex);
        g_problem.clear();
        error = g_file.CreateReplacing(kUsbLibraryFileName);
        if (error == 0) {
            size_t written = 0;
            error = g_file.Write(source->data, source->size, written);
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
    if (!g_bUsbDllCreated || !g_file.IsOpen()) {
        platform::SetLastError(ERROR_MOD_NOT_FOUND);
        return ERROR_MOD_NOT_FOUND;
    }
    return library.LoadFromFile(g_file.Handle());
}

void DeleteUsbLibraryFile() {
    std::lock_guard<std::mutex> lock(g_fileMutex);
    if (g_bUsbDllCreated) g_file.Remove();
    g_file.Close();
    g_bUsbDllCreated = 0;
}
