// Texts of the program in German and English, and the language choice.
//
// Every user-visible text is a string number: the German text has the number
// given, its English twin that number + 200. LoadStringResource adds the
// offset of the current language.
// Thread: any.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/StringIds.h"

// English twin of German string number n: n + STRING_OFFSET_ENGLISH.
inline constexpr uint32_t STRING_OFFSET_ENGLISH = 200;
// Longest text LoadStringResource returns, in characters.
inline constexpr size_t STRING_RESOURCE_MAX_CHARS = 511;

// 7 (German) when the user's language is German, 9 (English) otherwise.
// A language forced with SetLanguageOverride takes the user's place, so all
// language decisions of the program follow it.
uint16_t GetUserLanguage();

// Forces a language for the rest of the process (a front end's option, and
// tests); 0 returns to the user's locale. Only the primary language counts
// (low 10 bits): 7 is German, anything else English.
void SetLanguageOverride(uint16_t languageId);

// The text of string `id` in the current language (id + 0 German, id + 200
// English), at most 511 characters. A missing string gives "" and one error
// entry in the update log (class "CBaseObject", method "LoadStringResource").
std::string LoadStringResource(uint32_t id);

// The text stored under exactly `id` (no language offset), or nullptr.
const char* FindStringResource(uint32_t id);

// The first `maxChars` characters of UTF-8 `text`; never cuts a character in
// two.
std::string TruncateUtf8(std::string_view text, size_t maxChars);
