#include "ui/TemplateTexts.h"

#include "base/Strings.h"

namespace {

constexpr MainWindowTexts kMainGerman = {
    " Geräteliste ",
    "Aktualisierung nicht möglich",
    "Aktualisierung läuft",
    "Aktualisierung erfolgreich abgeschlossen",
    "Aktualisierung wegen Fehler abgebrochen",
    208,
    " Gerätesuche ",
    "Aktualisierung starten",
    "Beenden",
    {"Gerät", "Typ", "Software-Version", "Adresse"},
    "&Einstellungen",
    "&Serielle Schnittstellen",
    "&USB-Schnittstellen",
    "&IP-basierte Schnittstellen",
    "&Aktivieren",
    "&Deaktivieren",
    "&Optionen",
    "&Info",
    "&Log-Datei",
    "&Verzeichnis",
    "&Info über ...",
    "Es laufen noch Aktualisierungen.\n\nSoll das Programm trotzdem beendet werden? Aktualisierungen, die "
    "noch abgebrochen werden können, werden abgebrochen. Eine Aktualisierung, die bereits den FLASH-Speicher "
    "programmiert, läuft bis zu ihrem Ende weiter.",
    "Eine Aktualisierung programmiert den FLASH-Speicher und darf nicht unterbrochen werden. Das Programm wird "
    "beendet, sobald sie abgeschlossen ist.",
};

constexpr MainWindowTexts kMainEnglish = {
    " Device List ",
    "Update not possible",
    "Update running",
    "Update finished successfully",
    "Update canceled owing to an error",
    232,
    " Device Search ",
    "Start Update",
    "Cancel",
    {"Device", "Type", "Software Version", "Address"},
    "&Settings",
    "&Serial Ports",
    "&USB Ports",
    "&IP based Ports",
    "&Activate",
    "&Deactivate",
    "&Options",
    "&Info",
    "&Log File",
    "&Directory",
    "&Info about ...",
    "Updates are still running.\n\nDo you want to close the program anyway? Updates that can still be "
    "canceled will be canceled. An update that is already programming the FLASH memory runs on to its end.",
    "An update is programming the FLASH memory and must not be interrupted. The program closes as soon as it "
    "has finished.",
};

constexpr SerialNoticeTexts kNoticeGerman = {
    "Einstellungen der seriellen Schnittstelle am Gerät",
    "An dem Gerät, für das Sie die Firmware aktualisieren wollen,\r\nmüssen die Standardwerte für die serielle "
    "Schnittstelle eingestellt sein!",
    "Vergleichen Sie bitte die nachfolgende Auflistung mit Ihren Geräteeinstellungen und korrigieren Sie diese, "
    "wenn notwendig!",
    "Baudrate:",
    "115200 Baud",
    "Stop-Bits:",
    "2",
    "Parität:",
    "keine",
    "Flußsteuerung:",
    "keine",
    "Wollen Sie die Aktualisierung der Firmware fortsetzten?",
    "Ja",
    "Nein",
};

constexpr SerialNoticeTexts kNoticeEnglish = {
    "Serial port settings at the device",
    "At the device where you want to update the firmware you have to set the standard values for the serial port!",
    "Please, compare the list below with the your device settings\r\nand correct these if necessary!",
    "Baud Rate:",
    "115200 Baud",
    "Stop Bits:",
    "2",
    "Parity:",
    "none",
    "Handshaking:",
    "none",
    "Do you want to proceed the firmware update?",
    "Yes",
    "No",
};

bool IsGerman() { return (GetUserLanguage() & 0x3FF) == 7; }

}  // namespace

const MainWindowTexts& MainWindowTemplate() { return IsGerman() ? kMainGerman : kMainEnglish; }
const SerialNoticeTexts& SerialNoticeTemplate() { return IsGerman() ? kNoticeGerman : kNoticeEnglish; }
