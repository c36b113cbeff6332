#include "platform/Locale.h"

#include "platform/win32/Win32.h"

namespace platform {

uint16_t UserPrimaryLanguage() {
    // The language of the user's interface, not of the number formats.
    return PRIMARYLANGID(::GetUserDefaultUILanguage());
}

}  // namespace platform
