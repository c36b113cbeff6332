#include "sim/InstrumentText.h"

#include <cctype>
#include <cstdarg>
#include <cstdio>

namespace sim {

std::string Format(const char* format, ...) {
    char buffer[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    return buffer;
}

std::string Upper(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

std::string Trim(std::string_view s, std::string_view set) {
    const size_t first = s.find_first_not_of(set);
    if (first == std::string_view::npos) return {};
    const size_t last = s.find_last_not_of(set);
    return std::string(s.substr(first, last - first + 1));
}

}  // namespace sim
