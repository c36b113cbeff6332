#include "platform/Locale.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>

namespace platform {

namespace {

struct IsoLanguage {
    char iso[3];
    uint16_t primary;
};

// ISO 639-1 code to Windows primary language id, for every id from 0x01 to
// 0x61 that has a two-letter code (Sorbian, Konkani, Manipuri, Syriac,
// Cherokee and Tamazight have none). The withdrawn codes iw, in and ji are
// still produced by some older systems. Sorted by code (checked below).
constexpr IsoLanguage kLanguages[] = {
    {"af", 0x36}, {"am", 0x5E}, {"ar", 0x01}, {"as", 0x4D}, {"az", 0x2C}, {"be", 0x23},
    {"bg", 0x02}, {"bn", 0x45}, {"bo", 0x51}, {"bs", 0x1A}, {"ca", 0x03}, {"cs", 0x05},
    {"cy", 0x52}, {"da", 0x06}, {"de", 0x07}, {"el", 0x08}, {"en", 0x09}, {"es", 0x0A},
    {"et", 0x25}, {"eu", 0x2D}, {"fa", 0x29}, {"fi", 0x0B}, {"fo", 0x38}, {"fr", 0x0C},
    {"ga", 0x3C}, {"gl", 0x56}, {"gu", 0x47}, {"he", 0x0D}, {"hi", 0x39}, {"hr", 0x1A},
    {"hu", 0x0E}, {"hy", 0x2B}, {"id", 0x21}, {"in", 0x21}, {"is", 0x0F}, {"it", 0x10},
    {"iu", 0x5D}, {"iw", 0x0D}, {"ja", 0x11}, {"ji", 0x3D}, {"ka", 0x37}, {"kk", 0x3F},
    {"km", 0x53}, {"kn", 0x4B}, {"ko", 0x12}, {"ks", 0x60}, {"ky", 0x40}, {"lo", 0x54},
    {"lt", 0x27}, {"lv", 0x26}, {"mk", 0x2F}, {"ml", 0x4C}, {"mn", 0x50}, {"mr", 0x4E},
    {"ms", 0x3E}, {"mt", 0x3A}, {"my", 0x55}, {"nb", 0x14}, {"ne", 0x61}, {"nl", 0x13},
    {"nn", 0x14}, {"no", 0x14}, {"or", 0x48}, {"pa", 0x46}, {"pl", 0x15}, {"pt", 0x16},
    {"rm", 0x17}, {"ro", 0x18}, {"ru", 0x19}, {"sa", 0x4F}, {"sd", 0x59}, {"se", 0x3B},
    {"si", 0x5B}, {"sk", 0x1B}, {"sl", 0x24}, {"sq", 0x1C}, {"sr", 0x1A}, {"st", 0x30},
    {"sv", 0x1D}, {"sw", 0x41}, {"ta", 0x49}, {"te", 0x4A}, {"tg", 0x28}, {"th", 0x1E},
    {"tk", 0x42}, {"tn", 0x32}, {"tr", 0x1F}, {"ts", 0x31}, {"tt", 0x44}, {"uk", 0x22},
    {"ur", 0x20}, {"uz", 0x43}, {"ve", 0x33}, {"vi", 0x2A}, {"xh", 0x34}, {"yi", 0x3D},
    {"zh", 0x04}, {"zu", 0x35},
};

constexpr bool IsStrictlySorted() {
    for (size_t i = 1; i < std::size(kLanguages); ++i) {
        const char* a = kLanguages[i - 1].iso;
        const char* b = kLanguages[i].iso;
        if (a[0] > b[0] || (a[0] == b[0] && a[1] >= b[1])) return false;
    }
    return true;
}
static_assert(IsStrictlySorted(), "kLanguages must be sorted by code without duplicates");

constexpr uint16_t kNeutral = 0x00;
constexpr uint16_t kEnglish = 0x09;

char Lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

uint16_t PrimaryLanguageFromIso(const char* iso639) {
    if (iso639 == nullptr || std::strlen(iso639) != 2) return kNeutral;
    const char key[2] = {Lower(iso639[0]), Lower(iso639[1])};
    const auto* end = std::end(kLanguages);
    const auto* it =
        std::lower_bound(std::begin(kLanguages), end, key, [](const IsoLanguage& l, const char* k) {
            return l.iso[0] < k[0] || (l.iso[0] == k[0] && l.iso[1] < k[1]);
        });
    return (it != end && it->iso[0] == key[0] && it->iso[1] == key[1]) ? it->primary : kNeutral;
}

#ifndef _WIN32  // win32/Locale.cpp asks the system
uint16_t UserPrimaryLanguage() {
    const char* value = nullptr;
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* v = std::getenv(name);
        if (v != nullptr && v[0] != '\0') {
            value = v;
            break;
        }
    }
    if (value == nullptr) return kEnglish;

    // language[_territory][.codeset][@modifier]; only the language counts.
    const std::string locale(value);
    const std::string language = locale.substr(0, locale.find_first_of("_.@"));
    if (language == "C" || language == "POSIX") return kEnglish;  // also "C.UTF-8"
    return PrimaryLanguageFromIso(language.c_str());
}
#endif

}  // namespace platform
