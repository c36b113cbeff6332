#include "platform/SysError.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <iterator>

#ifdef _WIN32
#include "platform/win32/SystemMessage.h"
#endif

namespace platform {

namespace {

thread_local uint32_t t_lastError = ERROR_SUCCESS;

struct ErrorText {
    uint32_t code;
    const char* english;
    const char* german;
};

// The texts are the ones the program's users know from its Windows years, so
// log files and messages read the same on both systems. Where the original
// text carries an insert ("%1") that nobody here fills, the insert is
// replaced by a neutral subject. Sorted by number (checked below).
constexpr ErrorText kTexts[] = {
    {ERROR_SUCCESS, "The operation completed successfully.",
     "Der Vorgang wurde erfolgreich beendet."},
    {ERROR_INVALID_FUNCTION, "Incorrect function.", "Unzulässige Funktion."},
    {ERROR_FILE_NOT_FOUND, "The system cannot find the file specified.",
     "Das System kann die angegebene Datei nicht finden."},
    {ERROR_PATH_NOT_FOUND, "The system cannot find the path specified.",
     "Das System kann den angegebenen Pfad nicht finden."},
    {ERROR_TOO_MANY_OPEN_FILES, "The system cannot open the file.",
     "Das System kann die Datei nicht öffnen."},
    {ERROR_ACCESS_DENIED, "Access is denied.", "Zugriff verweigert."},
    {ERROR_INVALID_HANDLE, "The handle is invalid.", "Das Handle ist ungültig."},
    {ERROR_NOT_ENOUGH_MEMORY, "Not enough memory resources are available to process this command.",
     "Nicht genügend Speicherressourcen, um diesen Befehl zu verarbeiten."},
    {ERROR_INVALID_DATA, "The data is invalid.", "Die Daten sind unzulässig."},
    {ERROR_OUTOFMEMORY, "Not enough memory resources are available to complete this operation.",
     "Nicht genügend Speicherressourcen, um diesen Vorgang abzuschließen."},
    {ERROR_WRITE_PROTECT, "The media is write protected.", "Der Datenträger ist schreibgeschützt."},
    {ERROR_BAD_UNIT, "The system cannot find the device specified.",
     "Das angegebene Gerät kann nicht gefunden werden."},
    {ERROR_NOT_READY, "The device is not ready.", "Das Gerät ist nicht bereit."},
    {ERROR_CRC, "Data error (cyclic redundancy check).", "Datenfehler (CRC-Prüfung)."},
    {ERROR_BAD_LENGTH, "The program issued a command but the command length is incorrect.",
     "Das Programm hat einen Befehl ausgegeben, aber die Befehlslänge ist falsch."},
    {ERROR_WRITE_FAULT, "The system cannot write to the specified device.",
     "Das System kann nicht auf das angegebene Gerät schreiben."},
    {ERROR_READ_FAULT, "The system cannot read from the specified device.",
     "Das System kann nicht von dem angegebenen Gerät lesen."},
    {ERROR_GEN_FAILURE, "A device attached to the system is not functioning.",
     "Ein an das System angeschlossenes Gerät funktioniert nicht."},
    {ERROR_SHARING_VIOLATION,
     "The process cannot access the file because it is being used by another process.",
     "Der Prozess kann nicht auf die Datei zugreifen, da sie von einem anderen Prozess verwendet "
     "wird."},
    {ERROR_HANDLE_EOF, "Reached the end of the file.", "Das Dateiende wurde erreicht."},
    {ERROR_HANDLE_DISK_FULL, "The disk is full.", "Der Datenträger ist voll."},
    {ERROR_NOT_SUPPORTED, "The request is not supported.",
     "Die Anforderung wird nicht unterstützt."},
    {ERROR_DEV_NOT_EXIST, "The specified network resource or device is no longer available.",
     "Die angegebene Netzwerkressource bzw. das angegebene Gerät ist nicht mehr verfügbar."},
    {ERROR_FILE_EXISTS, "The file exists.", "Die Datei ist vorhanden."},
    {ERROR_INVALID_PARAMETER, "The parameter is incorrect.", "Falscher Parameter."},
    {ERROR_BROKEN_PIPE, "The pipe has been ended.", "Die Pipe wurde beendet."},
    {ERROR_OPEN_FAILED, "The system cannot open the device or file specified.",
     "Das System kann das angegebene Gerät bzw. die angegebene Datei nicht öffnen."},
    {ERROR_DISK_FULL, "There is not enough space on the disk.",
     "Auf dem Datenträger ist nicht genügend Speicherplatz vorhanden."},
    {ERROR_SEM_TIMEOUT, "The semaphore timeout period has expired.",
     "Das Zeitlimit für die Semaphore wurde erreicht."},
    {ERROR_INSUFFICIENT_BUFFER, "The data area passed to a system call is too small.",
     "Der an einen Systemaufruf übergebene Datenbereich ist zu klein."},
    {ERROR_INVALID_NAME, "The filename, directory name, or volume label syntax is incorrect.",
     "Die Syntax für den Dateinamen, Verzeichnisnamen oder die Datenträgerbezeichnung ist falsch."},
    {ERROR_MOD_NOT_FOUND, "The specified module could not be found.",
     "Das angegebene Modul wurde nicht gefunden."},
    {ERROR_PROC_NOT_FOUND, "The specified procedure could not be found.",
     "Die angegebene Prozedur wurde nicht gefunden."},
    {ERROR_DIR_NOT_EMPTY, "The directory is not empty.", "Das Verzeichnis ist nicht leer."},
    {ERROR_BUSY, "The requested resource is in use.",
     "Die angeforderte Ressource wird bereits verwendet."},
    {ERROR_ALREADY_EXISTS, "Cannot create a file when that file already exists.",
     "Eine Datei kann nicht erstellt werden, wenn sie bereits vorhanden ist."},
    {ERROR_BAD_EXE_FORMAT, "The file is not a valid application or library.",
     "Die Datei ist keine zulässige Anwendung oder Bibliothek."},
    {ERROR_FILENAME_EXCED_RANGE, "The filename or extension is too long.",
     "Der Dateiname oder die Erweiterung ist zu lang."},
    {ERROR_MORE_DATA, "More data is available.", "Weitere Daten sind verfügbar."},
    {ERROR_WAIT_TIMEOUT, "The wait operation timed out.",
     "Das Zeitlimit für den Wartevorgang wurde überschritten."},
    {ERROR_NO_MORE_ITEMS, "No more data is available.", "Es sind keine weiteren Daten vorhanden."},
    {ERROR_DIRECTORY, "The directory name is invalid.", "Der Verzeichnisname ist ungültig."},
    {ERROR_NOT_OWNER, "Attempt to release mutex not owned by caller.",
     "Es wurde versucht, einen Mutex freizugeben, der nicht im Besitz des Aufrufers ist."},
    {ERROR_OPERATION_ABORTED,
     "The I/O operation has been aborted because of either a thread exit or an application "
     "request.",
     "Der E/A-Vorgang wurde wegen eines Threadendes oder einer Anwendungsanforderung "
     "abgebrochen."},
    {ERROR_IO_INCOMPLETE, "Overlapped I/O event is not in a signaled state.",
     "Das überlappende E/A-Ereignis befindet sich nicht im signalisierten Zustand."},
    {ERROR_IO_PENDING, "Overlapped I/O operation is in progress.",
     "Überlappender E/A-Vorgang wird verarbeitet."},
    {ERROR_NOACCESS, "Invalid access to memory location.",
     "Unzulässiger Zugriff auf einen Speicherbereich."},
    {ERROR_INVALID_FLAGS, "Invalid flags.", "Ungültige Kennzeichen."},
    {ERROR_CANTOPEN, "The configuration registry key could not be opened.",
     "Der Konfigurationsregistrierungsschlüssel konnte nicht geöffnet werden."},
    {ERROR_DLL_INIT_FAILED, "A dynamic link library (DLL) initialization routine failed.",
     "Eine DLL-Initialisierungsroutine ist fehlgeschlagen."},
    {ERROR_IO_DEVICE, "The request could not be performed because of an I/O device error.",
     "Die Anforderung konnte wegen eines E/A-Gerätefehlers nicht ausgeführt werden."},
    {ERROR_COUNTER_TIMEOUT, "A serial I/O operation completed because the timeout period expired.",
     "Ein serieller E/A-Vorgang wurde abgeschlossen, da das Zeitlimit überschritten wurde."},
    {ERROR_OLD_WIN_VERSION, "The specified program requires a newer version of the system.",
     "Für das angegebene Programm ist eine neuere Version des Systems erforderlich."},
    {ERROR_DEVICE_NOT_CONNECTED, "The device is not connected.",
     "Das Gerät ist nicht angeschlossen."},
    {ERROR_NOT_FOUND, "Element not found.", "Element nicht gefunden."},
    // 1208 ERROR_EXTENDED_ERROR: what USB library states without a closer
    // match become, so it needs a text although no caller names it here.
    {1208, "An extended error has occurred.", "Ein erweiterter Fehler ist aufgetreten."},
    {ERROR_CONNECTION_REFUSED, "The remote computer refused the network connection.",
     "Der Remotecomputer hat die Netzwerkverbindung abgelehnt."},
    {ERROR_NETWORK_UNREACHABLE, "The network location cannot be reached.",
     "Der Netzwerkstandort kann nicht erreicht werden."},
    {ERROR_HOST_UNREACHABLE, "The remote system cannot be reached.",
     "Das Remotesystem kann nicht erreicht werden."},
    {ERROR_INTERNAL_ERROR, "An internal error occurred.", "Interner Fehler."},
    {ERROR_NO_SYSTEM_RESOURCES,
     "Insufficient system resources exist to complete the requested service.",
     "Nicht genügend Systemressourcen, um den angeforderten Dienst auszuführen."},
    {ERROR_TIMEOUT, "This operation returned because the timeout period expired.",
     "Dieser Vorgang wurde wegen Zeitüberschreitung zurückgegeben."},
    {ERROR_BAD_CONFIGURATION,
     "The configuration data for this product is corrupt. Contact your support personnel.",
     "Die Konfigurationsdaten für dieses Produkt sind beschädigt. Wenden Sie sich an den "
     "Support."},
    {ERROR_INVALID_USER_BUFFER,
     "The supplied user buffer is not valid for the requested operation.",
     "Der angegebene Benutzerpuffer ist für den angeforderten Vorgang nicht zulässig."},
    {ERROR_UNRECOGNIZED_MEDIA, "The disk media is not recognized. It may not be formatted.",
     "Das Datenträgermedium wurde nicht erkannt. Möglicherweise ist es nicht formatiert."},
    {ERROR_RESOURCE_DATA_NOT_FOUND, "The specified image file did not contain a resource section.",
     "Die angegebene Imagedatei enthält keinen Ressourcenabschnitt."},
    {ERROR_RESOURCE_NAME_NOT_FOUND,
     "The specified resource name cannot be found in the image file.",
     "Der angegebene Ressourcenname wurde in der Imagedatei nicht gefunden."},
    {ERROR_CANT_RESOLVE_FILENAME, "The name of the file cannot be resolved by the system.",
     "Der Name der Datei kann vom System nicht aufgelöst werden."},
    {ERROR_NOT_CONNECTED, "This network connection does not exist.",
     "Diese Netzwerkverbindung ist nicht vorhanden."},
    {ERROR_INVALID_OPERATION, "The operation identifier is not valid.",
     "Die Vorgangskennung ist ungültig."},
};

constexpr bool IsStrictlySorted() {
    for (size_t i = 1; i < std::size(kTexts); ++i) {
        if (kTexts[i - 1].code >= kTexts[i].code) return false;
    }
    return true;
}
static_assert(IsStrictlySorted(), "kTexts must be sorted by number without duplicates");

const ErrorText* FindText(uint32_t code) {
    const auto* end = std::end(kTexts);
    const auto* it = std::lower_bound(std::begin(kTexts), end, code,
                                      [](const ErrorText& e, uint32_t c) { return e.code < c; });
    return (it != end && it->code == code) ? it : nullptr;
}

}  // namespace

uint32_t ErrorFromErrno(int err) {
    switch (err) {
        case 0:
            return ERROR_SUCCESS;
        case ENOENT:
            return ERROR_FILE_NOT_FOUND;
        case ENOTDIR:
            return ERROR_PATH_NOT_FOUND;
        case EMFILE:
        case ENFILE:
            return ERROR_TOO_MANY_OPEN_FILES;
        case EACCES:
        case EPERM:
        case EBUSY:
        case ETXTBSY:
        case EISDIR:
            return ERROR_ACCESS_DENIED;  // opening a directory as a file
        case EBADF:
            return ERROR_INVALID_HANDLE;
        case ENOMEM:
            return ERROR_NOT_ENOUGH_MEMORY;
        case ENOBUFS:
        case ENOLCK:
            return ERROR_NO_SYSTEM_RESOURCES;
        case EFAULT:
            return ERROR_NOACCESS;
        case EILSEQ:
        case EBADMSG:
            return ERROR_INVALID_DATA;
        case EROFS:
            return ERROR_WRITE_PROTECT;
#ifdef ENOMEDIUM  // Linux only, as are the other guarded numbers
        case ENOMEDIUM:
            return ERROR_NOT_READY;
        case EMEDIUMTYPE:
            return ERROR_UNRECOGNIZED_MEDIA;
#endif
        case EEXIST:
            return ERROR_FILE_EXISTS;
        case ENOTEMPTY:
            return ERROR_DIR_NOT_EMPTY;
        case EINVAL:
        case E2BIG:
            return ERROR_INVALID_PARAMETER;
        case ERANGE:
            return ERROR_INSUFFICIENT_BUFFER;
        case EMSGSIZE:
            return ERROR_MORE_DATA;
        case EPIPE:
        case ECONNRESET:
        case ECONNABORTED:
            return ERROR_BROKEN_PIPE;
        case ENOSPC:
        case EFBIG:
#ifdef EDQUOT
        case EDQUOT:
#endif
            return ERROR_DISK_FULL;
        case ENAMETOOLONG:
            return ERROR_FILENAME_EXCED_RANGE;
        case EIO:
            return ERROR_IO_DEVICE;
        case ENODEV:
        case ENXIO:
            return ERROR_DEV_NOT_EXIST;
        case ETIMEDOUT:
        case ETIME:
            return ERROR_TIMEOUT;
        case ECANCELED:
        case EINTR:
            return ERROR_OPERATION_ABORTED;
        // "Try again" means the object is busy right now; ERROR_IO_PENDING
        // would promise a completion that never comes.
        case EAGAIN:
#if EWOULDBLOCK != EAGAIN
        case EWOULDBLOCK:
#endif
            return ERROR_BUSY;
        case ENOTTY:
            return ERROR_INVALID_FUNCTION;  // an ioctl the device does not know
        case ENOSYS:
        case EOPNOTSUPP:
#if ENOTSUP != EOPNOTSUPP
        case ENOTSUP:
#endif
            return ERROR_NOT_SUPPORTED;
        case ELOOP:
            return ERROR_CANT_RESOLVE_FILENAME;
        case ECONNREFUSED:
            return ERROR_CONNECTION_REFUSED;
        case ENETUNREACH:
        case ENETDOWN:
            return ERROR_NETWORK_UNREACHABLE;
        case EHOSTUNREACH:
#ifdef EHOSTDOWN
        case EHOSTDOWN:
#endif
            return ERROR_HOST_UNREACHABLE;
        case ENOTCONN:
            return ERROR_NOT_CONNECTED;
        case ENOEXEC:
#ifdef ELIBBAD
        case ELIBBAD:
#endif
            return ERROR_BAD_EXE_FORMAT;
        default:
            return ERROR_GEN_FAILURE;
    }
}

uint32_t GetLastError() {
    return t_lastError;
}

void SetLastError(uint32_t code) {
    t_lastError = code;
}

uint32_t SetLastErrorFromErrno() {
    const uint32_t code = ErrorFromErrno(errno);
    t_lastError = code;
    return code;
}

std::string SystemErrorText(uint32_t code, uint16_t languageId) {
    const bool german = languageId == LANG_GERMAN;
    if (const ErrorText* e = FindText(code)) return german ? e->german : e->english;
#ifdef _WIN32
    if (std::string text = win32::SystemMessageText(code, languageId); !text.empty()) return text;
#endif
    char buffer[48];
    std::snprintf(buffer, sizeof buffer,
                  german ? "Unbekannter Fehler 0x%08X." : "Unknown error 0x%08X.",
                  static_cast<unsigned>(code));
    return buffer;
}

}  // namespace platform
