// The thread list with stand-in workers: a worker leaves the list from its
// own thread, kinds are judged on the list's copy of the port, and the
// list's end waits for every destruction while answering sends.
#include <atomic>
#include <thread>

#include <gtest/gtest.h>

#include "base/MessageWindow.h"
#include "platform/Event.h"
#include "search/ThreadList.h"

namespace {

std::atomic<int> g_alive{0};

// A worker with a thread of its own; its destructor stops and joins it, as a
// search thread's does. `onDestroy` runs inside the destructor.
struct Worker : CObject {
    KORVA_RUNTIME_CLASS(Worker)
    explicit Worker(std::function<void()> onDestroy = {}) : onDestroy(std::move(onDestroy)) { ++g_alive; }
    ~Worker() override {
        stop.Set();
        if (thread.joinable()) thread.join();
        if (onDestroy) onDestroy();
        --g_alive;
    }
    platform::Event stop{platform::Event::kManualReset};
    std::thread thread;
    std::function<void()> onDestroy;
};

CInterfaceParameter Serial(const char* name) {
    CInterfaceParameter p;
    p.SetSerialPort(name);
    return p;
}

CInterfaceParameter Usb(const char* serial) {
    CInterfaceParameter p;
    p.SetUsbPort(0x04036001, serial);
    return p;
}

}  // namespace

TEST(ThreadList, WorkerRemovesItselfFromItsOwnThread) {
    CThreadList list;
    const CInterfaceParameter port = Serial("COM3");
    auto* w = new Worker;
    ASSERT_EQ(list.Add(w, &port), 0);
    platform::Event removed{platform::Event::kManualReset};
    platform::Event go{platform::Event::kManualReset};
    // As a search thread's report does: the destruction must not run here,
    // because the destructor joins this very thread.
    w->thread = std::thread([&list, w, &removed, &go] {
        platform::WaitFor(go, platform::kInfinite);  // until `thread` is assigned
        list.RemoveThread(w);
        removed.Set();
        platform::WaitFor(w->stop, platform::kInfinite);
    });
    go.Set();
    ASSERT_EQ(platform::WaitFor(removed, 5000), 0u);
    EXPECT_TRUE(list.WaitForDestructions(5000));
    EXPECT_EQ(list.GetCount(), 0);
    EXPECT_EQ(g_alive.load(), 0);
}

TEST(ThreadList, RemovePortsJudgesTheKindOnItsOwnCopy) {
    CThreadList list;
    auto* serialPort = new CInterfaceParameter(Serial("COM3"));
    const CInterfaceParameter usb = Usb("FT1");
    list.Add(new Worker, serialPort);
    list.Add(new Worker, &usb);
    list.Add(new Worker, serialPort);
    // A failed search releases its record before it leaves the list.
    delete serialPort;
    EXPECT_EQ(list.RemovePorts(Serial("COM9")), 2u);
    EXPECT_TRUE(list.WaitForDestructions(5000));
    EXPECT_EQ(list.GetCount(), 1);
    EXPECT_EQ(g_alive.load(), 1);
    EXPECT_EQ(list.FindPort(usb) != nullptr, true);
    EXPECT_EQ(list.RemoveAll(), 1u);
    EXPECT_TRUE(list.WaitForDestructions(5000));
    EXPECT_EQ(g_alive.load(), 0);
}

TEST(ThreadList, EndOnTheMainThreadAnswersSendsOfWorkersBeingDestroyed) {
    int handled = 0;
    CMessageWindow window([&](uint32_t msg, WPARAM, LPARAM) {
        ++handled;
        return LRESULT(7);
    });
    LRESULT answer = 0;
    {
        CThreadList list;
        const CInterfaceParameter port = Serial("COM3");
        auto* w = new Worker;
        // A worker whose thread is blocked in a send to the main window when
        // it is stopped: only a wait that handles sends lets it finish.
        w->thread = std::thread([&window, w, &answer] {
            platform::WaitFor(w->stop, platform::kInfinite);
            answer = window.SendMsg(0x0500);
        });
        list.Add(w, &port);
    }
    EXPECT_EQ(handled, 1);
    EXPECT_EQ(answer, 7);
    EXPECT_EQ(g_alive.load(), 0);
}
