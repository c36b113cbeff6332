#include "base/Strings.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "base/LogScrambler.h"
#include "base/UpdateLogFile.h"
#include "resources/strings/StringTable.h"

namespace {

constexpr uint16_t kGerman = 7;
constexpr uint16_t kEnglish = 9;

class StringsTest : public ::testing::Test {
protected:
    void TearDown() override { SetLanguageOverride(0); }
};

// Characters of UTF-8 text: every byte that is not a continuation byte.
size_t Utf8Length(std::string_view text) {
    size_t characters = 0;
    for (char c : text) characters += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return characters;
}

TEST_F(StringsTest, LoadsTheTextOfTheCurrentLanguage) {
    SetLanguageOverride(kEnglish);
    EXPECT_EQ(LoadStringResource(IDS_UPDATE_SUCCESSFUL), "The software update was successfull.");
    SetLanguageOverride(kGerman);
    EXPECT_EQ(LoadStringResource(IDS_UPDATE_SUCCESSFUL),
              "Die Aktualisierung der Firmware wurde erfolgreich durchgef\xC3\xBChrt.");
}

TEST_F(StringsTest, BrandNamesExistOnlyUnderTheirOwnNumber) {
    SetLanguageOverride(kEnglish);
    EXPECT_EQ(LoadStringResource(IDS_BRAND_MAIN), "");  // asks for 6300, which is missing
    EXPECT_EQ(FindStringResource(6300), nullptr);
    EXPECT_STREQ(FindStringResource(IDS_BRAND_MAIN), "KORVA");
    EXPECT_STREQ(FindStringResource(IDS_BRAND_SECOND), "D&S");
    SetLanguageOverride(kGerman);
    EXPECT_EQ(LoadStringResource(IDS_BRAND_MAIN), "KORVA");
}

TEST_F(StringsTest, MissingNumbersGiveAnEmptyText) {
    for (uint16_t language : {kGerman, kEnglish}) {
        SetLanguageOverride(language);
        EXPECT_EQ(LoadStringResource(6215), "");  // the gap in the progress texts
        EXPECT_EQ(LoadStringResource(UINT32_MAX), "");  // no wrap-around to a real number
    }
}

TEST_F(StringsTest, AMissingTextWritesExactlyOneErrorEntry) {
    char pattern[] = "/tmp/korva_strings_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::filesystem::path root = pattern;
    std::string logPath;
    {
        CUpdateLogFile log(root.string());
        CUpdateLogFile::SetCurrent(&log);
        SetLanguageOverride(kEnglish);
        EXPECT_EQ(LoadStringResource(IDS_BRAND_MAIN), "");
        EXPECT_EQ(LoadStringResource(IDS_BTN_OK), "OK");  // found: no entry
        CUpdateLogFile::SetCurrent(nullptr);
        EXPECT_FALSE(log.IsDiscardable());
        logPath = log.GetFilePath();
        log.Close();
    }
    std::ifstream file(logPath, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    std::filesystem::remove_all(root);
    CLogScrambler scrambler;
    scrambler.Apply(bytes.data(), bytes.size());
    const std::string text(bytes.begin(), bytes.end());

    const std::string entry = "Err - CBaseObject::LoadStringResource - 0x00000716";  // 1814
    const size_t first = text.find(entry);
    ASSERT_NE(first, std::string::npos) << text;
    EXPECT_EQ(text.find(entry, first + 1), std::string::npos) << text;
}

TEST_F(StringsTest, EveryGermanTextHasItsEnglishTwinAndNoEnglishStandsAlone) {
    size_t germanCount = 0;
    for (uint32_t id = 6000; id < 6400; ++id) {
        if (FindStringResource(id) == nullptr) continue;
        ++germanCount;
        const bool brand = id == IDS_BRAND_MAIN || id == IDS_BRAND_SECOND;
        EXPECT_EQ(FindStringResource(id + STRING_OFFSET_ENGLISH) != nullptr, !brand) << id;
    }
    for (uint32_t id = 6400; id < 6800; ++id) {
        if (FindStringResource(id) != nullptr) {
            EXPECT_NE(FindStringResource(id - STRING_OFFSET_ENGLISH), nullptr) << id;
        }
    }
    size_t rows = 0;
    resources::StringTableRows(&rows);
    EXPECT_EQ(germanCount, rows);
    EXPECT_EQ(germanCount, 77u);  // 58 named texts and 19 result-code texts besides 6218
}

TEST_F(StringsTest, TextsKeepTheirExactCharacters) {
    // Escapes, quotes and blanks are where a hand-typed table goes wrong.
    EXPECT_STREQ(FindStringResource(IDS_VERSION_NOT_AT_ONCE + 200),
                 "The software update you want is not possible at once!\r\n\r\nPlease, update the "
                 "software of your device first at least to the version \"02.121-xx.xxx\".");
    EXPECT_STREQ(FindStringResource(IDS_ADJUST_FAILED),
                 "Beim Abgleich des Gerätes ist ein Fehler aufgetreten!\nStarten Sie bitte den "
                 "automatischen Abgleichprozess erneut über das Gerätemenü\n\n'Settings -> "
                 "Selbstkalibrierung'. ");
    EXPECT_STREQ(FindStringResource(IDS_ADJUST_FAILED + 200),
                 "An error is occured during device adjustment!\nPlease, restart the automatic "
                 "adjustment process out of the device menu\n\n'Settings -> Self Calibration'. ");
    EXPECT_STREQ(FindStringResource(6266 + 200),
                 "A system error is occurred during process a port function.");
    const std::string conditions = FindStringResource(IDS_ASK_ADJUST_CONDITIONS + 200);
    EXPECT_NE(conditions.find("operating temperatur as well\r\n2.  the"), std::string::npos);
}

TEST_F(StringsTest, EveryTextIsWithinTheLengthLimit) {
    size_t count = 0;
    const resources::StringTableRow* rows = resources::StringTableRows(&count);
    for (size_t i = 0; i < count; ++i) {
        for (const char* text : {rows[i].german, rows[i].english}) {
            if (text == nullptr) continue;
            EXPECT_GT(Utf8Length(text), 0u) << rows[i].id;
            EXPECT_LE(Utf8Length(text), STRING_RESOURCE_MAX_CHARS) << rows[i].id;
        }
    }
}

TEST(StringTruncation, CountsCharactersAndNeverSplitsOne) {
    std::string text;
    for (int i = 0; i < 600; ++i) text += "\xC3\xA4";  // ä, two bytes each
    const std::string cut = TruncateUtf8(text, STRING_RESOURCE_MAX_CHARS);
    EXPECT_EQ(cut.size(), 511u * 2);
    EXPECT_EQ(Utf8Length(cut), 511u);

    EXPECT_EQ(TruncateUtf8("ab\xE2\x82\xAC" "cd", 3), "ab\xE2\x82\xAC");  // euro sign kept whole
    EXPECT_EQ(TruncateUtf8("ab\xE2\x82\xAC" "cd", 2), "ab");
    EXPECT_EQ(TruncateUtf8(std::string(512, 'x'), 511), std::string(511, 'x'));
    EXPECT_EQ(TruncateUtf8("abc", 0), "");
}

TEST_F(StringsTest, OverrideTakesOnlyThePrimaryLanguage) {
    SetLanguageOverride(0x0407);  // German (Germany) as a full language id
    EXPECT_EQ(GetUserLanguage(), kGerman);
    SetLanguageOverride(0x0C);  // French counts as English
    EXPECT_EQ(GetUserLanguage(), kEnglish);
    SetLanguageOverride(kEnglish);
    EXPECT_EQ(GetUserLanguage(), kEnglish);
}

TEST_F(StringsTest, WithoutOverrideTheLocaleDecides) {
    const char* saved = std::getenv("LC_ALL");
    const std::optional<std::string> previous = saved ? std::optional<std::string>(saved) : std::nullopt;

    setenv("LC_ALL", "de_DE.UTF-8", 1);
    EXPECT_EQ(GetUserLanguage(), kGerman);
    EXPECT_EQ(LoadStringResource(IDS_BTN_CANCEL), "Abbrechen");
    setenv("LC_ALL", "fr_FR.UTF-8", 1);
    EXPECT_EQ(GetUserLanguage(), kEnglish);
    EXPECT_EQ(LoadStringResource(IDS_BTN_CANCEL), "Cancel");
    setenv("LC_ALL", "C", 1);
    EXPECT_EQ(GetUserLanguage(), kEnglish);

    if (previous) {
        setenv("LC_ALL", previous->c_str(), 1);
    } else {
        unsetenv("LC_ALL");
    }
}

}  // namespace
