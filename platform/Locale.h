// The user's language, from the POSIX locale variables.
#pragma once

#include <cstdint>

namespace platform {

// Primary language id (Windows numbering: 0x07 German, 0x09 English,
// 0x0C French, ...) of the user's locale, read from LC_ALL, then
// LC_MESSAGES, then LANG; the first that is set and not empty decides.
// "C", "POSIX", unset or unknown language codes give 0x09 (English) for
// unset/C/POSIX and 0x00 (neutral) for a code that has no Windows id.
uint16_t UserPrimaryLanguage();

// Maps an ISO 639-1 code ("de", "fr", ...) to the Windows primary language
// id; 0 when the code has none.
uint16_t PrimaryLanguageFromIso(const char* iso639);

}  // namespace platform
