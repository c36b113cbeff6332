#include "winui/WinDialogs.h"

#include <commctrl.h>

#include <algorithm>
#include <vector>

#include "base/BaseObject.h"
#include "base/StringIds.h"
#include "base/Strings.h"
#include "base/UpdateLogFile.h"
#include "device/DeviceParameter.h"
#include "device/DeviceTables.h"
#include "transport/InterfaceParameter.h"
#include "window/MessageText.h"
#include "window/ProgramVersion.h"
#include "winui/ResourceIds.h"

namespace winui {

std::wstring Wide(const std::string& utf8) {
    if (utf8.empty()) return {};
    const int n = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
    return out;
}

std::string Utf8(const std::wstring& wide) {
    if (wide.empty()) return {};
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), out.data(), n, nullptr, nullptr);
    return out;
}

bool IsGerman() { return (GetUserLanguage() & 0x3FF) == 7; }

LPCWSTR LanguageTemplate(int germanId) { return MAKEINTRESOURCEW(IsGerman() ? germanId : germanId + 200); }

std::wstring Text(uint32_t id) { return Wide(LoadStringResource(id)); }

std::wstring BrandName() {
    const char* brand = FindStringResource(IDS_BRAND_MAIN);
    return brand != nullptr ? Wide(brand) : std::wstring();
}

std::wstring BrandCaption(uint32_t id) { return BrandName() + L" - " + Text(id); }

void SetItemText(HWND dialog, int id, const std::wstring& text) { ::SetDlgItemTextW(dialog, id, text.c_str()); }

namespace {

HINSTANCE Instance() { return ::GetModuleHandleW(nullptr); }

// A dialog procedure for a template whose buttons end it: `init` fills it,
// each button ends it with the value the table gives (the close box and
// Escape come as IDCANCEL).
struct ButtonDialog {
    void (*init)(HWND dialog, const void* context);
    const void* context;
    int okResult;
    int cancelResult;
};

INT_PTR CALLBACK ButtonDialogProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto* setup = reinterpret_cast<const ButtonDialog*>(::GetWindowLongPtrW(dialog, DWLP_USER));
    switch (msg) {
        case WM_INITDIALOG:
            ::SetWindowLongPtrW(dialog, DWLP_USER, lParam);
            setup = reinterpret_cast<const ButtonDialog*>(lParam);
            if (setup->init != nullptr) setup->init(dialog, setup->context);
            return TRUE;
        case WM_COMMAND:
            if (setup == nullptr) return FALSE;
            switch (LOWORD(wParam)) {
                case IDOK:
                    // A hidden or disabled button's Enter does not answer for it.
                    if (!::IsWindowVisible(::GetDlgItem(dialog, IDOK)) || !::IsWindowEnabled(::GetDlgItem(dialog, IDOK)))
                        return TRUE;
                    ::EndDialog(dialog, setup->okResult);
                    return TRUE;
                case IDCANCEL:
                    ::EndDialog(dialog, setup->cancelResult);
                    return TRUE;
            }
            return FALSE;
    }
    return FALSE;
}

INT_PTR Run(HWND owner, LPCWSTR id, const ButtonDialog& setup) {
    return ::DialogBoxParamW(Instance(), id, owner, ButtonDialogProc, reinterpret_cast<LPARAM>(&setup));
}

void SetButtonTexts(HWND dialog, uint32_t ok, uint32_t cancel) {
    if (ok != 0) SetItemText(dialog, IDOK, Text(ok));
    if (cancel != 0) SetItemText(dialog, IDCANCEL, Text(cancel));
}

void InitCloseQuestion(HWND dialog, const void*) { ::SetWindowTextW(dialog, BrandName().c_str()); }

struct MessageContext {
    const CInterfaceParameter* port;
    const CDeviceParameter* record;
    uint32_t code;
};

void InitMessage(HWND dialog, const void* context) {
    const auto& c = *static_cast<const MessageContext*>(context);
    ::SetWindowTextW(dialog, BrandCaption(IDS_TITLE_WARNING).c_str());
    SetItemText(dialog, IDC_ADDRESS_LABEL, Text(IDS_LABEL_ADDRESS));
    SetItemText(dialog, 6062, Text(IDS_LABEL_DEVICE_NAME));
    SetItemText(dialog, 6066, Text(IDS_LABEL_HARDWARE_ID));
    if (c.port != nullptr) SetItemText(dialog, IDC_ADDRESS, Wide(c.port->GetName()));
    if (c.record != nullptr) {
        SetItemText(dialog, 6063, Wide(c.record->GetDeviceName()));
        SetItemText(dialog, 6067, Wide(c.record->GetHardwareIdText()));
        SetItemText(dialog, IDC_STEP_TEXT, Wide(MessageDialogText(c.code, c.record)));
    }
    SetButtonTexts(dialog, IDS_BTN_OK, 0);
}

struct PropertiesContext {
    CDeviceList* list;
    const CInterfaceParameter* port;
};

void InitProperties(HWND dialog, const void* context) {
    const auto& c = *static_cast<const PropertiesContext*>(context);
    ::SetWindowTextW(dialog, BrandCaption(IDS_TITLE_DEVICE_PROPERTIES).c_str());
    SetItemText(dialog, 6062, Text(IDS_LABEL_DEVICE_NAME));
    SetItemText(dialog, 6064, Text(IDS_LABEL_SERIAL_NUMBER));
    SetItemText(dialog, 6066, Text(IDS_LABEL_HARDWARE_ID));
    SetItemText(dialog, 6068, Text(IDS_LABEL_SOFTWARE_VERSION));
    SetItemText(dialog, 6070, Text(IDS_LABEL_BOARD_IDS));
    SetItemText(dialog, 6065, L"0");
    SetButtonTexts(dialog, 0, IDS_BTN_CANCEL);
    if (c.list == nullptr || c.port == nullptr) return;
    // The device is found by its port, not by the clicked row's number: the
    // list's sorted rows need not be in the device list's order.
    const int row = c.list->FindEntry(c.port);
    PortPtr port;
    DevicePtr record;
    if (row == -1 || !c.list->GetDeviceAt(row, &port, &record, nullptr) || !record || !port) return;
    std::string group = " ";
    group.append(record->GetDeviceType()).append(" - ").append(port->GetName()).append(" ");
    SetItemText(dialog, IDC_PROPERTIES_GROUP, Wide(group));
    SetItemText(dialog, 6063, Wide(record->GetDeviceName()));
    SetItemText(dialog, 6065, Wide(record->GetSerialNumber()));
    SetItemText(dialog, 6067, Wide(record->GetHardwareIdText()));
    SetItemText(dialog, 6069, Wide(record->GetSoftwareVersion()));
    const struct {
        int id;
        BoardSlot slot;
    } boards[] = {{6071, BOARD_AB}, {6072, BOARD_CRT}, {6073, BOARD_FC}, {6080, BOARD_IF}, {6074, BOARD_MB},
                  {6075, BOARD_MC}, {6076, BOARD_PS},  {6077, BOARD_TE}, {6078, BOARD_YF}, {6079, BOARD_YP}};
    for (const auto& board : boards) SetItemText(dialog, board.id, std::to_wstring(record->GetBoardId(board.slot)));
}

void InitVersionQuestion(HWND dialog, const void* context) {
    const uint32_t flags = *static_cast<const uint32_t*>(context);
    const bool impossible = (flags & VC_CHANGE_IMPOSSIBLE) != 0;
    ::SetWindowTextW(dialog, BrandCaption(IDS_TITLE_VERSION_CHECK).c_str());
    if (flags & VC_DOWNGRADE) SetItemText(dialog, IDC_TEXT1, Text(IDS_VERSION_NEWER));
    SetItemText(dialog, IDC_TEXT2, Text(impossible ? IDS_VERSION_CHANGE_IMPOSSIBLE : IDS_ASK_START_UPDATE));
    SetButtonTexts(dialog, IDS_BTN_YES, impossible ? IDS_BTN_CANCEL : IDS_BTN_NO);
    if (impossible) ::ShowWindow(::GetDlgItem(dialog, IDOK), SW_HIDE);
}

void InitAdjustmentNotice(HWND dialog, const void*) {
    ::SetWindowTextW(dialog, BrandCaption(IDS_TITLE_VERSION_CHECK).c_str());
    SetItemText(dialog, IDC_TEXT1, Text(IDS_ASK_ADJUST_NOTE));
    SetItemText(dialog, IDC_TEXT2, Text(IDS_ASK_ADJUST_CONDITIONS));
    SetItemText(dialog, IDC_TEXT3, Text(IDS_ASK_START_UPDATE));
    SetButtonTexts(dialog, IDS_BTN_YES, IDS_BTN_NO);
}

void InitStepNotice(HWND dialog, const void*) {
    ::SetWindowTextW(dialog, BrandCaption(IDS_TITLE_VERSION_CHECK).c_str());
    SetItemText(dialog, IDC_TEXT1, Text(IDS_VERSION_NOT_AT_ONCE));
    SetButtonTexts(dialog, 0, IDS_BTN_CANCEL);
}

void InitAbout(HWND dialog, const void*) { SetItemText(dialog, IDC_ABOUT_VERSION, Wide(kProgramFileVersion)); }

// The log directory window keeps its own procedure: Open Directory does not
// end it.
struct LogDirectory : CObject {
    KORVA_RUNTIME_CLASS(CUpdateLogFileDirectoryWnd)
    std::wstring directory;
};

INT_PTR CALLBACK LogDirectoryProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<LogDirectory*>(::GetWindowLongPtrW(dialog, DWLP_USER));
    switch (msg) {
        case WM_INITDIALOG: {
            ::SetWindowLongPtrW(dialog, DWLP_USER, lParam);
            self = reinterpret_cast<LogDirectory*>(lParam);
            std::string path, name;
            if (CUpdateLogFile* log = CUpdateLogFile::Current()) {
                path = log->GetFilePath();
                name = log->GetFileName();
            }
            // The log joins its folder and name with '/', which Windows
            // accepts; the user and the file browser see its own separator.
            std::replace(path.begin(), path.end(), '/', '\\');
            self->directory = Wide(LogDirectoryOf(path, name));
            ::SetWindowTextW(dialog, BrandCaption(IDS_TITLE_LOG_DIRECTORY).c_str());
            SetItemText(dialog, IDC_TEXT1, Text(IDS_LABEL_PATH));
            SetItemText(dialog, IDC_LOG_PATH, self->directory);
            SetItemText(dialog, IDC_TEXT2, Text(IDS_LABEL_FILE));
            SetItemText(dialog, IDC_LOG_FILE, Wide(name));
            SetItemText(dialog, IDC_OPEN_DIRECTORY, Text(IDS_BTN_OPEN_DIRECTORY));
            SetButtonTexts(dialog, 0, IDS_BTN_CANCEL);
            return TRUE;
        }
        case WM_COMMAND:
            if (self == nullptr) return FALSE;
            if (LOWORD(wParam) == IDC_OPEN_DIRECTORY) {
                // "%SystemRoot%\explorer.exe" "<directory>"
                wchar_t root[MAX_PATH] = L"";
                ::GetEnvironmentVariableW(L"SystemRoot", root, MAX_PATH);
                std::wstring line = L"\"" + std::wstring(root) + L"\\explorer.exe\" \"" + self->directory + L"\"";
                STARTUPINFOW startup{};
                startup.cb = sizeof startup;
                PROCESS_INFORMATION process{};
                if (::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                                     &process)) {
                    ::CloseHandle(process.hThread);
                    ::CloseHandle(process.hProcess);
                } else {
                    // No message to the user: the path is in front of them.
                    CBaseObject::LogError(self, ::GetLastError(), nullptr);
                }
                return TRUE;
            }
            if (LOWORD(wParam) == IDCANCEL) {
                ::EndDialog(dialog, IDCANCEL);
                return TRUE;
            }
            return FALSE;
    }
    return FALSE;
}

}  // namespace

std::string LogDirectoryOf(const std::string& path, const std::string& name) {
    if (name.empty()) return path;
    const size_t at = path.find(name);
    if (at == std::string::npos) return path;
    return at > 0 ? path.substr(0, at - 1) : std::string();
}

int ShowSerialSettingsNotice(HWND owner) {
    const ButtonDialog setup{nullptr, nullptr, 1, 2};
    return Run(owner, LanguageTemplate(IDD_SERIAL_NOTICE_DE), setup) == 1 ? 1 : 2;
}

int AskCloseWhileUpdating(HWND owner) {
    const ButtonDialog setup{InitCloseQuestion, nullptr, 1, 0};
    return Run(owner, LanguageTemplate(IDD_CLOSE_QUESTION_DE), setup) == 1 ? 1 : 0;
}

void ShowMessageDialog(HWND owner, const CInterfaceParameter* port, const CDeviceParameter* record, uint32_t code) {
    const MessageContext context{port, record, code};
    const ButtonDialog setup{InitMessage, &context, 1, 1};
    Run(owner, MAKEINTRESOURCEW(IDD_MESSAGE), setup);
}

void ShowDeviceProperties(HWND owner, CDeviceList& list, const CInterfaceParameter* port) {
    const PropertiesContext context{&list, port};
    const ButtonDialog setup{InitProperties, &context, 2, 2};
    Run(owner, MAKEINTRESOURCEW(IDD_PROPERTIES), setup);
}

void ShowAboutBox(HWND owner) {
    const ButtonDialog setup{InitAbout, nullptr, 1, 1};
    Run(owner, MAKEINTRESOURCEW(IDD_ABOUT), setup);
}

void ShowLogDirectory(HWND owner) {
    LogDirectory state;
    ::DialogBoxParamW(Instance(), MAKEINTRESOURCEW(IDD_LOG_DIRECTORY), owner, LogDirectoryProc,
                      reinterpret_cast<LPARAM>(&state));
}

int CUpdateQuestions::ShowVersionNotAtOnce() {
    const ButtonDialog setup{InitStepNotice, nullptr, 0, 0};
    Run(*m_pOwner, MAKEINTRESOURCEW(IDD_STEP_NOTICE), setup);
    return 0;
}

int CUpdateQuestions::AskVersionChange(uint32_t flags) {
    flags &= VC_DOWNGRADE | VC_CHANGE_IMPOSSIBLE;
    if (flags == 0) return 1;
    const ButtonDialog setup{InitVersionQuestion, &flags, 1, 0};
    const INT_PTR result = Run(*m_pOwner, MAKEINTRESOURCEW(IDD_VERSION_QUESTION), setup);
    // A refused change can never be agreed to.
    return (flags & VC_CHANGE_IMPOSSIBLE) ? 0 : (result == 1 ? 1 : 0);
}

int CUpdateQuestions::AskAdjustment() {
    const ButtonDialog setup{InitAdjustmentNotice, nullptr, 1, 0};
    return Run(*m_pOwner, MAKEINTRESOURCEW(IDD_ADJUSTMENT_NOTICE), setup) == 1 ? 1 : 0;
}

}  // namespace winui
