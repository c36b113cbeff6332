#include "tools/logread/LogReader.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "base/LogScrambler.h"

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsUpperHex(char c) { return IsDigit(c) || (c >= 'A' && c <= 'F'); }

// Length of the UTF-8 sequence at p (0 if it is not valid UTF-8 text).
size_t Utf8Length(const uint8_t* p, size_t left) {
    const uint8_t c = p[0];
    if (c < 0x80) {
        return (c >= 0x20 && c != 0x7F) || c == '\t' || c == '\r' || c == '\n' ? 1 : 0;
    }
    size_t n;
    uint32_t min;
    if ((c & 0xE0) == 0xC0) {
        n = 2;
        min = 0x80;
    } else if ((c & 0xF0) == 0xE0) {
        n = 3;
        min = 0x800;
    } else if ((c & 0xF8) == 0xF0) {
        n = 4;
        min = 0x10000;
    } else {
        return 0;
    }
    if (left < n) return 0;
    uint32_t cp = c & (0x7F >> n);
    for (size_t i = 1; i < n; ++i) {
        if ((p[i] & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (p[i] & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return n;
}

}  // namespace

bool IsEntryHeader(const char* s, size_t n) {
    // "HH:MM:SS mmmm - 0xTTTTTTTT - Msg" or "... - Err", then more or nothing
    static const char kShape[] = "99:99:99 9999 - 0xHHHHHHHH - ";
    const size_t shape = sizeof kShape - 1;
    if (n < shape + 3) return false;
    for (size_t i = 0; i < shape; ++i) {
        const char want = kShape[i];
        if (want == '9' ? !IsDigit(s[i]) : want == 'H' ? !IsUpperHex(s[i]) : s[i] != want) return false;
    }
    if (std::memcmp(s + shape, "Msg", 3) != 0 && std::memcmp(s + shape, "Err", 3) != 0) return false;
    // Then either nothing or " - " and the class (and for errors the code).
    const size_t rest = n - shape - 3;
    return rest == 0 || (rest > 3 && std::memcmp(s + shape + 3, " - ", 3) == 0);
}

bool MayBeUpdateLog(const uint8_t* data, size_t length) {
    // A header is some 30 characters and a class and function name.
    constexpr size_t kLongestHeader = 1024;
    std::vector<uint8_t> plain(data, data + std::min(length, kLongestHeader + 2));
    CLogScrambler scrambler;
    scrambler.Apply(plain.data(), plain.size());
    for (size_t i = 0; i < plain.size(); ++i) {
        if (plain[i] == '\n') return i >= 1 && plain[i - 1] == '\r' && IsEntryHeader(reinterpret_cast<const char*>(plain.data()), i - 1);
    }
    return plain.size() <= kLongestHeader + 1;
}

LogReadResult ReadUpdateLog(const uint8_t* data, size_t length) {
    LogReadResult result;
    std::vector<uint8_t> plain(data, data + length);
    CLogScrambler scrambler;
    scrambler.Apply(plain.data(), plain.size());

    size_t pos = 0;
    size_t goodEnd = 0;     // end of the last good line
    bool inEntry = false;
    auto fail = [&](size_t at, const char* why) {
        result.damagedAt = at;
        result.problem = why;
        result.text.assign(reinterpret_cast<const char*>(plain.data()), goodEnd);
        return result;
    };
    if (length == 0) return fail(0, "the file is empty");
    while (pos < length) {
        // One line, checked character by character.
        const size_t lineStart = pos;
        while (pos < length && plain[pos] != '\n') {
            const size_t n = Utf8Length(&plain[pos], length - pos);
            if (n == 0) return fail(pos, inEntry ? "damaged text inside an entry" : "not an update log");
            pos += n;
        }
        if (pos >= length) return fail(lineStart, "the last entry is cut off");
        ++pos;  // the LF
        const size_t lineLength = pos - lineStart;
        if (lineLength < 2 || plain[pos - 2] != '\r') return fail(lineStart, "a line without its CR LF end");
        const bool header = IsEntryHeader(reinterpret_cast<const char*>(&plain[lineStart]), lineLength - 2);
        if (header) {
            ++result.entries;
            inEntry = true;
        } else if (!inEntry) {
            return fail(lineStart, "not an update log");
        }
        goodEnd = pos;
    }
    result.clean = true;
    result.text.assign(reinterpret_cast<const char*>(plain.data()), plain.size());
    return result;
}
