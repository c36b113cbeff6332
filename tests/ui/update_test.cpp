// Whole updates from the main window: a simulated instrument on a
// pseudo-terminal is found, selected and updated with Start Update; the
// real progress window, questions and message dialog are watched and
// answered as a user would.
#include <QAbstractButton>
#include <algorithm>
#include <QApplication>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include "base/StringIds.h"
#include "base/Strings.h"
#include "base/WindowMessages.h"
#include "device/DeviceList.h"
#include "sim/PtyInstrument.h"
#include "tests/ui/support/UiTestSupport.h"
#include "ui/DeviceUpdateWnd.h"
#include "ui/DialogTemplate.h"
#include "ui/Icons.h"
#include "ui/UpdateWnd.h"
#include "update/DeviceUpdateDoc.h"
#include "update/UpdateTiming.h"

namespace {

// Answers every modal dialog with its button 1 (Yes, OK) or, where that is
// hidden, button 2, and keeps its title and its first text (control 6013 of
// the message dialog, 6021 of the update questions).
class ModalAnswerer {
public:
    struct Seen {
        QString title;
        QString text;
    };
    ModalAnswerer() {
        m_Timer.setInterval(10);
        QObject::connect(&m_Timer, &QTimer::timeout, [this] { Poll(); });
        m_Timer.start();
    }
    std::vector<Seen> seen;
    // A dialog whose title ends with this is answered No (button 2).
    QString refuse;

private:
    void Poll() {
        QWidget* modal = QApplication::activeModalWidget();
        // The main window runs modally on the desktop, as in the program.
        if (modal == nullptr || dynamic_cast<CUpdateWnd*>(modal) != nullptr) return;
        auto* button = modal->findChild<QAbstractButton*>(QStringLiteral("ctl1"));
        if (!refuse.isEmpty() && modal->windowTitle().endsWith(refuse)) button = nullptr;
        if (button == nullptr || !button->isVisible())
            button = modal->findChild<QAbstractButton*>(QStringLiteral("ctl2"));
        if (button == nullptr || !button->isVisible()) return;
        auto* text = modal->findChild<QLabel*>(QStringLiteral("ctl6013"));
        if (text == nullptr) text = modal->findChild<QLabel*>(QStringLiteral("ctl6021"));
        seen.push_back({modal->windowTitle(), text ? text->text() : QString()});
        button->click();
    }
    QTimer m_Timer;
};

// What one progress window showed, recorded as each post was handled.
struct ProgressLog {
    std::vector<QString> texts;  // each step text as it appeared
    bool barShown = false;
    int barMaximum = -1;
    std::vector<int> positions;  // bar positions while it was visible
    bool positionsOutsideRange = false;
    bool textShrunkWhileBarShown = true;
    bool cancelHidden = false;
    QPointer<CDeviceUpdateWnd> window;
};

QString Text(uint32_t id) { return Qs(LoadStringResource(id)); }

class UpdateFromWindow : public ::testing::Test {
protected:
    void SetUp() override {
        SetLanguageOverride(9);
        SetUpdateTiming(UpdateTiming::Shortened());
    }
    void TearDown() override { SetUpdateTiming(UpdateTiming::Standard()); }

    // Starts the instrument, switches serial on (answering the notice) and
    // waits for the instrument's row.
    void FindInstrument(const sim::Config& config) {
        instrument = std::make_unique<sim::CPtyInstrument>(config);
        ASSERT_EQ(instrument->Start(20), 0u);
        window = std::make_unique<CUpdateWnd>(false);
        // On the desktop the window is modal as the program runs it, so its
        // modal loop's effect on the progress window is seen.
        window->setModal(OnDesktop());
        window->show();
        window->Command(ID_SERIAL_ACTIVATE)->trigger();
        ASSERT_TRUE(WaitUntil([&] { return window->List()->topLevelItemCount() == 1; }, 15000));
        ASSERT_EQ(Row()->text(3), Qs(instrument->ComName()));
    }
    QTreeWidgetItem* Row() const { return window->List()->topLevelItem(0); }
    bool RowShows(int image) const {
        return Row() && Row()->icon(0).pixmap(14, 14).toImage() == RowStateImage(image, 14).toImage();
    }

    // Selects the row and presses Start Update; the progress window exists
    // when the press returns (the update thread asks for it before it runs),
    // so its watcher is in place before the first post is handled.
    void StartUpdate(const std::function<void(CDeviceUpdateWnd&, uint32_t)>& also = {}) {
        const QRect rect = window->List()->visualItemRect(Row());
        QTest::mouseClick(window->List()->viewport(), Qt::LeftButton, {}, rect.center());
        auto* start = FindControl<QPushButton>(window.get(), 6017);
        ASSERT_TRUE(start->isEnabled());
        start->click();
        EXPECT_FALSE(start->isEnabled());
        EXPECT_TRUE(RowShows(ROW_IMAGE_RUNNING));
        CDeviceUpdateWnd* progress = nullptr;
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (auto* candidate = dynamic_cast<CDeviceUpdateWnd*>(widget)) progress = candidate;
        ASSERT_NE(progress, nullptr);
        EXPECT_TRUE(progress->isVisible());
        EXPECT_EQ(progress->windowTitle(),
                  "KORVA - " + Qs(instrument->ComName()) + " - QV3108-2 - Version: 05.306-02.011");
        log.window = progress;
        const int fullHeight = FindControl<QLabel>(progress, 6013)->height();
        progress->SetWatcher([this, fullHeight, also](CDeviceUpdateWnd& w, uint32_t msg) {
            QProgressBar* bar = w.ProgressBar();
            switch (msg) {
                case WM_SET_UPDATE_MESSAGE: log.texts.push_back(w.StepText()); break;
                case WM_SHOW_PROGRESS_BAR:
                    log.barShown = bar->isVisible();
                    log.barMaximum = bar->maximum();
                    [[fallthrough]];
                case WM_UPDATE_PROGRESS_BAR:
                    log.positions.push_back(bar->value());
                    if (bar->value() < bar->minimum() || bar->value() > bar->maximum())
                        log.positionsOutsideRange = true;
                    if (FindControl<QLabel>(&w, 6013)->height() != fullHeight - 28) log.textShrunkWhileBarShown = false;
                    break;
                case WM_SHOW_CANCEL_BUTTON: log.cancelHidden = !w.CancelButton()->isVisible(); break;
                default: break;
            }
            if (also) also(w, msg);
        });
    }

    // Until the update has ended: the row no longer running, its thread
    // gone and its progress window deleted.
    bool WaitForEnd() {
        return WaitUntil(
            [&] {
                CDeviceUpdateDoc* doc = window->Core().GetUpdateDoc();
                return Row() && !RowShows(ROW_IMAGE_RUNNING) && doc && doc->GetThreadCount() == 0 &&
                       doc->WaitForDestructions(0) && log.window.isNull();
            },
            30000);
    }

    UiTestEnvironment env;
    ModalAnswerer answers;
    std::unique_ptr<sim::CPtyInstrument> instrument;
    std::unique_ptr<CUpdateWnd> window;
    ProgressLog log;
};

sim::Config FastInstrument() {
    sim::Config config;
    config.timing.fast = true;
    return config;
}

TEST_F(UpdateFromWindow, RunsToSuccessWithTheStepsInOrderAndTheTransferOnTheBar) {
    sim::Config config = FastInstrument();
    config.identity.version1 = "04.500";  // keeps its settings and is adjusted: the notice 6018 comes first
    ASSERT_NO_FATAL_FAILURE(FindInstrument(config));
    ASSERT_NO_FATAL_FAILURE(StartUpdate());
    ASSERT_TRUE(WaitForEnd());

    // The serial notice, then the adjustment notice answered Yes; no message.
    ASSERT_EQ(answers.seen.size(), 2u);
    EXPECT_EQ(answers.seen[1].title, "KORVA - Verification of Software Version");
    EXPECT_EQ(answers.seen[1].text, PlainLines(Text(IDS_ASK_ADJUST_NOTE)));
    const std::vector<QString> steps = {
        Text(IDS_PROG_READ_USER_SETTINGS), Text(IDS_PROG_UPDATE_STARTED), Text(IDS_PROG_TRANSMIT_DATA),
        Text(IDS_PROG_CHECKSUM),           Text(IDS_PROG_PREPARE_FLASH),  Text(IDS_PROG_COPY_FLASH),
        Text(IDS_PROG_CHECKSUM),           Text(IDS_PROG_RESTART),        Text(IDS_PROG_REQUEST_DATA),
        Text(IDS_PROG_WRITE_USER_SETTINGS), Text(IDS_PROG_ADJUST)};
    EXPECT_EQ(log.texts, steps);

    // The bar covers the whole image (its length, cut to 16 bits) and only
    // moves forward, to its end (or just short of it, when the monitor's
    // answer overtakes the confirmation of the last chunk).
    EXPECT_TRUE(log.barShown);
    EXPECT_EQ(log.barMaximum, 65535);
    ASSERT_GE(log.positions.size(), 3u);
    EXPECT_EQ(log.positions.front(), 0);
    EXPECT_TRUE(std::is_sorted(log.positions.begin(), log.positions.end()));
    EXPECT_GE(log.positions.back(), log.barMaximum - log.barMaximum / 50);
    EXPECT_FALSE(log.positionsOutsideRange);
    EXPECT_TRUE(log.textShrunkWhileBarShown);
    EXPECT_TRUE(log.cancelHidden);  // from the FLASH on nobody can cancel

    EXPECT_TRUE(RowShows(ROW_IMAGE_SUCCEEDED));
    EXPECT_EQ(Row()->text(2), "05.306-02.011");
    const auto snapshot = instrument->GetSettledSnapshot(3000);
    EXPECT_EQ(snapshot.identity.version1 + "-" + snapshot.identity.version2, "05.306-02.011");
    EXPECT_EQ(snapshot.counters.calibrations, 1u);
    window->reject();
}

// A No to the question before the update: nothing ran and nothing failed,
// so the row is what it was and Start Update is there again.
TEST_F(UpdateFromWindow, ANoBeforeTheUpdateLeavesTheRowAsItWas) {
    sim::Config config = FastInstrument();
    config.identity.version1 = "04.500";  // asks the adjustment question
    ASSERT_NO_FATAL_FAILURE(FindInstrument(config));
    answers.refuse = QStringLiteral("Verification of Software Version");
    QTest::mouseClick(window->List()->viewport(), Qt::LeftButton, {}, window->List()->visualItemRect(Row()).center());
    auto* start = FindControl<QPushButton>(window.get(), 6017);
    start->click();  // the question runs and is answered inside
    ASSERT_EQ(answers.seen.size(), 2u);
    EXPECT_TRUE(RowShows(ROW_IMAGE_POSSIBLE));
    EXPECT_TRUE(start->isEnabled());
    EXPECT_EQ(window->Core().GetUpdateDoc()->GetThreadCount(), 0);
    EXPECT_EQ(instrument->GetSettledSnapshot(3000).counters.flashPrograms, 0u);
    // A click on empty space deselects. (Serial off and the menu are the
    // window core's, tests/window.)
    QTest::mouseClick(window->List()->viewport(), Qt::LeftButton, {}, QPoint(5, window->List()->viewport()->height() - 3));
    EXPECT_FALSE(start->isEnabled());
    window->reject();
    EXPECT_NE(env.LogText().find("The programm was finished"), std::string::npos);
}

// --- On a desktop with a window manager (tests/ui/desktop.sh) ---------------

// Paced so that the transfer lasts about a second and the FLASH a while: a
// click or a close surely lands in the step it is meant for.
sim::Config PacedInstrument() {
    sim::Config config;
    config.timing.baud = 10000000;
    config.timing.flashProgramMs = 1500;
    config.timing.restartMs = 500;
    return config;
}

class UpdateOnDesktop : public UpdateFromWindow {
protected:
    void SetUp() override {
        if (!OnDesktop()) GTEST_SKIP() << "runs under tests/ui/desktop.sh";
        UpdateFromWindow::SetUp();
    }
    bool TransferRunning() const {
        return !log.window.isNull() && log.window->ProgressBar()->isVisible() && log.window->ProgressBar()->value() > 0;
    }
};

TEST_F(UpdateOnDesktop, ProgressWindowIsAboveTheModalMainWindowAndItsCancelIsClickable) {
    ASSERT_NO_FATAL_FAILURE(FindInstrument(PacedInstrument()));
    ASSERT_NO_FATAL_FAILURE(StartUpdate());
    CDeviceUpdateWnd* progress = log.window;
    ASSERT_TRUE(QTest::qWaitForWindowExposed(progress));
    EXPECT_FALSE(progress->windowIcon().isNull());
    // The window manager stacks it above the main window, and it leaves the
    // device list free.
    const auto above = [&] {
        const std::vector<unsigned long> order = DesktopStacking();
        const auto main = std::find(order.begin(), order.end(), static_cast<unsigned long>(window->winId()));
        const auto top = std::find(order.begin(), order.end(), static_cast<unsigned long>(progress->winId()));
        return main != order.end() && top != order.end() && top > main;
    };
    ASSERT_TRUE(WaitUntil(above));
    EXPECT_GE(progress->frameGeometry().top(), window->List()->mapToGlobal(QPoint(0, window->List()->height())).y());

    // A click as the user makes it, through the manager and the main
    // window's modal loop.
    ASSERT_TRUE(WaitUntil([&] { return TransferRunning(); }, 15000));
    QPushButton* cancel = progress->CancelButton();
    ASSERT_TRUE(DesktopClick(cancel->mapToGlobal(cancel->rect().center())));
    ASSERT_TRUE(WaitForEnd());
    EXPECT_NE(env.LogText().find("Msg - CDeviceUpdateWnd\r\nCancel Button was clicked"), std::string::npos);
    EXPECT_TRUE(RowShows(ROW_IMAGE_FAILED));
    EXPECT_EQ(instrument->GetSettledSnapshot(3000).counters.flashPrograms, 0u);
    window->reject();
}

TEST_F(UpdateOnDesktop, ClosingDuringTheFlashLetsTheUpdateFinishThenCloses) {
    ASSERT_NO_FATAL_FAILURE(FindInstrument(PacedInstrument()));
    ASSERT_NO_FATAL_FAILURE(StartUpdate());
    ASSERT_TRUE(WaitUntil([&] { return log.cancelHidden; }, 20000));  // the FLASH is being programmed
    const size_t asked = answers.seen.size();
    window->close();  // the close box; the question is answered Yes
    ASSERT_EQ(answers.seen.size(), asked + 1);
    EXPECT_EQ(answers.seen.back().title, "KORVA");
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(window->ClosingNotice()->isVisible());
    window->close();  // once more: still nothing stops it
    EXPECT_EQ(answers.seen.size(), asked + 1);

    ASSERT_TRUE(WaitUntil([&] { return !window->isVisible(); }, 30000));
    EXPECT_TRUE(RowShows(ROW_IMAGE_SUCCEEDED));
    const auto snapshot = instrument->GetSettledSnapshot(3000);
    EXPECT_EQ(snapshot.identity.version1 + "-" + snapshot.identity.version2, "05.306-02.011");
    EXPECT_EQ(snapshot.counters.flashPrograms, 1u);
}

// Closing during the transfer: from the window after a Yes, or by a stop
// request without a question. Either cancels the update and keeps its log.
class CloseDuringTransferOnDesktop : public UpdateOnDesktop, public ::testing::WithParamInterface<bool> {};

TEST_P(CloseDuringTransferOnDesktop, CancelsTheUpdateAndKeepsTheLog) {
    const bool fromWindow = GetParam();
    ASSERT_NO_FATAL_FAILURE(FindInstrument(PacedInstrument()));
    ASSERT_NO_FATAL_FAILURE(StartUpdate());
    ASSERT_TRUE(WaitUntil([&] { return TransferRunning(); }, 15000));
    const size_t asked = answers.seen.size();
    if (fromWindow)
        window->close();
    else
        window->CloseOnStopRequest();
    EXPECT_EQ(answers.seen.size(), asked + (fromWindow ? 1 : 0));
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(log.window.isNull());
    EXPECT_NE(env.LogText().find("Running updates were canceled at closing"), std::string::npos) << env.LogText();
    EXPECT_FALSE(env.Log().IsDiscardable());
    const auto snapshot = instrument->GetSettledSnapshot(3000);
    EXPECT_EQ(snapshot.counters.flashPrograms, 0u);
    EXPECT_EQ(snapshot.identity.version1 + "-" + snapshot.identity.version2, "05.100-02.005");
}

INSTANTIATE_TEST_SUITE_P(FromWindowOrStopRequest, CloseDuringTransferOnDesktop, ::testing::Bool());

}  // namespace
