#include <numeric>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/SysError.h"
#include "support/FakeInterface.h"

using namespace std::string_literals;

namespace {

class LineProtocol : public ::testing::Test {
protected:
    MainWindowScope main;
    InterfaceRecorder owner;
    FakeInterface port{&owner};

    // Pumps the main window until `event` has been seen `n` times.
    bool PumpUntilEvent(uint32_t event, size_t n, uint32_t timeoutMs) {
        return main.Window().PumpUntil([&] { return owner.Count(event) >= n; }, timeoutMs);
    }
};

std::vector<uint8_t> Pattern(size_t n) {
    std::vector<uint8_t> bytes(n);
    std::iota(bytes.begin(), bytes.end(), uint8_t{1});
    return bytes;
}

}  // namespace

// The framing itself is carried by every update of the fault matrix.
TEST_F(LineProtocol, NothingGoesOutWhileAReplyIsAwaited) {
    ASSERT_EQ(port.SendSCPIMsg("*IDN?;"), 0u);
    EXPECT_TRUE(port.IsAwaitingReply());
    EXPECT_EQ(port.SendSCPIMsg("*RST;"), ERROR_IO_INCOMPLETE);
    EXPECT_EQ(port.SendMonitorMsg("v"), ERROR_IO_INCOMPLETE);
    const uint8_t byte = 0;
    EXPECT_EQ(port.SendBinaryData(&byte, 1), ERROR_IO_INCOMPLETE);
    EXPECT_EQ(port.Writes().size(), 1u);

    port.Receive("KORVA,QV3108\x0A\x0D");
    EXPECT_EQ(owner.Lines(), std::vector<std::string>{"KORVA,QV3108"});
    EXPECT_FALSE(port.IsAwaitingReply());
    // A command without "?" expects nothing and runs no reply timer.
    EXPECT_EQ(port.SendSCPIMsg("*RST;"), 0u);
    EXPECT_EQ(port.SendSCPIMsg("*RST;"), 0u);
    main.Window().PumpFor(50);
    EXPECT_EQ(owner.Count(IF_EVENT_RECEIVE_TIMEOUT), 0u);
}

TEST_F(LineProtocol, TextLimitsAndEmptyTexts) {
    EXPECT_EQ(port.SendSCPIMsg(""), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(port.SendMonitorMsg(""), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(port.SendSCPIMsg(std::string(77, 'A')), ERROR_BAD_LENGTH);
    EXPECT_EQ(port.SendMonitorMsg(std::string(80, 'A')), ERROR_BAD_LENGTH);
    EXPECT_TRUE(port.Writes().empty());

    EXPECT_EQ(port.SendSCPIMsg(std::string(76, 'A')), 0u);
    EXPECT_EQ(port.Writes().back().size(), 78u);
    EXPECT_EQ(port.SendMonitorMsg(std::string(79, 'B')), 0u);
    EXPECT_EQ(port.Writes().back().size(), 81u);
}

TEST_F(LineProtocol, SendFailuresClearTheFlags) {
    port.SetResult(ERROR_IO_DEVICE);
    EXPECT_EQ(port.SendSCPIMsg("*IDN?;"), ERROR_IO_DEVICE);
    EXPECT_FALSE(port.IsAwaitingReply());
    EXPECT_FALSE(port.IsSCPIMode());

    // A port still writing what went before does not take the message:
    // nothing is awaited (no reply could ever end the wait), the owner hears
    // "busy", and the same message goes out once the port is free.
    port.SetResult(ERROR_IO_PENDING);
    EXPECT_EQ(port.SendSCPIMsg("*IDN?;"), ERROR_IO_INCOMPLETE);
    EXPECT_FALSE(port.IsAwaitingReply());
    EXPECT_EQ(port.SendMonitorMsg("v"), ERROR_IO_INCOMPLETE);
    EXPECT_FALSE(port.IsAwaitingReply());
    EXPECT_FALSE(port.IsSCPIMode());
    port.SetResult(0);
    EXPECT_EQ(port.SendSCPIMsg("*IDN?;"), 0u);
    EXPECT_TRUE(port.IsAwaitingReply());
    EXPECT_TRUE(port.IsSCPIMode());
    EXPECT_EQ(port.Writes().back(), "*IDN?;\x0A\x0D");

    InterfaceRecorder owner2;
    FakeInterface port2(&owner2);
    port2.SetResult(ERROR_IO_DEVICE);
    const auto block = Pattern(200);
    EXPECT_EQ(port2.SendBinaryData(block.data(), 200), ERROR_IO_DEVICE);
    EXPECT_FALSE(port2.IsWritingData());
    EXPECT_FALSE(port2.IsAwaitingReply());
    EXPECT_EQ(port2.SendBinaryData(nullptr, 10), ERROR_INVALID_PARAMETER);
}

TEST(LineCutting, WhereALineEndsAndWhatTrimmingKeeps) {
    struct Case {
        bool scpi;
        std::string input;
        std::string line;  // empty: no complete line yet
    };
    const Case cases[] = {
        {true, "1,2\n\r3", "1,2\n\r"},
        {true, "1,2\r\n", ""},  // the other order ends no SCPI line
        {true, "abc", ""},
        // A definite-length block runs to its announced end, whatever its bytes.
        {true, "#15a\n\r;b\n\r", "#15a\n\r;b"},
        {true, "#312", ""},
        {true, "#3123ab", ""},
        {true, "#3003abc", "#3003abc"},
        {true, "#2x1ab", "#2x1"},  // only leading length digits count
        // Hexadecimal and indefinite blocks are not cut here.
        {true, "#H12\n\r", ""},
        {true, "#0ab\n\r", ""},
        {false, "Version:\t2.0\r\nMonDeb>", "Version:\t2.0\r\n"},
        {false, "abc MonDeb> x\r\n", "abc MonDeb>"},
        {false, "Mon", ""},
        {false, "x\n\r", ""},
    };
    for (const auto& c : cases) {
        const CByteBuffer input(c.input);
        const CByteBuffer line =
            c.scpi ? FakeInterface::EnumSCPILines(input) : FakeInterface::EnumMonitorLines(input);
        EXPECT_EQ(line.ToString(), c.line) << c.input;
    }
    bool isBlock = false;
    FakeInterface::EnumSCPILines(CByteBuffer("#15a\n\r;b\n\r"), &isBlock);
    EXPECT_TRUE(isBlock);

    // The SCPI set keeps a leading colon; the monitor set does not.
    EXPECT_EQ(FakeInterface::TrimLine(CByteBuffer(" :SYST:ERR 0;\n\r"), true), CByteBuffer(":SYST:ERR 0"));
    EXPECT_EQ(FakeInterface::TrimLine(CByteBuffer(": ok.!\r\n"), false), CByteBuffer("ok"));
    EXPECT_TRUE(FakeInterface::TrimLine(CByteBuffer(" ;\n\r"), true).IsEmpty());
}

TEST_F(LineProtocol, SCPIReceiveAndFragmentTimeout) {
    ASSERT_EQ(port.SendSCPIMsg("*IDN?;"), 0u);
    port.Receive("1,2\x0A\x0D" "3");
    EXPECT_EQ(owner.Lines(), std::vector<std::string>{"1,2"});
    EXPECT_EQ(port.GetReceiveBufferLength(), 1u);

    // The "3" stands alone: the fragment time-out discards and reports it.
    ASSERT_TRUE(PumpUntilEvent(IF_EVENT_RECEIVE_TIMEOUT, 1, 2000));
    EXPECT_EQ(port.GetReceiveBufferLength(), 0u);
    // Only one time-out: the reply timer was stopped by the line.
    main.Window().PumpFor(300);
    EXPECT_EQ(owner.Count(IF_EVENT_RECEIVE_TIMEOUT), 1u);
}

TEST_F(LineProtocol, SCPIBlocksAndPunctuationOnlyReplies) {
    ASSERT_EQ(port.SendSCPIMsg("*IDN?;"), 0u);
    port.Receive(";\x0A\x0D");
    EXPECT_TRUE(owner.Lines().empty());
    EXPECT_TRUE(port.IsAwaitingReply());

    // A block whose data end in bytes of the trim sets keeps them all.
    const std::string block = "#15ab;\x0A "s;
    port.Receive(block.substr(0, 4));
    EXPECT_TRUE(owner.Lines().empty());
    port.Receive(block.substr(4) + "\x0A\x0D");
    ASSERT_EQ(owner.Lines().size(), 1u);
    EXPECT_EQ(owner.Lines()[0], block);
    EXPECT_EQ(port.GetReceiveBufferLength(), 0u);

    // "#3" with only two length digits waits for more.
    port.Receive("#301");
    EXPECT_EQ(owner.Lines().size(), 1u);
    port.Receive("2abcdefghijkl\x0A\x0D");
    EXPECT_EQ(owner.Lines(), (std::vector<std::string>{block, "#3012abcdefghijkl"}));
}

TEST_F(LineProtocol, MonitorLinesAndPartialPrompt) {
    ASSERT_EQ(port.SendMonitorMsg("v"), 0u);
    port.Receive("Version:\t2.0\x0D\x0AMonDeb>");
    EXPECT_EQ(owner.Lines(), (std::vector<std::string>{"Version:\t2.0", "MonDeb>"}));

    // Half a prompt waits for the rest without a fragment time-out.
    ASSERT_EQ(port.SendMonitorMsg("z"), 0u);
    port.Receive("Mon");
    main.Window().PumpFor(400);
    EXPECT_EQ(owner.Count(IF_EVENT_RECEIVE_TIMEOUT), 0u);
    EXPECT_EQ(port.GetReceiveBufferLength(), 3u);
    port.Receive("Deb>");
    EXPECT_EQ(owner.Lines().back(), "MonDeb>");
}

TEST_F(LineProtocol, BinaryBlockGoesOutInPacedChunks) {
    const auto block = Pattern(200);
    ASSERT_EQ(port.SendBinaryData(block.data(), 200), 0u);
    ASSERT_EQ(port.Writes().size(), 1u);
    EXPECT_EQ(port.Writes()[0], std::string(block.begin(), block.begin() + 80));
    EXPECT_FALSE(port.IsAwaitingReply());
    EXPECT_TRUE(port.IsWritingData());
    EXPECT_EQ(port.SendSCPIMsg("*IDN?;"), ERROR_IO_INCOMPLETE);

    const std::vector<std::pair<size_t, size_t>> chunks = {{80, 80}, {160, 40}};
    uint32_t confirmed = 0;
    for (const auto& [offset, size] : chunks) {
        confirmed += 80;
        port.HandleWriteTermination(80);
        // The next chunk waits for the port to run empty.
        EXPECT_EQ(port.Writes().size(), offset / 80);
        port.HandleEmptyTransmitBuffer();
        ASSERT_EQ(port.Writes().size(), offset / 80 + 1);
        EXPECT_EQ(port.Writes().back(),
                  std::string(block.begin() + offset, block.begin() + offset + size));
        EXPECT_EQ(owner.Events().back().event, IF_EVENT_BYTES_SENT);
        EXPECT_EQ(owner.Events().back().data, confirmed);
        // Only the last chunk awaits the instrument's answer.
        EXPECT_EQ(port.IsAwaitingReply(), size < 80);
    }
    port.HandleWriteTermination(40);
    port.HandleEmptyTransmitBuffer();
    EXPECT_EQ(owner.Events().back().data, 200u);
    EXPECT_EQ(owner.Count(IF_EVENT_BYTES_SENT), 3u);
    EXPECT_FALSE(port.IsWritingData());
    EXPECT_EQ(port.Writes().size(), 3u);

    // The reply timer runs from the last chunk on.
    ASSERT_TRUE(PumpUntilEvent(IF_EVENT_RECEIVE_TIMEOUT, 1, 3000));
}

TEST_F(LineProtocol, PartialWriteContinuesAtConfirmedOffset) {
    const auto block = Pattern(120);
    ASSERT_EQ(port.SendBinaryData(block.data(), 120), 0u);
    port.HandleWriteTermination(50);  // the port took only 50 of the 80
    port.HandleEmptyTransmitBuffer();
    ASSERT_EQ(port.Writes().size(), 2u);
    EXPECT_EQ(port.Writes()[1], std::string(block.begin() + 50, block.begin() + 120));
    EXPECT_TRUE(port.IsAwaitingReply());
    EXPECT_EQ(owner.Events().back().data, 50u);

    // A short block is one chunk that already awaits the answer.
    InterfaceRecorder owner2;
    FakeInterface port2(&owner2);
    ASSERT_EQ(port2.SendBinaryData(block.data(), 80), 0u);
    EXPECT_TRUE(port2.IsAwaitingReply());
    EXPECT_EQ(port2.Writes()[0].size(), 80u);
    // An answer ends the transfer at once.
    port2.Receive("12AB34CD\x0D\x0A");
    EXPECT_FALSE(port2.IsWritingData());
    EXPECT_EQ(owner2.Lines(), std::vector<std::string>{"12AB34CD"});
}

TEST_F(LineProtocol, TransmitEmptyOutsideATransferDoesNothing) {
    port.HandleWriteTermination(10);
    port.HandleEmptyTransmitBuffer();
    EXPECT_TRUE(owner.Events().empty());
    EXPECT_EQ(port.GetBytesWritten(), 0u);
}

TEST_F(LineProtocol, EndlessMonitorLineIsBounded) {
    ASSERT_EQ(port.SendMonitorMsg("v"), 0u);
    const std::string junk(4096, 'x');
    for (size_t sent = 0; sent <= CUpdateInterface::kMaxReceiveBuffer; sent += junk.size()) {
        port.Receive(junk);
        EXPECT_LE(port.GetReceiveBufferLength(), CUpdateInterface::kMaxReceiveBuffer);
    }
    EXPECT_EQ(owner.Count(IF_EVENT_RECEIVE_TIMEOUT), 1u);
    EXPECT_FALSE(port.IsAwaitingReply());
    // The next exchange works as before.
    ASSERT_EQ(port.SendMonitorMsg("v"), 0u);
    port.Receive("ok\x0D\x0A");
    EXPECT_EQ(owner.Lines(), std::vector<std::string>{"ok"});
}
