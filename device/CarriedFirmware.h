// The identity of the firmware image this program carries and the makers
// whose instruments it accepts. Typed once here: the device tables, the
// window's title and start-up log, the command line's help and the maker
// checks of the search and of the update all read it. (The simulator keeps
// its own copy on purpose, and a test compares the embedded image's header
// with these values.) Constant data: any thread.
#pragma once

#include <string_view>

namespace carried {

inline constexpr char kModel[] = "QV3108-2";
inline constexpr char kVersion1[] = "05.306";
inline constexpr char kVersion2[] = "02.011";

// A maker field names an accepted maker when it contains one of these (the
// field carries the company's full name).
inline constexpr std::string_view kMakers[] = {"KORVA", "D+S Vantor"};

constexpr bool IsAcceptedMaker(std::string_view makerField) {
    for (const std::string_view maker : kMakers)
        if (makerField.find(maker) != std::string_view::npos) return true;
    return false;
}

}  // namespace carried
