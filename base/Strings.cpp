#include "base/Strings.h"

#include <atomic>

#include "base/BaseObject.h"
#include "platform/Locale.h"
#include "platform/SysError.h"
#include "resources/strings/StringTable.h"

namespace {

// Primary language id as in Windows LANGIDs: the low 10 bits.
constexpr uint16_t kPrimaryLanguageMask = 0x3FF;

// Relaxed is enough: the override is a single value with no data behind it.
std::atomic<uint16_t> g_languageOverride{0};

}  // namespace

uint16_t GetUserLanguage() {
    uint16_t language = g_languageOverride.load(std::memory_order_relaxed);
    if (language == 0) language = platform::UserPrimaryLanguage();
    return (language & kPrimaryLanguageMask) == LANG_GERMAN ? LANG_GERMAN : LANG_ENGLISH;
}

void SetLanguageOverride(uint16_t languageId) {
    g_languageOverride.store(languageId, std::memory_order_relaxed);
}

const char* FindStringResource(uint32_t id) {
    return resources::FindStringInTable(id);
}

std::string TruncateUtf8(std::string_view text, size_t maxChars) {
    size_t characters = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        // Continuation bytes (10xxxxxx) belong to the character before them.
        if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;
        if (characters == maxChars) return std::string(text.substr(0, i));
        ++characters;
    }
    return std::string(text);
}

std::string LoadStringResource(uint32_t id) {
    const uint32_t offset = GetUserLanguage() == LANG_GERMAN ? 0 : STRING_OFFSET_ENGLISH;
    const char* text = id <= UINT32_MAX - offset ? FindStringResource(id + offset) : nullptr;
    if (text == nullptr) {
        CBaseObject::LogError(ERROR_RESOURCE_NAME_NOT_FOUND, "LoadStringResource");
        return {};
    }
    // The texts were sized for a 512-character buffer; keep that limit so a
    // caller never sees more than it would have.
    return TruncateUtf8(text, STRING_RESOURCE_MAX_CHARS);
}
