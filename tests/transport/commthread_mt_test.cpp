// The serial I/O thread over a fake port: line errors, writes that finish
// later, short reads and the stop.
#include <gtest/gtest.h>

#include <thread>

#include "base/ResultCodes.h"
#include "platform/Clock.h"
#include "platform/SysError.h"
#include "support/SerialTestSupport.h"
#include "transport/CommThread.h"

namespace {

class CommThreadTest : public ::testing::Test {
protected:
    void SetUp() override {
        port.SetCommMask(0x1FF);
        thread = std::make_unique<CCommThread>();
        thread->SetEventHandler(&EventRecorder::OnEvent, &recorder);
        thread->SetDataHandler(&EventRecorder::OnData, &recorder);
    }
    void TearDown() override { thread.reset(); }

    LogCapture log;
    FakePort port;
    EventRecorder recorder;
    std::unique_ptr<CCommThread> thread;
};

}  // namespace

TEST_F(CommThreadTest, LineErrorIsLoggedWithTheQueueStateAndReported) {
    ASSERT_EQ(thread->Init(&port), 0u);
    COMSTAT status{};
    status.fCtsHold = 1;
    port.SetStatus(status);
    port.Inject(EV_ERR, CE_OVERRUN, "12345");
    ASSERT_TRUE(recorder.WaitForEvent(RC_PORT_ERROR));
    EXPECT_EQ(recorder.Events()[0], std::make_pair(RC_PORT_ERROR, uint32_t{CE_OVERRUN}));
    EXPECT_NE(log.Text().find("CCommThread::ProcessPortEvent\r\nError: 0x00000002\r\nStatus: read buffer 5 "
                              "byte(s), write buffer 0 byte(s), waiting for CTS\r\n"),
              std::string::npos)
        << log.Text();
    // Without EV_ERR or EV_BREAK the bits are only cleared.
    port.Inject(EV_RXCHAR, CE_FRAME, "6");
    ASSERT_TRUE(recorder.WaitForData(6));
    port.Inject(EV_BREAK, CE_BREAK);
    ASSERT_TRUE(recorder.WaitForEvent(RC_PORT_ERROR, 2));
    EXPECT_EQ(recorder.Events().back(), std::make_pair(RC_PORT_ERROR, uint32_t{CE_BREAK}));
}

TEST_F(CommThreadTest, AWriteThatFinishesLaterKeepsTheNextOneOutAndTheLockFree) {
    port.SetWritesPend(true);
    ASSERT_EQ(thread->Init(&port), 0u);
    ASSERT_EQ(thread->WriteData(CByteBuffer("first")), 0u);
    // From another thread too: refused at once, not blocked on the lock.
    uint32_t other = 0;
    std::thread([&] { other = thread->WriteData(CByteBuffer("second")); }).join();
    EXPECT_EQ(other, ERROR_IO_PENDING);
    EXPECT_EQ(recorder.Count(RC_PORT_DATA_WRITTEN), 0u);
    port.CompleteWrite();
    ASSERT_TRUE(recorder.WaitForEvent(RC_PORT_TX_EMPTY));
    const auto events = recorder.Events();
    ASSERT_GE(events.size(), 2u);
    EXPECT_EQ(events[0], std::make_pair(RC_PORT_DATA_WRITTEN, 5u));
    EXPECT_EQ(events[1], std::make_pair(RC_PORT_TX_EMPTY, 0u));
    EXPECT_EQ(port.Written(), "first");
}

TEST_F(CommThreadTest, ReceivedBytesAndTransmitEmptyTogether) {
    ASSERT_EQ(thread->Init(&port), 0u);
    port.Inject(EV_RXCHAR | EV_TXEMPTY, 0, "hello");
    ASSERT_TRUE(recorder.WaitForData(5));
    EXPECT_EQ(recorder.Data(), "hello");
    // The read is requested first but served after the event is handled.
    ASSERT_EQ(recorder.Events().size(), 1u);
    EXPECT_EQ(recorder.Events()[0], std::make_pair(RC_PORT_TX_EMPTY, 0u));
}

TEST_F(CommThreadTest, AnEmptyReadIsDeliveredAndAnotherReadFollows) {
    ASSERT_EQ(thread->Init(&port), 0u);
    port.SetReadLimit(0);
    port.Inject(EV_RXCHAR, 0, "abc");
    ASSERT_TRUE(recorder.WaitForData(3));
    EXPECT_EQ(recorder.Data(), "abc");
    EXPECT_EQ(recorder.DataCalls(), 2u);  // the empty one, then the bytes
}

// Counted ten, three there (the rest purged meanwhile): the rest of the
// count is dropped, not read from an empty queue again and again.
TEST_F(CommThreadTest, AQueuePurgedAfterItsCountIsNotReadAgain) {
    ASSERT_EQ(thread->Init(&port), 0u);
    COMSTAT status{};
    status.cbInQue = 10;
    port.SetStatus(status);
    port.Inject(EV_RXCHAR, 0, "abc");
    ASSERT_TRUE(recorder.WaitForData(3));
    platform::Sleep(50);
    EXPECT_EQ(recorder.DataCalls(), 1u);
}

TEST_F(CommThreadTest, AfterTheStopOnlyTheEndIsReported) {
    ASSERT_EQ(thread->Init(&port), 0u);
    thread->Stop();
    EXPECT_EQ(thread->WriteData(CByteBuffer("x")), ERROR_NOACCESS);
    port.Inject(EV_ERR | EV_RXCHAR, CE_FRAME, "x");
    thread.reset();
    ASSERT_EQ(recorder.Events().size(), 1u);
    EXPECT_EQ(recorder.Events()[0], std::make_pair(RC_PORT_THREAD_TERMINATED, 0u));
    EXPECT_EQ(recorder.DataCalls(), 0u);
}

TEST_F(CommThreadTest, StopsWhileAHandlerHoldsRxAndSends) {
    // The data handler writes at once (Rx held, then Tx) while the owner
    // destroys the thread.
    recorder.onEvent = nullptr;
    ASSERT_EQ(thread->Init(&port), 0u);
    CCommThread* raw = thread.get();
    static CCommThread* s_thread;
    s_thread = raw;
    thread->SetDataHandler(
        [](CByteBuffer& data, CObject*) {
            for (int i = 0; i < 100; ++i) s_thread->WriteData(data);
        },
        nullptr);
    for (int i = 0; i < 50; ++i) port.Inject(EV_RXCHAR, 0, "data");
    thread.reset();
    SUCCEED();
}
