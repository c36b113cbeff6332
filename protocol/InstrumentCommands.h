// The instrument's language as this program speaks it: the SCPI messages it
// sends, and the debug monitor's commands and the answers the program looks
// for. Each text is typed once, here; the line protocol, the search and the
// update all read it. (The simulator keeps its own copy on purpose: one that
// shared these texts could not catch a mistake in them.) Constant data: any
// thread.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <string_view>

namespace instrument {

namespace detail {
// The parts joined at compile time, kept with a terminating zero so that
// the result also serves where a C string is wanted.
template <const std::string_view&... Parts>
struct Joined {
    static constexpr auto kChars = [] {
        std::array<char, (Parts.size() + ... + 1)> chars{};
        size_t at = 0;
        ((std::copy(Parts.begin(), Parts.end(), chars.begin() + at), at += Parts.size()), ...);
        return chars;
    }();
    static constexpr std::string_view kText{kChars.data(), kChars.size() - 1};
};
}  // namespace detail

template <const std::string_view&... Parts>
inline constexpr std::string_view kJoin = detail::Joined<Parts...>::kText;

// --- SCPI ---
inline constexpr std::string_view kIdentify = "*IDN?;";
inline constexpr std::string_view kReset = "*RST;";
inline constexpr std::string_view kClearStatus = "*CLS;";
// Service commands go in the same message behind the access key; the
// search has always used its short form.
inline constexpr std::string_view kServiceAccess = ":Service:Mode kAccess;";
inline constexpr std::string_view kServiceAccessShort = ":Service:Mode kac;";
// The switch into the debug monitor; the line protocol recognises it in a
// sent message by this header.
inline constexpr std::string_view kMonitorSwitchHeader = "System:Software:Monitor";
inline constexpr std::string_view kColon = ":";
inline constexpr std::string_view kSemicolon = ";";
inline constexpr std::string_view kMonitorSwitch = kJoin<kColon, kMonitorSwitchHeader, kSemicolon>;
inline constexpr std::string_view kSettingsQuery = ":System:Adjust?;";
inline constexpr std::string_view kClearError = ":System:CIError;";
inline constexpr std::string_view kModulesQuery = ":System:Hardware:Moduls?;";
inline constexpr std::string_view kAutoSave = ":Service:ASave;";
inline constexpr std::string_view kFactoryStore = ":Service:Factory:Store;";
inline constexpr std::string_view kPreset = ":System:Preset;";
// Followed by the number and ";".
inline constexpr std::string_view kSetSerialNumber = ":System:SNumber:Set ";
inline constexpr std::string_view kCalibrate = ":Calibrate:Self:All?;";
inline constexpr std::string_view kCalibrationOk = "0,\"No error\"";

// The messages as they are sent.
inline constexpr std::string_view kEnterMonitor = kJoin<kServiceAccess, kMonitorSwitch>;
inline constexpr std::string_view kReadSettings = kJoin<kServiceAccess, kSettingsQuery>;
inline constexpr std::string_view kServiceClearError = kJoin<kServiceAccess, kClearError>;
inline constexpr std::string_view kReadModules = kJoin<kServiceAccess, kModulesQuery>;
inline constexpr std::string_view kSearchModules = kJoin<kServiceAccessShort, kModulesQuery>;
inline constexpr std::string_view kServiceAutoSave = kJoin<kServiceAccess, kAutoSave>;
inline constexpr std::string_view kServiceFactoryStore = kJoin<kServiceAccess, kFactoryStore>;
inline constexpr std::string_view kServicePreset = kJoin<kServiceAccess, kPreset>;

// --- the debug monitor ---
inline constexpr std::string_view kMonitorPrompt = "MonDeb>";
// An empty command: the monitor answers it with its prompt.
inline constexpr std::string_view kMonitorEmpty = ";";
inline constexpr std::string_view kMonitorVersion = "v";
inline constexpr std::string_view kVersionAnswer = "Version:";
inline constexpr char kVersionFormat[] = "Version:\t%lf";
// "l ADDRESS LENGTH" (hexadecimal): take LENGTH image bytes into RAM.
inline constexpr char kLoadFormat[] = "l %x %x";
inline constexpr char kLoadAcceptedFormat[] = "Waiting for 0x%x bytes";
inline constexpr std::string_view kLoadAnswer = "Waiting for";
inline constexpr std::string_view kLoaded = "bytes loaded! OK";
// "z FIRST LAST": the sum over the bytes, printed after its heading.
inline constexpr char kChecksumFormat[] = "z %x %x";
inline constexpr std::string_view kChecksumHead = "Calculate Checksum";
// "cf FROM LENGTH TO": copy RAM into the FLASH.
inline constexpr char kFlashFormat[] = "cf %x %x %x";
inline constexpr std::string_view kIRamOk = "Load function in iRAM ...:  OK";
inline constexpr std::string_view kFlashOk = "Programming FLASH ...:  OK";
inline constexpr std::string_view kMonitorRestart = "rs";

}  // namespace instrument
