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

TEST(ResultCodes, UnknownCodesLeaveTheOutputsAlone) {
    for (uint32_t code : {0x20000000u, 0x20000005u, 0x25000000u, 0u, 5u, 0xFFFFFFFFu,
                          RC_UPDATE_FINISHED | RC_PORT_STATE_CHANGED}) {
        uint32_t textId = 4711;
        uint32_t discardable = 42;
        EXPECT_FALSE(LookupResultCode(code, &textId, &discardable)) << std::hex << code;
        EXPECT_EQ(textId, 4711u);
        EXPECT_EQ(discardable, 42u);
    }
    EXPECT_FALSE(IsResultCode(1117));
    EXPECT_TRUE(IsResultCode(0x20000000));
}

// Statuses beyond the known ones must not index past the mapping.
TEST(ResultCodes, UnknownUsbStatusMapsToTheGeneralError) {
    for (uint32_t status : {19u, 20u, 255u, 0x80000000u, 0xFFFFFFFFu}) {
        EXPECT_EQ(MapUsbStatus(status), 1208u) << "status " << status;
    }
    EXPECT_EQ(MapUsbStatus(0), 0u);
}

}  // namespace
