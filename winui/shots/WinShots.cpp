// korva-win-shots OUTPUT_DIR de|en: the Windows window at work on simulated
// USB instruments, photographed and checked. It runs the real main window
// (winui/) with the simulated USB library, as the program runs it, and
// drives it as a user would: switches USB on, waits for the instruments,
// opens every dialog, starts an update, answers its questions, asks to
// close while the update transfers (and says No), then cancels the update
// before the FLASH is programmed and closes the program.
//
// Each window is saved from the screen as OUTPUT_DIR/NAME-LANGUAGE.bmp;
// every check prints "ok: ..." or "FAILED: ..."; the exit status is 0 only
// when all checks held. Runs under Wine on the window tests' display
// (tests/windows/desktop.sh).
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "base/ResultCodes.h"
#include "base/StringIds.h"
#include "base/Strings.h"
#include "base/UpdateLogFile.h"
#include "device/DeviceTables.h"
#include "sim/d2xx/SimD2xxControl.h"
#include "transport/UsbLibraryFile.h"
#include "update/DeviceUpdateDoc.h"
#include "winui/ResourceIds.h"
#include "winui/UpdateWnd.h"

extern "C" const uint8_t korva_shots_usb_sim_begin[];
extern "C" const uint8_t korva_shots_usb_sim_end[];

namespace {

constexpr UINT kTickMs = 50;
constexpr int kInstruments = 2;
// A line fast enough for a short run, slow enough that the image transfer
// lasts the seconds the steps before the cancel take.
constexpr uint32_t kLineBaud = 1500000;

int g_failures = 0;
std::wstring g_out;
std::string g_language;

void Check(bool ok, const std::string& what) {
    std::printf("%s: %s\n", ok ? "ok" : "FAILED", what.c_str());
    std::fflush(stdout);
    if (!ok) ++g_failures;
}

// The screen inside `area`, saved as a 32-bit bottom-up BMP.
bool SaveScreen(const RECT& area, const std::string& name) {
    const int width = area.right - area.left, height = area.bottom - area.top;
    HDC screen = ::GetDC(nullptr);
    HDC memory = ::CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = ::CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = ::SelectObject(memory, bitmap);
    ::BitBlt(memory, 0, 0, width, height, screen, area.left, area.top, SRCCOPY);
    ::GdiFlush();
    // The screen has no alpha channel: every pixel is opaque.
    for (int i = 0; i < width * height; ++i) static_cast<uint8_t*>(bits)[i * 4 + 3] = 0xFF;
    const DWORD size = static_cast<DWORD>(width) * height * 4;
    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof info.bmiHeader;
    file.bfSize = file.bfOffBits + size;
    const std::wstring path = g_out + L"\\" + winui::Wide(name + "-" + g_language + ".bmp");
    FILE* out = _wfopen(path.c_str(), L"wb");
    bool ok = out != nullptr;
    if (ok) {
        ok = std::fwrite(&file, sizeof file, 1, out) == 1 && std::fwrite(&info.bmiHeader, sizeof info.bmiHeader, 1, out) == 1 &&
             std::fwrite(bits, size, 1, out) == 1;
        ok = std::fclose(out) == 0 && ok;
    }
    ::SelectObject(memory, old);
    ::DeleteObject(bitmap);
    ::DeleteDC(memory);
    ::ReleaseDC(nullptr, screen);
    Check(ok, "saved " + name);
    return ok;
}

RECT FrameOf(HWND w) {
    RECT r{};
    ::GetWindowRect(w, &r);
    return r;
}

void Shoot(std::initializer_list<HWND> windows, const std::string& name) {
    RECT area{};
    bool first = true;
    for (HWND w : windows) {
        ::RedrawWindow(w, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN | RDW_FRAME);
        const RECT r = FrameOf(w);
        if (first) area = r;
        else ::UnionRect(&area, &area, &r);
        first = false;
    }
    // Wine paints through the X server: let it catch up with the requests.
    ::GdiFlush();
    ::Sleep(200);
    SaveScreen(area, name);
}

struct Found {
    HWND owner;
    bool progress;  // looking for progress windows, else for modal dialogs
    HWND window;
};

BOOL CALLBACK FindOwned(HWND w, LPARAM context) {
    auto* f = reinterpret_cast<Found*>(context);
    const bool isProgress = ::GetDlgItem(w, IDC_PROGRESS_CANCEL) != nullptr;
    if (::GetWindow(w, GW_OWNER) == f->owner && ::IsWindowVisible(w) && isProgress == f->progress) {
        f->window = w;
        return FALSE;
    }
    return TRUE;
}

// The visible modal dialog over the main window, or the progress window.
HWND OwnedWindow(HWND main, bool progress) {
    Found f{main, progress, nullptr};
    ::EnumThreadWindows(::GetCurrentThreadId(), FindOwned, reinterpret_cast<LPARAM>(&f));
    return f.window;
}

// The run as steps on a thread timer, which every message loop of the
// thread serves, the modal ones of the dialogs included. A step returns
// true when it is done; steps that open a modal dialog advance before they
// call, so the ticks inside that dialog's loop go on with the next steps.
class CDriver {
public:
    explicit CDriver(CWinUpdateWnd& window) : m_Window(window) { s_pDriver = this; }

    void Add(std::function<bool()> step) { m_Steps.push_back(std::move(step)); }
    // Opens a modal dialog from within a step.
    void AddOpening(std::function<void()> open) {
        m_Steps.push_back([this, open] {
            ++m_nStep;
            m_nWait = 0;
            open();
            return false;  // already advanced
        });
    }
    void Start() { ::SetTimer(nullptr, 0, kTickMs, OnTick); }
    // Waits `ticks` ticks once (paint and settle).
    bool Settle(int ticks) { return ++m_nWait > ticks; }

private:
    static void CALLBACK OnTick(HWND, UINT, UINT_PTR, DWORD) { s_pDriver->Tick(); }
    void Tick() {
        if (m_nStep >= m_Steps.size()) return;
        // Several minutes without progress: the window hangs; give up.
        if (++m_nTicks > 2400) {
            Check(false, "the run finishes in time (stuck at step " + std::to_string(m_nStep) + ")");
            std::fflush(stdout);
            ::TerminateProcess(::GetCurrentProcess(), 3);  // the simulated library's threads would hold up an exit
        }
        const size_t step = m_nStep;
        if (m_Steps[step]() && m_nStep == step) {
            ++m_nStep;
            m_nWait = 0;
        }
    }

    static CDriver* s_pDriver;
    CWinUpdateWnd& m_Window;
    std::vector<std::function<bool()>> m_Steps;
    size_t m_nStep = 0;
    int m_nWait = 0;
    int m_nTicks = 0;
};
CDriver* CDriver::s_pDriver = nullptr;

platform::SharedLibrary g_simulated;

bool AttachInstruments() {
    EmbeddedFile simulated{korva_shots_usb_sim_begin,
                           static_cast<size_t>(korva_shots_usb_sim_end - korva_shots_usb_sim_begin)};
    WriteUsbLibraryFile(&simulated);
    if (LoadUsbLibrary(g_simulated) != 0) return false;
    auto attach = g_simulated.Bind<PFN_KORVA_SimAttach>("KORVA_SimAttach");
    if (attach == nullptr) return false;
    sim::Config config;
    config.timing.baud = kLineBaud;
    for (int i = 1; i <= kInstruments; ++i) {
        char serial[16];
        std::snprintf(serial, sizeof serial, "SIM%05d", i);
        config.identity.serialNumber = std::to_string(100230 + i);
        if (attach(0x04036001, serial, &config) != 0) return false;
    }
    return true;
}

std::wstring ItemText(HWND list, int item, int column) {
    wchar_t text[128] = L"";
    ListView_GetItemText(list, item, column, text, 128);
    return text;
}

int ItemImage(HWND list, int item) {
    LVITEMW lv{};
    lv.mask = LVIF_IMAGE;
    lv.iItem = item;
    return ListView_GetItem(list, &lv) ? lv.iImage : -1;
}

// The Settings menu: check marks of its port kind entries (by position) and
// whether commands are usable.
bool MenuShows(HWND main, std::initializer_list<std::pair<UINT, bool>> checked,
               std::initializer_list<std::pair<UINT, bool>> enabled) {
    HMENU bar = ::GetMenu(main);
    HMENU settings = bar ? ::GetSubMenu(bar, 0) : nullptr;
    if (settings == nullptr) return false;
    for (const auto& [position, on] : checked)
        if (((::GetMenuState(settings, position, MF_BYPOSITION) & MF_CHECKED) != 0) != on) return false;
    for (const auto& [id, on] : enabled)
        if (((::GetMenuState(bar, id, MF_BYCOMMAND) & (MF_GRAYED | MF_DISABLED)) == 0) != on) return false;
    return true;
}

void Run(CWinUpdateWnd& window) {
    CDriver driver(window);
    HWND main = nullptr, list = nullptr, progress = nullptr;
    std::wstring versionBefore, rowAddress;
    const auto dialog = [&] { return OwnedWindow(main, false); };
    // Once a dialog is open: photographs it and closes it with `close`.
    const auto photographDialog = [&](const std::string& name, UINT close) {
        driver.Add([&] { return dialog() != nullptr && driver.Settle(6); });
        driver.Add([&, name, close] {
            Shoot({dialog()}, name);
            ::PostMessageW(dialog(), WM_COMMAND, close, 0);
            return true;
        });
        driver.Add([&] { return dialog() == nullptr; });
    };
    // Opens a dialog by a command of the main window.
    const auto photographCommand = [&](UINT command, const std::string& name, UINT close) {
        driver.Add([&, command] { return ::PostMessageW(main, WM_COMMAND, command, 0) != FALSE; });
        photographDialog(name, close);
    };
    const auto photographOpened = [&](std::function<void()> open, const std::string& name, UINT close) {
        driver.AddOpening(std::move(open));
        photographDialog(name, close);
    };
    const auto firstPort = [&] {
        PortPtr port;
        DevicePtr device;
        window.Core().GetDeviceList().GetDeviceAt(0, &port, &device, nullptr);
        return std::make_pair(port, device);
    };

    driver.Add([&] {
        main = window.Hwnd();
        return main != nullptr && ::IsWindowVisible(main) && driver.Settle(6);
    });
    driver.Add([&] {
        list = ::GetDlgItem(main, IDC_DEVICE_LIST);
        Shoot({main}, "main-empty");
        return ::PostMessageW(main, WM_COMMAND, ID_USB_ACTIVATE, 0) != FALSE;
    });
    driver.Add([&] { return ListView_GetItemCount(list) == kInstruments && driver.Settle(4); });
    driver.Add([&] {
        Check(true, "the simulated instruments are listed");
        Check(MenuShows(main, {{1, true}}, {{46011, false}, {46012, true}, {46001, true}, {46002, false},
                                            {46013, false}, {46021, false}, {46022, false}, {46023, false}}),
              "USB on: its entry is checked, Activate greyed, Deactivate usable, IP and the options greyed");
        Check(ItemImage(list, 0) == ROW_IMAGE_POSSIBLE, "the first instrument may be updated");
        versionBefore = ItemText(list, 0, 2);
        ListView_SetItemState(list, 0, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
        return true;
    });
    driver.Add([&] { return driver.Settle(4); });
    driver.Add([&] {
        Check(::IsWindowEnabled(::GetDlgItem(main, IDC_START_UPDATE)) != FALSE, "selecting it enables Start Update");
        Shoot({main}, "main");
        return true;
    });
    photographCommand(ID_SERIAL_ACTIVATE, "serial-notice", IDCANCEL);  // declined: serial stays off
    driver.Add([&] {
        Check(MenuShows(main, {{0, false}, {1, true}}, {{46001, true}, {46002, false}}),
              "the declined serial notice leaves serial off");
        return true;
    });
    photographCommand(ID_APP_ABOUT, "about", IDOK);
    photographCommand(ID_LOG_FILE_DIRECTORY, "log-directory", IDCANCEL);
    photographOpened([&] { window.ShowDeviceProperties(firstPort().first); }, "properties", IDCANCEL);
    photographOpened([&] { window.ShowMessageDialog(IDS_TRANSFER_ERROR, firstPort().first, firstPort().second); },
                     "message", IDOK);
    photographOpened([&] {
        Check(window.UpdateDialogs()->AskVersionChange(VC_DOWNGRADE | VC_CHANGE_IMPOSSIBLE) == 0,
              "a refused version change cannot be agreed to");
    }, "version-question", IDCANCEL);
    photographOpened([&] { window.UpdateDialogs()->ShowVersionNotAtOnce(); }, "step-notice", IDCANCEL);
    photographOpened([&] { Check(window.UpdateDialogs()->AskAdjustment() == 1, "Yes to the adjustment notice is 1"); },
                     "adjustment-notice", IDOK);

    // The update: Yes to its questions until the image transfer shows.
    driver.Add([&] { return ::PostMessageW(main, WM_COMMAND, IDC_START_UPDATE, 0) != FALSE; });
    driver.Add([&] {
        if (HWND question = dialog()) {
            ::PostMessageW(question, WM_COMMAND, IDOK, 0);
            return false;
        }
        progress = OwnedWindow(main, true);
        return progress != nullptr && ::IsWindowVisible(::GetDlgItem(progress, IDC_PROGRESS)) && driver.Settle(10);
    });
    driver.Add([&] {
        // Owned by the main window: always in front of it.
        Check(::GetWindow(progress, GW_OWNER) == main, "the progress window is owned by the main window");
        Check(ItemImage(list, 0) == ROW_IMAGE_RUNNING, "the row shows the running update");
        Shoot({main, progress}, "progress");
        return ::PostMessageW(main, WM_COMMAND, IDCANCEL, 0) != FALSE;
    });
    // Closing while the update runs asks first; the progress window keeps
    // taking input meanwhile.
    driver.Add([&] { return dialog() != nullptr && driver.Settle(6); });
    driver.Add([&] {
        Check(::IsWindowEnabled(progress) && ::IsWindowEnabled(::GetDlgItem(progress, IDC_PROGRESS_CANCEL)),
              "the progress window stays cancellable under the question");
        Shoot({dialog()}, "close-question");
        ::PostMessageW(dialog(), WM_COMMAND, IDCANCEL, 0);  // No: keep running
        return true;
    });
    driver.Add([&] { return dialog() == nullptr; });
    driver.Add([&] {
        Check(window.Core().GetUpdateDoc() != nullptr && window.Core().GetUpdateDoc()->GetThreadCount() == 1,
              "No keeps the update running");
        // Escape in the progress window, as typed: it reaches the modeless
        // window through the main window's modal loop.
        ::SetForegroundWindow(progress);
        ::SetFocus(::GetDlgItem(progress, IDC_PROGRESS_CANCEL));
        INPUT keys[2] = {};
        keys[0].type = keys[1].type = INPUT_KEYBOARD;
        keys[0].ki.wVk = keys[1].ki.wVk = VK_ESCAPE;
        keys[1].ki.dwFlags = KEYEVENTF_KEYUP;
        return ::SendInput(2, keys, sizeof(INPUT)) == 2;
    });
    // The cancelled update ends; a message about it is answered.
    driver.Add([&] {
        if (HWND message = dialog()) {
            ::PostMessageW(message, WM_COMMAND, IDOK, 0);
            return false;
        }
        return window.Core().GetUpdateDoc()->GetThreadCount() == 0 && ItemImage(list, 0) == ROW_IMAGE_FAILED;
    });
    driver.Add([&] {
        Check(true, "Escape in the progress window cancels the update");
        Check(ItemText(list, 0, 2) == versionBefore, "the instrument keeps its firmware");
        return true;
    });
    // The context menu of a row, the list emptied while the menu is open:
    // its entry still opens the properties of the row's instrument.
    driver.AddOpening([&] {
        RECT row{};
        ListView_GetItemRect(list, 0, &row, LVIR_BOUNDS);
        POINT at{(row.left + row.right) / 2, (row.top + row.bottom) / 2};
        ::ClientToScreen(list, &at);
        ::SetCursorPos(at.x, at.y);
        rowAddress = ItemText(list, 0, 3);
        NMHDR click{list, IDC_DEVICE_LIST, static_cast<UINT>(NM_RCLICK)};
        ::SendMessageW(main, WM_NOTIFY, IDC_DEVICE_LIST, reinterpret_cast<LPARAM>(&click));
    });
    driver.Add([&] { return ::FindWindowW(L"#32768", nullptr) != nullptr && driver.Settle(4); });
    driver.Add([&] {
        window.SetRows({});
        INPUT keys[4] = {};
        const WORD codes[2] = {VK_DOWN, VK_RETURN};
        for (int i = 0; i < 4; ++i) {
            keys[i].type = INPUT_KEYBOARD;
            keys[i].ki.wVk = codes[i / 2];
            keys[i].ki.dwFlags = (i % 2) ? KEYEVENTF_KEYUP : 0;
        }
        return ::SendInput(4, keys, sizeof(INPUT)) == 4;
    });
    driver.Add([&] { return dialog() != nullptr && driver.Settle(4); });
    driver.Add([&] {
        wchar_t group[128] = L"";
        ::GetDlgItemTextW(dialog(), IDC_PROPERTIES_GROUP, group, 128);
        Check(!rowAddress.empty() && std::wstring(group).find(rowAddress) != std::wstring::npos,
              "the context menu opens the clicked instrument's properties after a rebuild");
        ::PostMessageW(dialog(), WM_COMMAND, IDCANCEL, 0);
        return true;
    });
    driver.Add([&] { return dialog() == nullptr; });
    driver.Add([&] { return ::PostMessageW(main, WM_COMMAND, IDCANCEL, 0) != FALSE; });
    driver.Start();
    window.DoModal();
    Check(true, "the window closes");
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: korva-win-shots OUTPUT_DIR de|en\n");
        return 64;
    }
    g_out = argv[1];
    g_language = winui::Utf8(argv[2]);
    SetLanguageOverride(g_language == "de" ? 7 : 9);
    CUpdateLogFile log;
    CUpdateLogFile::SetCurrent(&log);
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES | ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
    ::InitCommonControlsEx(&controls);
    Check(AttachInstruments(), "the simulated USB library is loaded");
    {
        CWinUpdateWnd window(g_bUsbDllCreated.load() != 0);
        Run(window);
    }
    if (auto reset = g_simulated.Bind<PFN_KORVA_SimReset>("KORVA_SimReset")) reset();
    g_simulated.Free();
    DeleteUsbLibraryFile();
    CUpdateLogFile::SetCurrent(nullptr);
    return g_failures == 0 ? 0 : 1;
}
