#include "platform/Locale.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/base/support/TempDir.h"

namespace {

using platform::PrimaryLanguageFromIso;
using platform::UserPrimaryLanguage;

// Clears the three locale variables for the test and puts them back after.
class UserLanguage : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) env.Set(name, nullptr);
    }
    uint16_t WithLang(const char* value) {
        env.Set("LANG", value);
        return UserPrimaryLanguage();
    }
    EnvScope env;
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
    env.Set("LANG", "fr_FR.UTF-8");
    env.Set("LC_MESSAGES", "it_IT.UTF-8");
    env.Set("LC_ALL", "de_DE.UTF-8");
    EXPECT_EQ(UserPrimaryLanguage(), 0x07);
    env.Set("LC_ALL", "");
    EXPECT_EQ(UserPrimaryLanguage(), 0x10);
    env.Set("LC_MESSAGES", nullptr);
    EXPECT_EQ(UserPrimaryLanguage(), 0x0C);
    env.Set("LC_ALL", "C");  // "C" decides too, it is not "unset"
    EXPECT_EQ(UserPrimaryLanguage(), 0x09);
}

}  // namespace
