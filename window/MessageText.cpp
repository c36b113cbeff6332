#include "window/MessageText.h"

#include "base/ResultCodes.h"
#include "base/StringIds.h"
#include "base/Strings.h"
#include "device/DeviceParameter.h"

namespace {
// Longest message the dialog shows for text 6264 with its version filled in.
constexpr size_t kFormattedMessageMaxChars = 127;
}  // namespace

std::string MessageDialogText(uint32_t code, const CDeviceParameter* record) {
    if (IsResultCode(code)) {
        uint32_t textId = 0;
        uint32_t discardable = 0;
        if (LookupResultCode(code, &textId, &discardable)) return LoadStringResource(textId);
        return "Unknown Error!";
    }
    if (code == IDS_SW_VERSION_REQUIRED) {
        // The version is put in by hand rather than handing a stored text to
        // a printf format: only the one "%s" is meant to be replaced.
        std::string text = LoadStringResource(IDS_SW_VERSION_REQUIRED);
        const size_t at = text.find("%s");
        if (at != std::string::npos) text.replace(at, 2, record ? record->GetRequiredSoftwareVersion() : "");
        return TruncateUtf8(text, kFormattedMessageMaxChars);
    }
    return LoadStringResource(code);
}
