#include "platform/Locale.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

namespace {

using platform::PrimaryLanguageFromIso;
using platform::UserPrimaryLanguage;

// Clears the three locale variables for the test and puts them back after.
class UserLanguage : public ::testing::Test {
  protected:
    static constexpr const char* kNames[] = {"LC_ALL", "LC_MESSAGES", "LANG"};
    void SetUp() override {
        for (int i = 0; i < 3; ++i) {
            if (const char* v = std::getenv(kNames[i])) m_saved[i] = v;
            unsetenv(kNames[i]);
        }
    }
    void TearDown() override {
        for (int i = 0; i < 3; ++i) {
            if (m_saved[i])
                setenv(kNames[i], m_saved[i]->c_str(), 1);
            else
                unsetenv(kNames[i]);
        }
    }
    static uint16_t WithLang(const char* value) {
        setenv("LANG", value, 1);
        return UserPrimaryLanguage();
    }
    std::optional<std::string> m_saved[3];
};

TEST_F(UserLanguage, LocaleNameForms) {
    EXPECT_EQ(UserPrimaryLanguage(), 0x09);  // nothing set
    for (const char* english : {"C", "POSIX", "C.UTF-8", "", "en_GB.UTF-8"}) {
        EXPECT_EQ(WithLang(english), 0x09) << english;
    }
    for (const char* german : {"de_DE.UTF-8", "de", "de_AT@euro", "de.ISO-8859-1"}) {
        EXPECT_EQ(WithLang(german), 0x07) << german;
    }
    EXPECT_EQ(WithLang("fr_CA"), 0x0C);
    EXPECT_EQ(WithLang("sr_RS@latin"), 0x1A);
    // No Windows id: three-letter codes, unknown codes, paths, a lower-case "c".
    for (const char* neutral : {"xx_XX.UTF-8", "fil_PH", "_DE", "/usr/lib/locale/x", "c"}) {
        EXPECT_EQ(WithLang(neutral), 0x00) << neutral;
    }
}

TEST_F(UserLanguage, FirstSetAndNonEmptyVariableDecides) {
    setenv("LANG", "fr_FR.UTF-8", 1);
    setenv("LC_MESSAGES", "it_IT.UTF-8", 1);
    setenv("LC_ALL", "de_DE.UTF-8", 1);
    EXPECT_EQ(UserPrimaryLanguage(), 0x07);
    setenv("LC_ALL", "", 1);
    EXPECT_EQ(UserPrimaryLanguage(), 0x10);
    unsetenv("LC_MESSAGES");
    EXPECT_EQ(UserPrimaryLanguage(), 0x0C);
    setenv("LC_ALL", "C", 1);  // "C" decides too, it is not "unset"
    EXPECT_EQ(UserPrimaryLanguage(), 0x09);
}

}  // namespace
