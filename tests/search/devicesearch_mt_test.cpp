// The search document end to end against simulated instruments on
// pseudo-terminals and on the simulated USB library, with a main window
// that records what it is sent.
#include <gtest/gtest.h>

#include "base/ResultCodes.h"
#include "base/WindowMessages.h"
#include "platform/Clock.h"
#include "search/DeviceSearchDoc.h"
#include "support/SearchTestSupport.h"

namespace {

CInterfaceParameter SerialTemplate() {
    CInterfaceParameter p;
    p.SetSerialPort("COM");
    return p;
}

CInterfaceParameter UsbTemplate() {
    CInterfaceParameter p;
    p.SetUsbPort(0, "");
    return p;
}

class DeviceSearch : public ::testing::Test {
protected:
    PortSandbox ports;
    RecordingWindow main;
};

}  // namespace

TEST_F(DeviceSearch, ListsOnlyUsableInstrumentsOfTheMaker) {
    sim::Config good = FastInstrument("100000001");
    sim::Config vantor = FastInstrument("100000002");
    vantor.identity.maker = "D+S Vantor GmbH";
    sim::Config otherMaker = FastInstrument("100000003");
    otherMaker.identity.maker = "korva";  // the test is case-sensitive
    sim::Config unknownBoard = FastInstrument("100000004");
    unknownBoard.moduleReply = sim::ModuleReply::kUnknownCode;
    sim::Config textLine = FastInstrument("100000005");
    textLine.moduleReply = sim::ModuleReply::kTextLine;
    sim::Config silentModules = FastInstrument("100000006");
    silentModules.moduleReply = sim::ModuleReply::kSilent;
    sim::Config noisy = FastInstrument("100000007");  // stray bytes before its reply
    noisy.faults.idnNoise = sim::IdnNoise::kEveryReply;

    auto* a = ports.AddInstrument(good, 40);
    auto* b = ports.AddInstrument(vantor, 41);
    auto* c = ports.AddInstrument(otherMaker, 42);
    auto* d = ports.AddInstrument(unknownBoard, 43);
    auto* e = ports.AddInstrument(textLine, 44);
    auto* f = ports.AddInstrument(silentModules, 45);
    auto* g = ports.AddInstrument(noisy, 47);
    ASSERT_TRUE(a && b && c && d && e && f && g);
    const std::string empty = ports.AddEmptyPort(46);
    ASSERT_FALSE(empty.empty());

    main.keepRecords = true;
    CDeviceSearchDoc doc(&main.Window());
    const uint32_t start = platform::GetTickCount();
    doc.StartDeviceSearch(SerialTemplate());
    // Every search is over once the empty port's query has timed out and
    // the silent instrument's module query too (about 2 s each).
    ASSERT_TRUE(main.PumpUntil([&] { return main.FinishedFor(f->ComName()).size() == 1; }, 8000));
    main.PumpUntil([&] { return doc.GetThreadCount() == 0; }, 4000);
    EXPECT_EQ(doc.GetThreadCount(), 0);

    ASSERT_EQ(main.FinishedFor(a->ComName()).size(), 1u);
    EXPECT_EQ(main.FinishedFor(a->ComName())[0].device, "QV3108-2 05.100-02.005");
    EXPECT_EQ(main.FinishedFor(b->ComName()).size(), 1u);
    EXPECT_EQ(main.FinishedFor(g->ComName()).size(), 1u);
    EXPECT_TRUE(main.FinishedFor(c->ComName()).empty());
    EXPECT_TRUE(main.FinishedFor(d->ComName()).empty());
    EXPECT_TRUE(main.FinishedFor(e->ComName()).empty());
    EXPECT_TRUE(main.FinishedFor(empty).empty());
    // Without a module reply: listed after the reply time-out, boards 0.
    const SentMessage silent = main.FinishedFor(f->ComName())[0];
    EXPECT_GE(silent.tick - start, 1900u);
    for (const auto& [device, port] : main.records) {
        if (port->GetName() != f->ComName()) continue;
        for (int slot = 0; slot < BOARD_COUNT; ++slot) EXPECT_EQ(device->GetBoardId(BoardSlot(slot)), 0);
    }
    EXPECT_EQ(main.Count(WM_DEVICE_SEARCH_ERROR), 0u);
}

TEST_F(DeviceSearch, OneOfTwoKindsOffSendsNothingTheLastSendsCanceled) {
    UsbSandbox usb(KORVA_USB_SIM_LIBRARY_PATH);
    ASSERT_TRUE(usb.IsReady());
    ASSERT_EQ(usb.Attach("SIM00001", FastInstrument("200000001")), 0);
    ASSERT_NE(ports.AddInstrument(FastInstrument("200000002"), 40), nullptr);
    {
        CDeviceSearchDoc doc(&main.Window());
        doc.StartDeviceSearch(SerialTemplate());
        doc.StartDeviceSearch(UsbTemplate());
        // USB restarts the cycle.
        EXPECT_EQ(main.Count(WM_START_DEVICE_SEARCH), 2u);
        ASSERT_TRUE(main.PumpUntil([&] { return main.Count(WM_DEVICE_SEARCH_FINISHED) >= 2; }, 8000));
        EXPECT_EQ(main.FinishedFor("USB Pid_6001 #SIM00001").size(), 1u);

        const size_t before = main.Log().size();
        doc.StopDeviceSearch(UsbTemplate());
        EXPECT_EQ(main.Log().size(), before);
        EXPECT_FALSE(doc.IsSearching(CInterfaceParameter::kUsb));
        EXPECT_TRUE(doc.IsSearching(CInterfaceParameter::kSerial));
        doc.StopDeviceSearch(SerialTemplate());
        EXPECT_EQ(main.Count(WM_DEVICE_SEARCH_CANCELED), 1u);
        // Stopping what is stopped sends nothing more, and no step follows.
        doc.StopDeviceSearch(SerialTemplate());
        const size_t steps = main.Count(WM_DEVICE_SEARCH_STEP);
        main.PumpUntil([] { return false; }, 700);
        EXPECT_EQ(main.Count(WM_DEVICE_SEARCH_STEP), steps);
        EXPECT_EQ(main.Count(WM_DEVICE_SEARCH_CANCELED), 1u);
    }
}

TEST_F(DeviceSearch, DestroyingTheDocumentWhileThreadsWaitEndsThemWithoutAReport) {
    sim::Config slow = FastInstrument("300000001");
    slow.timing.fast = false;
    slow.timing.replyDelayMs = 1500;  // answers after the document is gone
    for (int i = 0; i < 3; ++i) {
        slow.identity.serialNumber = "30000000" + std::to_string(i);
        ASSERT_NE(ports.AddInstrument(slow, 40 + i), nullptr);
    }
    ASSERT_FALSE(ports.AddEmptyPort(50).empty());
    {
        CDeviceSearchDoc doc(&main.Window());
        doc.StartDeviceSearch(SerialTemplate());
        ASSERT_TRUE(main.PumpUntil([&] { return doc.GetThreadCount() >= 4; }, 5000));
        main.PumpUntil([] { return false; }, 300);  // the queries are out
    }
    const size_t messages = main.Log().size();
    // Long enough for every reply and time-out that would have come.
    main.PumpUntil([] { return false; }, 2500);
    EXPECT_EQ(main.Count(WM_DEVICE_SEARCH_FINISHED), 0u);
    EXPECT_EQ(main.Log().size(), messages);
}
