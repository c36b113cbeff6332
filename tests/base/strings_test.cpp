#include "base/Strings.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "base/UpdateLogFile.h"
#include "resources/strings/StringTable.h"
#include "support/LogCapture.h"

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

TEST_F(StringsTest, AMissingTextWritesExactlyOneErrorEntry) {
    TempDir temp;
    std::string logPath;
    {
        CUpdateLogFile log(temp.Path());
        CUpdateLogFile::SetCurrent(&log);
        SetLanguageOverride(kEnglish);
        EXPECT_EQ(LoadStringResource(IDS_BRAND_MAIN), "");
        EXPECT_EQ(LoadStringResource(IDS_BTN_OK), "OK");  // found: no entry
        CUpdateLogFile::SetCurrent(nullptr);
        EXPECT_FALSE(log.IsDiscardable());
        logPath = log.GetFilePath();
    }
    const std::string text = ReadLogText(logPath);

    const std::string entry = "Err - CBaseObject::LoadStringResource - 0x00000716";  // 1814
    const size_t first = text.find(entry);
    ASSERT_NE(first, std::string::npos) << text;
    EXPECT_EQ(text.find(entry, first + 1), std::string::npos) << text;
}

// On Windows the texts come from the program's string table resources,
// written from the rows at build time: each must arrive byte for byte
// (umlauts, quotes, line ends).
TEST_F(StringsTest, EveryTextArrivesWholeWithItsTwinAndNoneStandsOutsideTheRows) {
    size_t count = 0;
    const resources::StringTableRow* rows = resources::StringTableRows(&count);
    std::set<uint32_t> ids;
    for (size_t i = 0; i < count; ++i) {
        ids.insert(rows[i].id);
        EXPECT_STREQ(FindStringResource(rows[i].id), rows[i].german);
        EXPECT_STREQ(FindStringResource(rows[i].id + STRING_OFFSET_ENGLISH), rows[i].english);
        const bool brand = rows[i].id == IDS_BRAND_MAIN || rows[i].id == IDS_BRAND_SECOND;
        EXPECT_EQ(rows[i].english != nullptr, !brand) << rows[i].id;
        for (const char* text : {rows[i].german, rows[i].english}) {
            if (text == nullptr) continue;
            EXPECT_GT(Utf8Length(text), 0u) << rows[i].id;
            EXPECT_LE(Utf8Length(text), STRING_RESOURCE_MAX_CHARS) << rows[i].id;
        }
    }
    for (uint32_t id = 6000; id < 6800; ++id) {
        const bool known = ids.count(id) + ids.count(id - STRING_OFFSET_ENGLISH) > 0;
        EXPECT_TRUE(known || FindStringResource(id) == nullptr) << id;
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

}  // namespace
