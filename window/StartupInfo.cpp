#include "window/StartupInfo.h"

#include <cstdio>

#include "window/ProgramVersion.h"
#include "platform/Locale.h"
#include "platform/SystemInfo.h"

namespace {

struct LanguageRow {
    uint16_t id;
    const char* name;
};

// Names as the log has always written them (spellings included).
constexpr LanguageRow kLanguageNames[] = {
    {0x00, "Neutral"},   {0x01, "Arabic"},     {0x02, "Bulgarian"},   {0x03, "Catalan"},
    {0x04, "Chinese"},   {0x05, "Czech"},      {0x06, "Danish"},      {0x07, "German"},
    {0x08, "Greek"},     {0x09, "English"},    {0x0A, "Spanish"},     {0x0B, "Finnish"},
    {0x0C, "French"},    {0x0D, "Hebrew"},     {0x0E, "Hungarian"},   {0x0F, "Icelandic"},
    {0x10, "Italian"},   {0x11, "Japanese"},   {0x12, "Korean"},      {0x13, "Dutch"},
    {0x14, "Norwegian"}, {0x15, "Polish"},     {0x16, "Portuguese"},  {0x18, "Romanian"},
    {0x19, "Russian"},   {0x1A, "Croatian/Serbian"}, {0x1B, "Slovak"}, {0x1C, "Albanian"},
    {0x1D, "Swedish"},   {0x1E, "Thai"},       {0x1F, "Turkish"},     {0x20, "Urdu"},
    {0x21, "Indonesian"}, {0x22, "Ukrainian"}, {0x23, "Belarusian"},  {0x24, "Slovenian"},
    {0x25, "Estonian"},  {0x26, "Latvian"},    {0x27, "Lithuanian"},  {0x29, "Farsi"},
    {0x2A, "Vietnamese"}, {0x2B, "Armenian"},  {0x2C, "Azeri"},       {0x2D, "Basque"},
    {0x2F, "Macedonian"}, {0x36, "Afrikaans"}, {0x37, "Georgian"},    {0x38, "Faeroese"},
    {0x39, "Hindi"},     {0x3E, "Malay"},      {0x3F, "Kazak"},       {0x41, "Swahili"},
    {0x43, "Uzbek"},     {0x44, "Tatar"},      {0x45, "Bengali"},     {0x46, "Punjabi"},
    {0x47, "Gujarati"},  {0x48, "Oriya"},      {0x49, "Tamil"},       {0x4A, "Teluga"},
    {0x4B, "Kannada"},   {0x4C, "Malayalam"},  {0x4D, "Assamese"},    {0x4E, "Marathi"},
    {0x4F, "Sanskrit"},  {0x57, "Konkani"},    {0x58, "Manipuri"},    {0x59, "Sindhi"},
    {0x60, "Kashmiri"},  {0x61, "Nepali"},
};

}  // namespace

std::string LanguageName(uint16_t languageId) {
    const uint16_t primary = languageId & 0x3FF;
    for (const LanguageRow& row : kLanguageNames) {
        if (row.id == primary) return row.name;
    }
    char text[32];
    std::snprintf(text, sizeof text, "Unknown (0x%04X)", static_cast<unsigned>(primary));
    return text;
}

std::string BuildStartupReport(const StartupFacts& facts) {
    std::string text = facts.operatingSystemLine;
    if (!text.empty()) text += "\r\n";
    text += "User Language: " + LanguageName(facts.userLanguage) + "\r\n";
    if (facts.hasTimeIncrement) {
        char line[64];
        std::snprintf(line, sizeof line, "System Time Increment: %.4f ms\r\n", facts.timeIncrementMs);
        text += line;
    }
    text += facts.usbLibraryLine;
    char tail[160];
    std::snprintf(tail, sizeof tail, "Customer Update (Firmware Version: %s-%s) - File Version: %s\r\n",
                  carried::kVersion1, carried::kVersion2, kProgramFileVersion);
    text += tail;
    return text;
}

StartupFacts GatherStartupFacts() {
    StartupFacts facts;
    facts.operatingSystemLine = platform::OperatingSystemLine();
    facts.userLanguage = platform::UserPrimaryLanguage();
    facts.hasTimeIncrement = platform::SystemTimeIncrementMs(facts.timeIncrementMs);
    return facts;
}
