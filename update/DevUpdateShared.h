// What the files of CDevUpdateThread share: the log's view of reply text,
// the text formatting of monitor commands and a few bounds. For those files
// only.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "platform/Clock.h"

namespace devupdate {

// Beyond the interface's reply time, so that its own time-out comes first
// whenever it runs.
inline constexpr uint32_t kReplyTimeMarginMs = 500;
// A command the interface refuses as busy is sent again after this pause.
inline constexpr uint32_t kBusyRetryMs = 10;

inline uint32_t Elapsed(uint32_t start) { return platform::GetTickCount() - start; }

// A monitor command or answer with its hexadecimal numbers filled in.
template <typename... Numbers>
std::string Format(const char* format, Numbers... numbers) {
    char text[64];
    std::snprintf(text, sizeof text, format, numbers...);
    return text;
}

// A reply line as the log shows it. Lines may carry binary data (the
// hardware-module block) or garbage; written raw, a lone LF, a NUL or a
// byte that is no UTF-8 would make the log unreadable from there on, so
// such bytes are written as \xNN. Printable ASCII, TAB, CR LF and
// well-formed UTF-8 stay as they are.
std::string EscapeForLog(std::string_view line);

}  // namespace devupdate
