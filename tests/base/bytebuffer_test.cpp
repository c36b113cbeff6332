#include "base/ByteBuffer.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>

namespace {

// The promise to text readers: with memory, a zero byte right behind the data.
void ExpectTerminated(const CByteBuffer& b) {
    if (b.GetData() == nullptr) {
        EXPECT_EQ(b.GetCapacity(), 0u);
        EXPECT_STREQ(b.GetText(), "");
        return;
    }
    ASSERT_GE(b.GetCapacity(), b.GetLength() + 1);
    EXPECT_EQ(b.GetData()[b.GetLength()], 0);
}

TEST(ByteBuffer, EveryOperationKeepsTheZeroByteBehindTheData) {
    CByteBuffer b;
    ExpectTerminated(b);
    ASSERT_TRUE(b.Assign("abcdef", 6));
    ExpectTerminated(b);
    ASSERT_TRUE(b.Append(std::string_view("ghij")));
    ExpectTerminated(b);
    ASSERT_NE(b.Reserve(100), nullptr);
    EXPECT_EQ(b, "abcdefghij");  // reserving keeps the length
    b.GetData()[10] = 'X';       // as a read into the reserved room would
    b.SetLength(11);
    ExpectTerminated(b);
    b.RemoveLeft(3);
    ExpectTerminated(b);
    b.TrimRight("X");
    ExpectTerminated(b);
    b.TrimLeft("d");
    EXPECT_EQ(b, "efghij");
    ExpectTerminated(b.Left(2));
    ExpectTerminated(b.Right(2));
    ExpectTerminated(b.Mid(2));
    b.Empty();
    EXPECT_EQ(b.GetData(), nullptr);
    ExpectTerminated(b);
}

TEST(ByteBuffer, CopiesAreIndependentAndMovesEmptyTheSource) {
    CByteBuffer original(std::string_view("\0\xFF\0A", 4));  // zero bytes are data
    CByteBuffer copy(original);
    copy.GetData()[3] = 'B';
    EXPECT_EQ(original.View(), std::string_view("\0\xFF\0A", 4));
    const CByteBuffer& same = copy;
    copy = same;
    EXPECT_EQ(copy.View(), std::string_view("\0\xFF\0B", 4));

    CByteBuffer moved(std::move(original));
    EXPECT_EQ(moved.GetLength(), 4u);
    EXPECT_EQ(original.GetData(), nullptr);  // NOLINT(bugprone-use-after-move)
    ASSERT_TRUE(moved.Copy(CByteBuffer()));
    EXPECT_TRUE(moved.IsEmpty());
    ExpectTerminated(moved);
}

TEST(ByteBuffer, AppendsAndAssignsFromItsOwnData) {
    CByteBuffer b(std::string_view("abc"));
    ASSERT_TRUE(b.Append(b));
    // Slices of the own data while the block grows and may move.
    for (int i = 0; i < 6; ++i) ASSERT_TRUE(b.Append(b.GetData() + 1, 2));
    EXPECT_EQ(b, "abcabcbcbcbcbcbcbc");
    ASSERT_TRUE(b.Assign(b.GetData() + 3, 3));
    EXPECT_EQ(b, "abc");
    EXPECT_FALSE(b.Append(nullptr, 3));
    EXPECT_TRUE(b.Append(nullptr, 0));
    EXPECT_EQ(b, "abc");
}

TEST(ByteBuffer, OversizedRequestsFailAndChangeNothing) {
    CByteBuffer b(std::string_view("keep"));
    const uint8_t* data = b.GetData();
    const size_t capacity = b.GetCapacity();
    EXPECT_EQ(b.Reserve(SIZE_MAX), nullptr);
    EXPECT_EQ(b.Reserve(static_cast<size_t>(LONG_MAX)), nullptr);
    // The sizes are checked before the source is read.
    EXPECT_FALSE(b.Append(data, SIZE_MAX - 2));
    EXPECT_FALSE(b.Append(data, static_cast<size_t>(LONG_MAX) - 4));
    EXPECT_FALSE(b.Assign(data, SIZE_MAX));
    EXPECT_EQ(b.GetData(), data);
    EXPECT_EQ(b.GetCapacity(), capacity);
    EXPECT_EQ(b, "keep");
}

TEST(ByteBuffer, SetLengthCutsToCapacityAndNegativeKeepsTheLength) {
    CByteBuffer b(std::string_view("abcdef"));
    ASSERT_NE(b.Reserve(15), nullptr);
    const size_t capacity = b.GetCapacity();
    b.SetLength(-1);
    EXPECT_EQ(b, "abcdef");
    b.SetLength(3);
    EXPECT_EQ(b, "abc");
    b.SetLength(static_cast<long>(capacity));
    EXPECT_EQ(b.GetLength(), capacity - 1);
    ExpectTerminated(b);
    b.SetLength(LONG_MAX);
    EXPECT_EQ(b.GetLength(), capacity - 1);
    b.SetLength(0);
    EXPECT_NE(b.GetData(), nullptr);  // keeps its memory for the next read
    ExpectTerminated(b);

    CByteBuffer none;
    none.SetLength(10);
    EXPECT_EQ(none.GetLength(), 0u);
}

TEST(ByteBuffer, PartsClampToTheContents) {
    CByteBuffer b(std::string_view("0123456789"));
    EXPECT_EQ(b.Left(3), "012");
    EXPECT_EQ(b.Left(50), "0123456789");
    EXPECT_EQ(b.Right(3), "789");
    EXPECT_EQ(b.Right(50), "0123456789");
    EXPECT_EQ(b.Mid(7), "789");
    EXPECT_TRUE(b.Mid(10).IsEmpty());
    EXPECT_TRUE(CByteBuffer().Right(5).IsEmpty());
    b.RemoveLeft(7);
    EXPECT_EQ(b, "789");
    b.RemoveLeft(100);
    EXPECT_TRUE(b.IsEmpty());
    ExpectTerminated(b);
}

TEST(ByteBuffer, FindEdgeCases) {
    const CByteBuffer b(std::string_view("MonDeb>ok\r\nMonDeb>"));
    EXPECT_EQ(b.Find("MonDeb>"), 0);
    EXPECT_EQ(b.Find("MonDeb>", 1), 11);
    EXPECT_EQ(b.Find("MonDeb>", 11), 11);
    EXPECT_EQ(b.Find("MonDeb>", 12), CByteBuffer::npos);
    EXPECT_EQ(b.Find("MonDeb>!"), CByteBuffer::npos);  // would run past the end
    EXPECT_EQ(b.Find(CByteBuffer(std::string_view("\r\n"))), 9);
    EXPECT_EQ(b.Find(""), CByteBuffer::npos);
    EXPECT_EQ(b.Find("M", b.GetLength()), CByteBuffer::npos);
    EXPECT_EQ(b.Find("M", SIZE_MAX), CByteBuffer::npos);
    EXPECT_EQ(CByteBuffer().Find("M"), CByteBuffer::npos);
    const CByteBuffer binary(std::string_view("\0\0#2\0", 5));
    EXPECT_EQ(binary.Find(std::string_view("#2\0", 3)), 2);
}

TEST(ByteBuffer, TrimsACharacterSetAtEitherEnd) {
    CByteBuffer reply(std::string_view(" \t.Hello, world!?;, "));
    reply.TrimLeft(" \t.!?,;");
    EXPECT_EQ(reply, "Hello, world!?;, ");
    reply.TrimRight(" \t.!?,;");
    EXPECT_EQ(reply, "Hello, world");  // the comma inside stays
    reply.TrimLeft("");
    EXPECT_EQ(reply, "Hello, world");

    CByteBuffer all(std::string_view(";;..;"));
    all.TrimRight(";.");
    EXPECT_TRUE(all.IsEmpty());
    ExpectTerminated(all);
    all = CByteBuffer(std::string_view(";;..;"));
    all.TrimLeft(";.");
    EXPECT_TRUE(all.IsEmpty());
    ExpectTerminated(all);
}

}  // namespace
