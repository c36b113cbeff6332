// Listing and naming of the serial ports.
//
// Ports keep the names the program has always shown (COM1 to COM99). Linux
// devices are named by the convention users know from Windows programs:
// ttySn is COM(n+1), ttyUSBn COM(n+33), ttyACMn COM(n+65). The per-user
// alias folder (PortAlias.h) adds names and overrides derived ones. A device
// whose COM number would exceed 99 is not listed: a port record keeps five
// characters, and COM100 would name COM10.
//
// The listing stands in for the spooler's port list and the default port
// configuration: ttyS entries only where a UART is present, and a device
// that is not a usable serial port (the terminal settings cannot be read)
// is left out, as "not a serial port" (error 87) was skipped.
// Thread: any.
#pragma once

#include <string>
#include <vector>

namespace platform {

struct SerialPortEntry {
    std::string comName;  // COM1 .. COM99
    std::string device;   // what is opened: /dev/ttyUSB0, /dev/pts/4 ...
};

// "ttyS0" -> "COM1", "ttyUSB2" -> "COM35", "ttyACM0" -> "COM65"; empty for
// other names and for numbers above 99.
std::string ComNameForDevice(const std::string& ttyName);

// The device a COM name opens: its alias if there is one, else the device
// of the naming convention under `devRoot`. Empty for a name that is not
// COM1 .. COM99.
std::string ResolveComName(const std::string& comName, const std::string& devRoot = "/dev");

// Whether `device` can be opened as a terminal whose settings can be read.
// A device held exclusively by another program counts as usable.
bool IsUsableSerialDevice(const std::string& device);

// The serial ports, sorted by COM number. `sysfsRoot` and `devRoot` exist
// for tests.
std::vector<SerialPortEntry> ListSerialPorts(const std::string& sysfsRoot = "/sys/class/tty",
                                             const std::string& devRoot = "/dev");

}  // namespace platform
