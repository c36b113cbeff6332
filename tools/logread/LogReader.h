// Reading an update log back: unscramble and check that what comes out is
// the text the program wrote, so that a damaged or foreign file is reported
// as such instead of being printed as garbage.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct LogReadResult {
    std::string text;        // the whole text when clean, else the good lines before the damage
    bool clean = false;      // every byte belonged to a well-formed entry
    size_t entries = 0;      // entries (headers) in `text`
    size_t damagedAt = 0;    // byte offset of the first bad byte when not clean
    std::string problem;     // why it is not clean, in English
};

// Unscrambles `data` from its first byte and checks it entry by entry: each
// entry starts with the header line "HH:MM:SS mmmm - 0xTTTTTTTT - Msg|Err",
// text is UTF-8 without control characters other than TAB, CR and LF, and
// the file ends with a complete line. Nothing from the first bad line on is
// returned.
LogReadResult ReadUpdateLog(const uint8_t* data, size_t length);

// False once the first bytes of a file (`length` of them, scrambled) show it
// is no update log: its first line is no entry header, or no line end comes
// within the length a header can have. True while it may still be one.
bool MayBeUpdateLog(const uint8_t* data, size_t length);

// An update log is far smaller; input beyond this is not read.
inline constexpr size_t kMaxUpdateLogBytes = size_t{64} << 20;

// True when `line` (without its line end) is an entry header.
bool IsEntryHeader(const char* line, size_t length);
