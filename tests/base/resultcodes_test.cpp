#include "base/ResultCodes.h"

#include <gtest/gtest.h>

#include <set>

#include "base/Strings.h"

namespace {

TEST(ResultCodes, EveryRowIsFoundWithItsTextAndDiscardableValue) {
    size_t count = 0;
    const ResultCodeRow* rows = ResultCodeTable(&count);
    ASSERT_EQ(count, 20u);
    EXPECT_EQ(rows[0].code, 0x20000001u);  // the first row must be found too
    EXPECT_EQ(rows[19].textId, IDS_UPDATE_CANCELED);

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
        // The log and the message dialog show the text in either language.
        EXPECT_NE(FindStringResource(textId), nullptr);
        EXPECT_NE(FindStringResource(textId + STRING_OFFSET_ENGLISH), nullptr);
    }
}

TEST(ResultCodes, FailuresAndCancellationsKeepTheLog) {
    size_t count = 0;
    const ResultCodeRow* rows = ResultCodeTable(&count);
    for (size_t i = 0; i < count; ++i) {
        SCOPED_TRACE(rows[i].name);
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

TEST(ResultCodes, MapsEveryUsbStatus) {
    const uint32_t expected[] = {0,  6,  1167, 110, 1117, 1450, 87, 87,  21,   21,
                                 29, 30, 29,   29,  1610, 1610, 87, 50,  1208};
    for (uint32_t status = 0; status < std::size(expected); ++status) {
        EXPECT_EQ(MapUsbStatus(status), expected[status]) << "status " << status;
    }
    for (uint32_t status : {19u, 20u, 255u, 0x80000000u, 0xFFFFFFFFu}) {
        EXPECT_EQ(MapUsbStatus(status), 1208u) << "status " << status;
    }
}

}  // namespace
