#include "base/ResultCodes.h"

#include <gtest/gtest.h>

#include <set>

#include "base/Strings.h"

namespace {

// Every row must be reachable (the first one too), unique, have a text in
// both languages, and failures or cancellations must keep the log.
TEST(ResultCodes, EveryRowIsFoundWithATextAndFailuresKeepTheLog) {
    size_t count = 0;
    const ResultCodeRow* rows = ResultCodeTable(&count);
    ASSERT_GT(count, 0u);
    std::set<uint32_t> codes;
    for (size_t i = 0; i < count; ++i) {
        SCOPED_TRACE(rows[i].name);
        EXPECT_TRUE(IsResultCode(rows[i].code));
        EXPECT_TRUE(codes.insert(rows[i].code).second) << "duplicate code";
        uint32_t textId = 0;
        uint32_t discardable = 99;
        ASSERT_TRUE(LookupResultCode(rows[i].code, &textId, &discardable));
        EXPECT_EQ(textId, rows[i].textId);
        EXPECT_EQ(discardable, rows[i].discardable);
        EXPECT_NE(FindStringResource(textId), nullptr);
        EXPECT_NE(FindStringResource(textId + STRING_OFFSET_ENGLISH), nullptr);

        const bool failure = (rows[i].code & 0x0F000000) != 0;
        const bool canceled = (rows[i].code & 0x000F0000) == 0x000F0000 ||
                              (rows[i].code & 0x00F00000) == 0x00F00000;
        if (failure || canceled) {
            EXPECT_EQ(rows[i].discardable, 0u);
        }
        EXPECT_LE(rows[i].discardable, 1u);
    }
}

// Statuses beyond the known ones must not index past the mapping.
TEST(ResultCodes, UnknownUsbStatusMapsToTheGeneralError) {
    for (uint32_t status : {19u, 20u, 255u, 0x80000000u, 0xFFFFFFFFu}) {
        EXPECT_EQ(MapUsbStatus(status), 1208u) << "status " << status;
    }
    EXPECT_EQ(MapUsbStatus(0), 0u);
}

}  // namespace
