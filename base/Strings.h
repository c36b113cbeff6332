// Texts of the program in German and English, and the language choice.
//
// Every user-visible text is a string number: the German text has the number
// given, its English twin that number + 200. LoadStringResource adds the
// offset of the current language.
// Thread: any.
#pragma once

#include <cstdint>
#include <string>

#include "base/StringIds.h"

// 7 (German) when the user's language is German, 9 (English) otherwise.
uint16_t GetUserLanguage();

// Forces a language for the rest of the process (a front end's option, and
// tests); 0 returns to the user's locale.
void SetLanguageOverride(uint16_t languageId);

// The text of string `id` in the current language (id + 0 German, id + 200
// English), at most 511 characters. A missing string gives "" and one error
// entry in the update log (class "CBaseObject", method "LoadStringResource").
std::string LoadStringResource(uint32_t id);

// The text stored under exactly `id` (no language offset), or nullptr.
const char* FindStringResource(uint32_t id);
