#include "cli/CliFrontEnd.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "base/ResultCodes.h"
#include "base/StringIds.h"
#include "base/Strings.h"
#include "base/WindowMessages.h"
#include "device/CarriedFirmware.h"
#include "device/DeviceList.h"
#include "device/DeviceParameter.h"
#include "platform/SysError.h"
#include "search/DeviceSearchDoc.h"
#include "transport/UsbLibraryFile.h"

namespace {

// Posted by the stop-signal watcher.
constexpr uint32_t WM_CLI_STOP = 0x8002;
// A search ends early once no search thread has run for this many ticks
// after the first ones; a full cycle has 20 ticks (10 s).
constexpr int kIdleTicksToEnd = 2;
constexpr uint16_t kFirstTicks = 2;

// Length of the UTF-8 sequence at `p` if it encodes a printable character
// (no C0 or C1 control, no DEL), else 0.
size_t PrintableLength(const unsigned char* p, size_t left) {
    if (p[0] >= 0x20 && p[0] < 0x7F) return 1;
    size_t n = 0;
    if ((p[0] & 0xE0) == 0xC0) n = 2;
    else if ((p[0] & 0xF0) == 0xE0) n = 3;
    else if ((p[0] & 0xF8) == 0xF0) n = 4;
    if (n == 0 || left < n) return 0;
    uint32_t cp = p[0] & (0x7F >> n);
    for (size_t i = 1; i < n; ++i) {
        if ((p[i] & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (p[i] & 0x3F);
    }
    static const uint32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < kMin[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF) || cp < 0xA0) return 0;
    return n;
}

// Instrument strings reach the terminal as text, never as its commands
// (an escape sequence could clear the screen or set the title): control
// characters and bytes that are no UTF-8 are shown escaped. `escape`
// formats one byte; `keep` names the bytes that stay as they are.
template <class Escape>
std::string Escaped(const std::string& text, Escape escape, const char* keep) {
    std::string out;
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    for (size_t i = 0; i < text.size();) {
        const size_t n = PrintableLength(p + i, text.size() - i);
        if (n > 0 && std::strchr("\\\"", p[i]) == nullptr) {
            out.append(text, i, n);
            i += n;
            continue;
        }
        if (p[i] != 0 && std::strchr(keep, p[i]) != nullptr) out += static_cast<char>(p[i]);
        else out += escape(p[i]);
        ++i;
    }
    return out;
}

std::string JsonString(const std::string& text) {
    return "\"" + Escaped(text, [](unsigned char c) -> std::string {
        switch (c) {
            case '"': return "\\\"";
            case '\\': return "\\\\";
            case '\n': return "\\n";
            case '\r': return "\\r";
            case '\t': return "\\t";
            default: {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
                return escaped;
            }
        }
    }, "") + "\"";
}

}  // namespace

std::string Printable(const std::string& text, bool lines) {
    return Escaped(text, [](unsigned char c) -> std::string {
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
        return escaped;
    }, lines ? "\\\"\n\t" : "\\\"");
}

const char* CliUsage() {
    static const std::string usage = std::string(
           "usage: korva-upgrader-cli [options] list\n"
           "       korva-upgrader-cli [options] show ADDRESS\n"
           "       korva-upgrader-cli [options] update ADDRESS [--yes]\n"
           "\n"
           "Finds KORVA instruments on serial ports and FTDI USB chips, shows them and\n"
           "installs the firmware this program carries (") + carried::kModel + ", " + carried::kVersion1 +
           "-" + carried::kVersion2 + ").\n"
           "ADDRESS is the address column of `list` (COM3, \"USB Pid_6001 #FT123456\") or a\n"
           "USB serial number.\n"
           "\n"
           "options:\n"
           "  --serial        search the serial ports\n"
           "  --usb           search the USB devices (both kinds when neither is given)\n"
           "  --yes           answer the questions before an update with Yes\n"
           "  --json          machine-readable output\n"
           "  --cycle         search a whole cycle (10 s) instead of stopping when quiet\n"
           "  --lang de|en    language of the texts (default: the user's locale)\n"
           "  --simulate[=N]  N simulated instruments (default 1) take the place of the\n"
           "                  USB devices; for trying the program without hardware\n"
           "  --simulate-version=NN.NNN-NN.NNN\n"
           "                  the software version the simulated instruments report\n"
           "  --simulate-with=\"OPTIONS\"\n"
           "                  korva-sim options for them, e.g. a fault: \"--vanish-at load\"\n"
           "  --help          this text\n"
           "\n"
           "exit status: 0 success, 1 failure, cancelled, connection lost or not found,\n"
           "2 refused before anything was sent, 64 usage error\n"
           "Every run writes the update log as the window does (korva-logread reads it).\n";
    return usage.c_str();
}

CliOptions ParseCliOptions(int argc, const char* const* argv) {
    CliOptions o;
    auto setCommand = [&](CliOptions::Command c) {
        if (o.command != CliOptions::Command::kNone) o.error = "more than one command";
        o.command = c;
    };
    // Asking for help anywhere on the line gets the help, whatever else is there.
    for (int i = 1; i < argc; ++i) {
        if (std::string_view(argv[i]) == "--help" || std::string_view(argv[i]) == "-h") {
            o.command = CliOptions::Command::kHelp;
            return o;
        }
    }
    for (int i = 1; i < argc && o.error.empty(); ++i) {
        const std::string arg = argv[i];
        if (arg == "--serial") o.serial = true;
        else if (arg == "--usb") o.usb = true;
        else if (arg == "--json") o.json = true;
        else if (arg == "--yes" || arg == "-y") o.yes = true;
        else if (arg == "--cycle") o.fullCycle = true;
        else if (arg == "--simulate") o.simulate = 1;
        else if (arg.rfind("--simulate=", 0) == 0) {
            const std::string count = arg.substr(11);
            const bool digits = !count.empty() && count.size() <= 2 &&
                                count.find_first_not_of("0123456789") == std::string::npos;
            const int n = digits ? std::atoi(count.c_str()) : 0;
            if (n < 1 || n > 16) o.error = "--simulate takes 1 to 16";
            o.simulate = n;
        } else if (arg.rfind("--simulate-version=", 0) == 0) {
            o.simulateVersion = arg.substr(19);
            // NN.NNN-NN.NNN, as an instrument reports it.
            const bool shape = o.simulateVersion.size() == 13 && o.simulateVersion[2] == '.' &&
                               o.simulateVersion[6] == '-' && o.simulateVersion[9] == '.';
            if (!shape) o.error = "--simulate-version takes NN.NNN-NN.NNN";
            if (o.simulate == 0) o.simulate = 1;
        } else if (arg.rfind("--simulate-with=", 0) == 0) {
            // Split at spaces, as a shell would have split them for korva-sim.
            const std::string list = arg.substr(16);
            for (size_t at = 0; at < list.size();) {
                const size_t end = std::min(list.find(' ', at), list.size());
                if (end > at) o.simulateWith.push_back(list.substr(at, end - at));
                at = end + 1;
            }
            if (o.simulate == 0) o.simulate = 1;
        } else if (arg == "--lang" && i + 1 < argc) {
            const std::string lang = argv[++i];
            if (lang == "de") o.language = LANG_GERMAN;
            else if (lang == "en") o.language = LANG_ENGLISH;
            else o.error = "--lang takes de or en";
        } else if (arg == "list") setCommand(CliOptions::Command::kList);
        else if (arg == "show" || arg == "update") {
            setCommand(arg == "show" ? CliOptions::Command::kShow : CliOptions::Command::kUpdate);
            // An option is no address: "update --help" must not search for one.
            if (i + 1 >= argc || argv[i + 1][0] == '-') o.error = arg + " needs an address";
            else o.address = argv[++i];
        } else {
            o.error = "unknown argument: " + arg;
        }
    }
    if (o.error.empty() && o.command == CliOptions::Command::kNone) o.error = "no command given";
    if (!o.serial && !o.usb) {
        // A simulation stands in for the USB devices only, so the machine's
        // real serial ports stay untouched unless asked for.
        o.usb = true;
        o.serial = o.simulate == 0;
    }
    return o;
}

CCliFrontEnd::CCliFrontEnd(const CliOptions& options, bool usbLibraryCreated, bool terminal)
    : m_Options(options), m_Output{options.json, terminal}, m_View(m_Window, m_Output, options.yes) {
    m_pCore = std::make_unique<CUpdateWndCore>(m_Window, m_View, usbLibraryCreated);
    m_Window.SetHandler([this](uint32_t msg, WPARAM w, LPARAM l) { return Dispatch(msg, w, l); });
    CMessageWindow::SetMain(&m_Window);
    m_pCore->OnInitDialog();
}

CCliFrontEnd::~CCliFrontEnd() {
    // Stops every update and search, as closing the window does.
    m_pCore->OnCancel();
    m_pCore.reset();
    CMessageWindow::SetMain(nullptr);
}

void CCliFrontEnd::RequestStop() { m_Window.PostMsg(WM_CLI_STOP); }

LRESULT CCliFrontEnd::Dispatch(uint32_t msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
        case WM_CLI_PROGRESS:
            m_View.HandleProgressPosts();
            return 0;
        case WM_CLI_STOP:
            m_bStop = true;
            if (m_View.CancelUpdates()) {
                if (!m_Output.json) std::fprintf(stderr, "\nCancelling ...\n");
            } else if (m_View.UpdateRunning()) {
                // From the FLASH programming on, stopping would leave the
                // instrument without firmware: the stop waits for the end.
                std::fprintf(stderr, "\nThe new firmware is being installed: the update cannot be stopped now. "
                                     "It continues until it has finished.\n");
            }
            return 0;
        case WM_DEVICE_SEARCH_STEP: {
            m_wStep = static_cast<uint16_t>(wParam);
            CDeviceSearchDoc* search = m_pCore->GetSearchDoc();
            m_nIdleTicks = search != nullptr && search->GetThreadCount() == 0 ? m_nIdleTicks + 1 : 0;
            break;
        }
        case WM_UPDATE_FINISHED:
            m_bUpdateEnded = true;
            m_bUpdateSucceeded = true;
            break;
        case WM_UPDATE_CANCELED:
            m_bUpdateEnded = true;
            m_dwUpdateCode = static_cast<uint32_t>(lParam);
            break;
        default:
            break;
    }
    return m_pCore->Dispatch(msg, wParam, lParam);
}

bool CCliFrontEnd::Search(const std::string& address) {
    if (m_Options.serial) m_pCore->SwitchSerial(true);
    if (m_Options.usb && !m_pCore->SwitchUsb(true)) {
        const std::string problem = UsbLibraryProblem();
        if (!problem.empty()) std::fprintf(stderr, "korva-upgrader-cli: USB is not available: %s\n", problem.c_str());
        else if (!m_Options.serial)
            std::fprintf(stderr, "korva-upgrader-cli: the USB library could not be written; USB is not available\n");
    }
    if (!m_pCore->IsSerialOn() && !m_pCore->IsUsbOn()) return true;
    const auto done = [&] {
        if (m_bStop) return true;
        if (!address.empty() && FindRow(address) != nullptr) return true;
        if (m_Options.fullCycle) return m_wStep >= CDeviceSearchDoc::kTicksPerCycle;
        return m_wStep >= CDeviceSearchDoc::kTicksPerCycle ||
               (m_wStep >= kFirstTicks && m_nIdleTicks >= kIdleTicksToEnd);
    };
    // Every wake-up comes from the search: its steps and its reports.
    m_Window.PumpUntil(done, platform::kInfinite);
    return !m_bStop;
}

const CDeviceRow* CCliFrontEnd::FindRow(const std::string& address) const {
    for (const CDeviceRow& row : m_View.rows) {
        if (row.address == address) return &row;
        const size_t hash = row.address.rfind('#');
        if (hash != std::string::npos && row.address.compare(0, 4, "USB ") == 0 &&
            row.address.substr(hash + 1) == address) {
            return &row;
        }
    }
    return nullptr;
}

std::string CCliFrontEnd::ReasonOf(const CDeviceRow& row) const {
    const auto it = m_View.messages.find(row.address);
    return it == m_View.messages.end() || it->second.empty() ? std::string() : it->second.front().second;
}

int CCliFrontEnd::Run() {
    switch (m_Options.command) {
        case CliOptions::Command::kList: return List();
        case CliOptions::Command::kShow: return Show();
        case CliOptions::Command::kUpdate: return Update();
        default: return kExitUsage;
    }
}

void CCliFrontEnd::PrintRow(const CDeviceRow& row, bool last) {
    const bool possible = (row.state & DEVICE_STATE_POSSIBLE) != 0;
    if (m_Output.json) {
        std::printf("  {\"address\": %s, \"device\": %s, \"type\": %s, \"version\": %s, \"updatePossible\": %s",
                    JsonString(row.address).c_str(), JsonString(row.device).c_str(), JsonString(row.type).c_str(),
                    JsonString(row.version).c_str(), possible ? "true" : "false");
        if (!possible) std::printf(", \"reason\": %s", JsonString(ReasonOf(row)).c_str());
        std::printf("}%s\n", last ? "" : ",");
        return;
    }
    std::printf("%-28s %-12s %-24s %-14s %s\n", Printable(row.address).c_str(), Printable(row.device).c_str(),
                Printable(row.type).c_str(), Printable(row.version).c_str(), possible ? "update possible" : "no update");
    if (!possible) {
        // The reason under its row, every line indented.
        std::string reason = Printable(ReasonOf(row), true);
        for (size_t at = reason.find('\n'); at != std::string::npos; at = reason.find('\n', at + 5))
            reason.replace(at, 1, "\n    ");
        if (!reason.empty()) std::printf("    %s\n", reason.c_str());
    }
}

int CCliFrontEnd::List() {
    if (!Search("")) return kExitFailure;
    if (m_Output.json) {
        std::printf("[\n");
        for (size_t i = 0; i < m_View.rows.size(); ++i) PrintRow(m_View.rows[i], i + 1 == m_View.rows.size());
        std::printf("]\n");
    } else if (m_View.rows.empty()) {
        std::printf("No instrument found.\n");
    } else {
        std::printf("%-28s %-12s %-24s %-14s %s\n", "ADDRESS", "DEVICE", "TYPE", "VERSION", "UPDATE");
        for (const CDeviceRow& row : m_View.rows) PrintRow(row, false);
    }
    return kExitSuccess;
}

int CCliFrontEnd::Show() {
    if (!Search(m_Options.address)) return kExitFailure;
    const CDeviceRow* row = FindRow(m_Options.address);
    if (row == nullptr) {
        std::fprintf(stderr, "korva-upgrader-cli: no instrument found at %s\n", Printable(m_Options.address).c_str());
        return kExitFailure;
    }
    DevicePtr device;
    const int index = m_pCore->GetDeviceList().FindEntry(row->port.get());
    if (index < 0 || !m_pCore->GetDeviceList().GetDeviceAt(index, nullptr, &device, nullptr) || !device) {
        return kExitFailure;
    }
    const std::pair<uint32_t, std::string> fields[] = {
        {IDS_LABEL_ADDRESS, row->address},
        {IDS_LABEL_DEVICE_NAME, device->GetDeviceName()},
        {IDS_LABEL_SERIAL_NUMBER, device->GetSerialNumber()},
        {IDS_LABEL_HARDWARE_ID, device->GetHardwareIdText()},
        {IDS_LABEL_SOFTWARE_VERSION, device->GetSoftwareVersion()},
    };
    if (m_Output.json) {
        std::printf("{\"address\": %s, \"device\": %s, \"serialNumber\": %s, \"hardwareId\": %s, "
                    "\"version\": %s, \"type\": %s, \"updatePossible\": %s, \"description\": %s}\n",
                    JsonString(row->address).c_str(), JsonString(device->GetDeviceName()).c_str(),
                    JsonString(device->GetSerialNumber()).c_str(), JsonString(device->GetHardwareIdText()).c_str(),
                    JsonString(device->GetSoftwareVersion()).c_str(), JsonString(row->type).c_str(),
                    (row->state & DEVICE_STATE_POSSIBLE) ? "true" : "false",
                    JsonString(device->GetDescription()).c_str());
        return kExitSuccess;
    }
    for (const auto& [label, value] : fields)
        std::printf("%-24s %s\n", LoadStringResource(label).c_str(), Printable(value).c_str());
    std::printf("%-24s %s\n", LoadStringResource(IDS_LABEL_BOARD_IDS).c_str(),
                Printable(device->GetDescription(), true).c_str());
    const std::string reason = Printable(ReasonOf(*row), true);
    const char* verdict = (row->state & DEVICE_STATE_POSSIBLE) ? "Update possible."
                          : reason.empty()                        ? "No update possible."
                                                                  : reason.c_str();
    std::printf("\n%s\n", verdict);
    return kExitSuccess;
}

int CCliFrontEnd::Update() {
    if (!Search(m_Options.address)) return kExitFailure;
    const CDeviceRow* row = FindRow(m_Options.address);
    if (row == nullptr) {
        std::fprintf(stderr, "korva-upgrader-cli: no instrument found at %s\n", Printable(m_Options.address).c_str());
        return kExitFailure;
    }
    const PortPtr port = row->port;
    const std::string address = row->address;
    auto refuse = [&](const std::string& why) {
        if (m_Output.json) std::printf("{\"address\": %s, \"result\": \"refused\", \"reason\": %s}\n",
                                       JsonString(address).c_str(), JsonString(why).c_str());
        else std::printf("%s: update refused.\n%s\n", Printable(address).c_str(), Printable(why, true).c_str());
        return kExitRefused;
    };
    m_pCore->OnActivateDevice(port);
    if (!m_View.startUpdateEnabled) return refuse(ReasonOf(*row));
    m_pCore->OnStartDeviceUpdate();
    // Ends with WM_UPDATE_FINISHED or WM_UPDATE_CANCELED; the update bounds
    // every wait of its own.
    m_Window.PumpUntil([&] { return m_bUpdateEnded; }, platform::kInfinite);
    if (m_bUpdateSucceeded) {
        const CDeviceRow* now = FindRow(address);
        const std::string version = now ? now->version : std::string();
        if (m_Output.json) {
            std::printf("{\"address\": %s, \"result\": \"updated\", \"version\": %s}\n", JsonString(address).c_str(),
                        JsonString(version).c_str());
        } else {
            std::printf("%s: %s\n", Printable(address).c_str(), LoadStringResource(IDS_UPDATE_SUCCESSFUL).c_str());
            if (!version.empty()) std::printf("Software version now %s.\n", Printable(version).c_str());
        }
        return kExitSuccess;
    }
    if (!m_View.UpdateBegan()) {
        // Refused before anything was sent: a question answered No, or the rules.
        const auto& refused = m_View.Dialogs().refused;
        return refuse(refused.empty() ? std::string("The update did not start.") : refused.back());
    }
    if (!IsResultCode(m_dwUpdateCode)) {
        // Ended by Ctrl-C, or by the port: the instrument went away or the
        // port could not be used. Either way the update was under way.
        std::string why = m_bStop ? "The update was cancelled." : "The connection to the instrument was lost.";
        if (!m_bStop && m_dwUpdateCode != 0)
            why += "\n" + platform::SystemErrorText(m_dwUpdateCode, GetUserLanguage());
        if (m_Output.json) {
            std::printf("{\"address\": %s, \"result\": \"%s\", \"message\": %s}\n", JsonString(address).c_str(),
                        m_bStop ? "cancelled" : "connection-lost", JsonString(why).c_str());
        } else {
            std::printf("%s: %s\n", Printable(address).c_str(), why.c_str());
        }
        return kExitFailure;
    }
    const auto it = m_View.messages.find(address);
    const std::string text = it != m_View.messages.end() && !it->second.empty() ? it->second.back().second : "";
    if (m_Output.json) {
        std::printf("{\"address\": %s, \"result\": \"failed\", \"code\": \"0x%08X\", \"message\": %s}\n",
                    JsonString(address).c_str(), m_dwUpdateCode, JsonString(text).c_str());
    } else {
        std::printf("%s: the update failed (0x%08X).\n%s\n", Printable(address).c_str(), m_dwUpdateCode,
                    Printable(text, true).c_str());
    }
    return kExitFailure;
}
