// The Windows window's modal dialogs, each run from its resource template
// over `owner` (the main window): the serial settings notice, the message
// dialog, the device properties, the update document's three questions,
// the question before closing while updates run, the About box and the log
// directory window. Texts come from the string tables in the user's
// language, or from the template where it has German and English twins.
//
// Thread: the main window's thread.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "device/DeviceList.h"
#include "update/DeviceUpdateDoc.h"

class CDeviceParameter;
class CInterfaceParameter;

namespace winui {

// UTF-8 to the system's UTF-16 and back.
std::wstring Wide(const std::string& utf8);
std::string Utf8(const std::wstring& wide);
bool IsGerman();
// A template with a German and an English twin: the English one is the
// German number + 200.
LPCWSTR LanguageTemplate(int germanId);
// LoadStringResource in the user's language, as UTF-16.
std::wstring Text(uint32_t id);
// String 6100 as stored, the brand name.
std::wstring BrandName();
// "<brand> - <text id>": the captions of the dialogs.
std::wstring BrandCaption(uint32_t id);
void SetItemText(HWND dialog, int id, const std::wstring& text);

// 1 Yes, 2 No (also the close box and Escape).
int ShowSerialSettingsNotice(HWND owner);
// 1 Yes, 0 No, the close box and Escape.
int AskCloseWhileUpdating(HWND owner);
void ShowMessageDialog(HWND owner, const CInterfaceParameter* port, const CDeviceParameter* record, uint32_t code);
// Reads the device on `port` from `list` (its own lock); a port no longer
// listed leaves the defaults.
void ShowDeviceProperties(HWND owner, CDeviceList& list, const CInterfaceParameter* port);
void ShowAboutBox(HWND owner);
void ShowLogDirectory(HWND owner);
// The log directory window's directory: `path` up to the separator before
// `name`, or `path` when it does not hold `name`.
std::string LogDirectoryOf(const std::string& path, const std::string& name);

// The update document's questions as these dialogs over the main window.
class CUpdateQuestions : public IUpdateDialogs {
public:
    explicit CUpdateQuestions(HWND* owner) : m_pOwner(owner) {}
    int ShowVersionNotAtOnce() override;
    int AskVersionChange(uint32_t flags) override;
    int AskAdjustment() override;

private:
    HWND* m_pOwner;  // the main window's handle, set once it exists
};

}  // namespace winui
