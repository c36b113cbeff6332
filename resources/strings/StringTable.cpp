// The program's texts in German and English.
//
// Each row carries a German text under its number and its English twin, which
// the program reaches as number + 200; keeping both in one row means a text
// cannot exist in one language only. The texts are kept exactly as the
// instruments' users have always seen them, typos included, so log readers
// and service staff can search for them.
#include "resources/strings/StringTable.h"

#include <algorithm>
#include <iterator>

#include "base/StringIds.h"

namespace resources {
namespace {

constexpr uint32_t kEnglishOffset = 200;

constexpr StringTableRow kRows[] = {
    {IDS_BRAND_MAIN,
     "KORVA",
     nullptr},
    {IDS_BRAND_SECOND,
     "D&S",
     nullptr},
    {IDS_PROG_UPDATE_STARTED,
     "Die Aktualisierung der Firmware wird gestartet ...",
     "The firmware update is initiated ..."},
    {IDS_PROG_TRANSMIT_DATA,
     "Die neuen Daten werden zum Gerät übertragen ...",
     "The new data are transmitted to the device ..."},
    {IDS_PROG_CHECKSUM,
     "Die Prüfsumme wird berechnet und getestet ...",
     "The checksum is calculated and tested ..."},
    {IDS_PROG_PREPARE_FLASH,
     "Das Kopieren der Daten in den FLASH-Speicher wird vorbereitet ...",
     "The device is set up to copy the data to the FLASH memory ..."},
    {IDS_PROG_COPY_FLASH,
     "Die Daten werden in den FLASH-Speicher kopiert ...",
     "The data are copied to the FLASH memory ..."},
    {IDS_PROG_RESTART,
     "Das Gerät wird neu gestartet ...",
     "The device is restarted ..."},
    {IDS_PROG_REQUEST_DATA,
     "Die Daten der aktualisierten Firmware werden abgerufen ...",
     "The data of the updated software are requested ..."},
    {IDS_UPDATE_CANCELED,  // also RC_UPDATE_CANCELED
     "Die Aktualisierung der Firmware wurde abgebrochen.",
     "The software update was canceled."},
    {IDS_PROG_READ_USER_SETTINGS,
     "Die nutzerspezifischen Einstellungen des Gerätes werden gelesen ...",
     "The user-specific device settings are read ..."},
    {IDS_PROG_READ_FACTORY_SETTINGS,
     "Die werksseitigen Einstellungen des Gerätes werden gelesen ...",
     "The factory-made device settings are read ..."},
    {IDS_PROG_WRITE_USER_SETTINGS,
     "Die nutzerspezifischen Einstellungen des Gerätes werden zurückgeschrieben ...",
     "The user-specific device settings are written back ..."},
    {IDS_PROG_WRITE_FACTORY_SETTINGS,
     "Die werksseitigen Einstellungen des Gerätes werden zurückgeschrieben ...",
     "The factory-made device settings are written back ..."},
    {IDS_PROG_SAVE_USER_SETTINGS,
     "Die nutzerspezifischen Einstellungen des Gerätes werden gespeichert ...",
     "The user-specific device settings are saved ..."},
    {IDS_PROG_SAVE_FACTORY_SETTINGS,
     "Die werkseitigen Einstellungen des Gerätes werden gespeichert ...",
     "The factory-made device settings are saved ..."},
    {IDS_PROG_ADJUST,
     "Das Gerät wird abgeglichen ...",
     "The device is adjusted ..."},
    {IDS_VERSION_NEWER,
     "Die Version der Firmware des Gerätes ist aktueller als die der Software die Sie aufspielen wollen!",
     "The software version of the device are higher than the software version you have chosen!"},
    {IDS_VERSION_CHANGE_IMPOSSIBLE,
     "Die gewünschte Änderung der Firmware-Version ist nicht möglich!",
     "The change of software version you want is impossible!"},
    {IDS_VERSION_NOT_AT_ONCE,
     "Die Aktualisierung der Firmware kann nicht in einem Schritt erfolgen!\r\n"
     "\r\n"
     "Bitte bringen Sie die Firmware des Gerätes mindestens erst auf die Version \"02.121-xx.xxx\".",
     "The software update you want is not possible at once!\r\n"
     "\r\n"
     "Please, update the software of your device first at least to the version \"02.121-xx.xxx\"."},
    {IDS_ASK_ADJUST_NOTE,
     "Nach der erfolgreichen Aktualisierung der Firmware wird ein automatischer Abgleich durchgeführt!",
     "After update the software successfully the device will be automatically adjusted!"},
    {IDS_ASK_ADJUST_CONDITIONS,
     "Dazu ist es erforderlich, daß:\r\n"
     "1.  das Gerät seit mindestens 20 Minuten eingeschaltet ist, und somit\r\n"
     "     Betriebstemperatur erreicht hat sowie\r\n"
     "2.  die Meßeingänge offen sind, daß heißt, das keine Meßkabel ange-\r\n"
     "     schlossen sind und keine anders geartete Einspeisung von Signalen\r\n"
     "     erfolgt.",
     "This makes it necessary that:\r\n"
     "1.  the device is switched on since a minimum of 20 minutes and it has\r\n"
     "     reached its operating temperatur as well\r\n"
     "2.  the measurement inputs are open, this means, that no measurement\r\n"
     "     cabel is connected and no signal is injected to the inputs."},
    {IDS_ASK_START_UPDATE,
     "Wollen Sie die Aktualisierung der Firmware jetzt durchführen?",
     "Would you now execute the software update?"},
    {6232,  // RC_PORT_STATE_CHANGED
     "Der Status der Schnittstelle hat sich geändert.",
     "The port state has changed."},
    {6233,  // RC_PORT_DATA_WRITTEN
     "Die Daten wurden dem Treiber der Schnittstelle übergeben.",
     "The data were written to the port."},
    {6234,  // RC_PORT_TX_EMPTY
     "Der Sendepuffer des Treibers der Schnittstelle ist leer.",
     "The port transmit buffer is empty."},
    {6235,  // RC_PORT_THREAD_TERMINATED
     "Der Schnittstellen-Thread wurde beendet.",
     "The port thread was terminated."},
    {6236,  // RC_SEARCH_RUNNING
     "Die Gerätesuche läuft.",
     "The device search is running."},
    {6237,  // RC_SEARCH_STEP
     "Ein weiterer Schritt der Gerätesuche hat begonnen.",
     "A further device search step has begun."},
    {6238,  // RC_SEARCH_DATA_RECEIVED
     "Während der Gerätesuche wurden Daten empfangen.",
     "Data were received during the device search."},
    {6239,  // RC_SEARCH_FINISHED
     "Die Gerätesuche wurde beendet.",
     "The device search was finished."},
    {6240,  // RC_SEARCH_CANCELED
     "Die Gerätesuche wurde abgebrochen.",
     "The device search was canceled."},
    {6241,  // RC_UPDATE_DATA_RECEIVED
     "Während der Aktualisierung der Firmware wurden Daten empfangen.",
     "Data were received during the software update."},
    {6242,  // RC_UPDATE_DATA_SENT
     "Während der Aktualisierung der Firmware wurden Daten gesendet.",
     "Data were sent during the software update."},
    {6243,  // RC_UPDATE_REPEAT
     "Ein Teil der Firmware-Aktualisierung muß wiederholt werden.",
     "A part of the software update has to be repeated."},
    {6244,  // RC_UPDATE_FINISHED
     "Die Aktualisierung der Firmware wurde beendet.",
     "The software update was finished."},
    {IDS_UPDATE_SUCCESSFUL,
     "Die Aktualisierung der Firmware wurde erfolgreich durchgeführt.",
     "The software update was successfull."},
    {IDS_INTERFACE_NOT_INITIALIZED,
     "Die Schnittstelle zur Übertragung der Daten konnte nicht initialisiert werden.",
     "The interface to transmit the data was not initialized correctly."},
    {IDS_NOT_MAKERS_DEVICE,
     "Das Gerät wurde nicht von KORVA Instruments hergestellt.",
     "The device was not produced by KORVA Instruments."},
    {IDS_DEVICE_NOT_UPDATABLE,
     "Die Firmware des Gerätes kann mit diesem Programm nicht aktualisiert werden.",
     "The device software can not be updated using this program."},
    {IDS_DEVICE_NAME_INCORRECT,
     "Die Gerätebezeichnung ist nicht korrekt.",
     "The device name is incorrect."},
    {IDS_HARDWARE_NOT_COMMERCIAL,
     "Die Hardwarekonfiguration des Gerätes ist nicht handelsüblich.",
     "The hardware configuration of the device is not commercially available."},
    {IDS_HW_SW_ID_INCORRECT,
     "Die Hardware- und/oder die Software-Kennung sind nicht korrekt.",
     "The hardware and/or the software identifier are incorrect."},
    {IDS_HW_ID_INCORRECT,
     "Die Hardware-Kennung ist nicht korrekt.",
     "The hardware identifier is incorrect."},
    {IDS_SW_ID_INCORRECT,
     "Die Software-Kennung ist nicht korrekt.",
     "The software identifier is incorrect."},
    {IDS_RESTART_FAILED,
     "Das Gerät konnte nicht neu gestartet werden!\n"
     "Schalten Sie es bitte aus und danach wieder ein, um den Fernsteuerzustand zu beenden.",
     "The device could not be restarted!\n"
     "Please, turn it off and then turn it on to finish the remote control state."},
    {IDS_CONNECTION_ABORTED,
     "Während der Kommunikation wurde die Verbindung zum Gerät unterbrochen.",
     "The connection was aborted during communication with the device."},
    {IDS_TRANSFER_ERROR,
     "Während der Kommunikation trat ein Sende- oder Empfangsfehler auf.",
     "An error is occurred during transmit data to or receive data from the device."},
    {IDS_ADJUST_FAILED,
     "Beim Abgleich des Gerätes ist ein Fehler aufgetreten!\n"
     "Starten Sie bitte den automatischen Abgleichprozess erneut über das Gerätemenü\n"
     "\n"
     "'Settings -> Selbstkalibrierung'. ",
     "An error is occured during device adjustment!\n"
     "Please, restart the automatic adjustment process out of the device menu\n"
     "\n"
     "'Settings -> Self Calibration'. "},
    {IDS_PARAMETER_CHECK_FAILED,
     "Der Test der Geräteparameter konnte nicht durchgeführt werden.",
     "The check of the device parameter could not be executed."},
    {IDS_SW_VERSION_REQUIRED,
     "Die Hardware des Gerätes erfordert mindestens die Softwareversion %s.",
     "The device hardware requires at least the software version %s."},
    {6265,  // RC_PORT_ERROR
     "Ein Schnittstellen-Fehler ist aufgetreten.",
     "A port error is occurred."},
    {6266,  // RC_PORT_SYSTEM_ERROR
     "Während der Ausführung einer Schnittstellen-Funktion ist ein Systemfehler aufgetreten.",
     "A system error is occurred during process a port function."},
    {6267,  // RC_SEARCH_TIMEOUT
     "Während der Gerätesuche ist eine Zeitüberschreitung aufgetreten.",
     "A timeout is occurred during device search."},
    {6268,  // RC_SEARCH_ERROR
     "Während der Gerätesuche ist ein Fehler aufgetreten.",
     "An error is occurred during device search."},
    {6269,  // RC_UPDATE_TIMEOUT
     "Während der Aktualisierung der Firmware ist eine Zeitüberschreitung aufgetreten.",
     "A timeout is occurred during software update."},
    {6270,  // RC_MONITOR_UPDATE_REQUIRED
     "Das Monitor-Programm im Gerät muß aktualisiert werden.",
     "The monitor program of the device has to be updated."},
    {IDS_USB_UPDATE_NOT_SUPPORTED,
     "Bei diesem Gerät ist die Aktualisierung der Firmware\n"
     "über die USB-Schnittstelle noch nicht möglich.\n"
     "\n"
     "Nutzen Sie bitte die RS232-Schnittstelle.",
     "The device does not support a firmware update\n"
     "using the USB interface yet.\n"
     "\n"
     "Please use the RS232 interface."},
    {IDS_BTN_OK,
     "OK",
     "OK"},
    {IDS_BTN_CANCEL,
     "Abbrechen",
     "Cancel"},
    {IDS_BTN_FINISH,
     "Beenden",
     "Finish"},
    {IDS_BTN_YES,
     "Ja",
     "Yes"},
    {IDS_BTN_NO,
     "Nein",
     "No"},
    {IDS_BTN_OPEN_DIRECTORY,
     "Verzeichnis öffnen",
     "Open Directory"},
    {IDS_TITLE_FIRMWARE_UPDATE,
     "Firmware-Aktualisierung",
     "Firmware Update"},
    {IDS_TITLE_VERSION_CHECK,
     "Test der Version der Firmware",
     "Verification of Software Version"},
    {IDS_TITLE_LOG_DIRECTORY,
     "Verzeichnis der Log-Datei",
     "Log File Directory"},
    {IDS_LABEL_PATH,
     "Pfad",
     "Path"},
    {IDS_LABEL_FILE,
     "Datei",
     "File"},
    {IDS_TITLE_DEVICE_PROPERTIES,
     "Geräteeigenschaften",
     "Device Properties"},
    {IDS_LABEL_DEVICE_NAME,
     "Bezeichnung:",
     "Device Name:"},
    {IDS_LABEL_SERIAL_NUMBER,
     "Seriennummer:",
     "Serial Number:"},
    {IDS_LABEL_HARDWARE_ID,
     "Hardware-ID:",
     "Hardware ID:"},
    {IDS_LABEL_SOFTWARE_VERSION,
     "Softwareversion:",
     "Software Version:"},
    {IDS_LABEL_BOARD_IDS,
     "ID-Nummern der Leiterplatten:",
     "Board ID Numbers:"},
    {IDS_TITLE_WARNING,
     "Warnung",
     "Warning"},
    {IDS_LABEL_ADDRESS,
     "Adresse:",
     "Address:"},
};

// Lookup relies on ascending order, and an English number must never land on
// a German one, or FindStringInTable could not tell which text is meant.
constexpr bool RowsAreWellFormed() {
    for (size_t i = 0; i < std::size(kRows); ++i) {
        if (kRows[i].german == nullptr) return false;
        if (i > 0 && kRows[i - 1].id >= kRows[i].id) return false;
        for (const StringTableRow& other : kRows) {
            if (other.id == kRows[i].id + kEnglishOffset) return false;
        }
    }
    return true;
}
static_assert(RowsAreWellFormed(), "string rows must be ascending and twins must not collide");

#ifndef _WIN32
// Windows reads the texts from the program's string table resources instead,
// which the build writes from these rows (resources/win32/).
const StringTableRow* FindRow(uint32_t id) {
    const StringTableRow* end = std::end(kRows);
    const StringTableRow* row = std::lower_bound(
        std::begin(kRows), end, id,
        [](const StringTableRow& r, uint32_t wanted) { return r.id < wanted; });
    return (row != end && row->id == id) ? row : nullptr;
}
#endif

}  // namespace

const StringTableRow* StringTableRows(size_t* count) {
    if (count != nullptr) *count = std::size(kRows);
    return kRows;
}

#ifndef _WIN32
const char* FindStringInTable(uint32_t id) {
    if (const StringTableRow* row = FindRow(id)) return row->german;
    if (id >= kEnglishOffset) {
        if (const StringTableRow* row = FindRow(id - kEnglishOffset)) return row->english;
    }
    return nullptr;
}
#endif

}  // namespace resources
