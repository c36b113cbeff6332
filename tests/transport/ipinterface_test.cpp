#include <atomic>

#include <gtest/gtest.h>

#include "platform/Thread.h"
#include "transport/IPInterface.h"
#include "transport/InterfaceParameter.h"

namespace {

std::atomic<int> g_events{0};

void CountEvent(uint32_t, uintptr_t, const CByteBuffer*, CObject*) { ++g_events; }

}  // namespace

TEST(IPInterface, OpensSendsAndListsNothing) {
    g_events = 0;
    {
        CIPInterface ip(&CountEvent, nullptr);
        CInterfaceParameter record;
        record.SetIPPort(0x0500A8C0, 5025);
        EXPECT_EQ(ip.Init(&record), 0u);
        EXPECT_EQ(ip.Init(nullptr), 0u);
        EXPECT_EQ(ip.SendData(CByteBuffer("*IDN?;")), 0u);

        platform::Thread* thread = ip.StartPortEnumeration(&record);
        ASSERT_NE(thread, nullptr);
        ASSERT_TRUE(thread->Join(10000));
        EXPECT_EQ(thread->ExitCode(), 0u);
        // The thread leaves no handle recorded, so a new listing can start.
        EXPECT_FALSE(ip.IsEnumerating());
        EXPECT_NE(ip.StartPortEnumeration(&record), nullptr);
    }
    EXPECT_EQ(g_events.load(), 0);
    CObject other;
    EXPECT_EQ(CIPInterface::Execute(&other), 998u);
    EXPECT_EQ(CIPInterface::Execute(nullptr), 998u);
}
