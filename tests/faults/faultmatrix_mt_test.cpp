// Every fault the simulated instrument can show, at every step where it can
// happen, over a serial port (pseudo-terminal) and over USB (the simulated
// library), each through the headless main window: found by the search,
// started from its row, ended as defined. Each run checks the result the
// window got, the row, the message dialog, the update log left behind, the
// instrument's firmware, FLASH and settings, and that no update is ever
// reported successful on an instrument that does not run the new firmware.
// The process prints a table of scenario, expected and actual at its end.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <tuple>
#include <vector>

#include "base/ResultCodes.h"
#include "base/StringIds.h"
#include "platform/SysError.h"
#include "support/FaultRig.h"

using faults::Outcome;
using faults::Transport;
using sim::Step;

namespace faults {
void PrintTo(Transport transport, std::ostream* os) { *os << TransportName(transport); }
}  // namespace faults

namespace {

constexpr uint32_t kNotOffered = 0xFFFFFFFF;  // no row, or a row without an update
constexpr uint32_t kPortFailure = 0;  // a port failure ends the update like a cancel

struct Expect {
    uint32_t code = RC_UPDATE_FINISHED;
    const char* firmware = "new";  // "new", "old" or "-"
    const char* settings = "-";    // "orig", "blank" or "-"
    uint32_t lastText = 0;         // the last step text, 0: not checked
    uint32_t alternative = kNotOffered;  // a second result that is as right
    const char* state = "-";             // the simulator's state at the end ("SCPI": runs a firmware)
};

enum class Where {
    kSearch,  // the instrument shows the fault from the start
    kUpdate,  // a clean instrument is found, the faulty one is updated
};

struct Case {
    const char* name;
    bool core;                                  // part of the default run
    Where where;
    bool keep;                                  // a version step that keeps the settings and calibrates
    std::function<void(sim::Config&)> fault;
    Expect serial;
    Expect usb;
    std::function<void(const Outcome&)> extra = {};  // further checks
    uint32_t cancelAtText = 0;                       // Cancel pressed at this step text
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

Expect Finished(const char* settings = "-", uint32_t lastText = 0) {
    return Expect{RC_UPDATE_FINISHED, "new", settings, lastText};
}
Expect Failed(uint32_t code, const char* firmware, uint32_t lastText = 0) {
    return Expect{code, firmware, "-", lastText};
}
Expect NotOffered() { return Expect{kNotOffered, "-", "-", 0}; }
// Failed before the FLASH was touched, and the instrument was restarted out
// of its monitor: it runs its old firmware again.
Expect Back(uint32_t code) { return Expect{code, "old", "-", 0, kNotOffered, "SCPI"}; }
void RestartedOnce(const Outcome& o) {
    EXPECT_EQ(o.sim.counters.flashPrograms, 0u);
    EXPECT_EQ(o.sim.counters.restarts, 1u);
}
// The identity check after the restart got its reply through the noise:
// the kept settings went back, the calibration and the stores ran.
void SettingsRestored(const Outcome& o) {
    EXPECT_GT(o.sim.counters.settingsWrites, 0u);
    EXPECT_EQ(o.sim.counters.calibrations, 1u);
    EXPECT_EQ(o.sim.counters.factoryStores, 1u);
    EXPECT_EQ(o.sim.counters.presets, 1u);
}
// The cable pulled right after the settings query: the port failure may
// come during the pause before the reply is awaited, and the query then
// ends with its reply time.
Expect PortFailureOrTimeout() { return Expect{kPortFailure, "old", "-", 0, RC_UPDATE_TIMEOUT}; }

std::vector<Case> Cases() {
    auto vanish = [](Step step) { return [step](sim::Config& c) { c.faults.vanishAt = step; }; };
    std::vector<Case> cases = {
        {"clean", true, Where::kUpdate, false, [](sim::Config&) {}, Finished(), Finished()},
        {"clean_keep_settings", true, Where::kUpdate, true, [](sim::Config&) {}, Finished("orig", IDS_PROG_ADJUST),
         Finished("orig", IDS_PROG_ADJUST),
         [](const Outcome& o) {
             EXPECT_EQ(o.sim.counters.calibrations, 1u);
             EXPECT_EQ(o.sim.counters.factoryStores, 1u);
         }},
        // The cable pulled at each step.
        {"vanish_settings_query", true, Where::kUpdate, true, vanish(Step::kSettings), PortFailureOrTimeout(),
         PortFailureOrTimeout()},
        {"vanish_monitor_switch", false, Where::kUpdate, false, vanish(Step::kMonitor), Failed(kPortFailure, "old"),
         Failed(kPortFailure, "old")},
        {"vanish_image_transfer", true, Where::kUpdate, false, vanish(Step::kLoad), Failed(kPortFailure, "old"),
         Failed(kPortFailure, "old")},
        {"vanish_checksum", false, Where::kUpdate, false, vanish(Step::kChecksum), Failed(kPortFailure, "old"),
         Failed(kPortFailure, "old")},
        {"vanish_flash_programming", true, Where::kUpdate, false, vanish(Step::kCopy), Failed(kPortFailure, "old"),
         Failed(kPortFailure, "old")},
        {"vanish_restart", true, Where::kUpdate, false, vanish(Step::kRestart), Failed(kPortFailure, "old"),
         Failed(ERROR_DEV_NOT_EXIST, "old")},
        {"vanish_identify_after_restart", false, Where::kUpdate, false, vanish(Step::kIdentify),
         Failed(kPortFailure, "new"), Failed(kPortFailure, "new")},
        {"vanish_modules_after_restart", false, Where::kUpdate, false, vanish(Step::kModules),
         Failed(kPortFailure, "new"), Failed(kPortFailure, "new")},
        {"vanish_calibration", false, Where::kUpdate, true, vanish(Step::kCalibrate), Failed(kPortFailure, "new"),
         Failed(kPortFailure, "new")},
        // The image on its way into RAM.
        {"image_byte_lost_once", false, Where::kUpdate, false,
         [](sim::Config& c) { c.faults.dropImageByteAt = 700000; }, Finished(), Finished()},
        {"image_byte_lost_every_load", true, Where::kUpdate, false,
         [](sim::Config& c) {
             c.faults.dropImageByteAt = 1000;
             c.faults.imageFaultEveryLoad = true;
         },
         Back(RC_UPDATE_REPEAT), Back(RC_UPDATE_REPEAT),
         [](const Outcome& o) {
             EXPECT_EQ(o.sim.counters.loads, 3u);
             RestartedOnce(o);
         }},
        {"image_byte_corrupted_once", true, Where::kUpdate, false,
         [](sim::Config& c) { c.faults.corruptImageByteAt = 5000; }, Finished(), Finished()},
        {"image_byte_corrupted_every_load", false, Where::kUpdate, false,
         [](sim::Config& c) {
             c.faults.corruptImageByteAt = 5000;
             c.faults.imageFaultEveryLoad = true;
         },
         Back(RC_UPDATE_REPEAT), Back(RC_UPDATE_REPEAT), RestartedOnce},
        {"checksum_wrong_once", true, Where::kUpdate, false,
         [](sim::Config& c) { c.faults.wrongChecksum = sim::ChecksumFault::kOnce; }, Finished(), Finished()},
        {"checksum_wrong_always", true, Where::kUpdate, false,
         [](sim::Config& c) { c.faults.wrongChecksum = sim::ChecksumFault::kAlways; },
         Back(RC_UPDATE_REPEAT), Back(RC_UPDATE_REPEAT), RestartedOnce},
        // The monitor.
        {"old_monitor", true, Where::kUpdate, false, [](sim::Config& c) { c.faults.oldMonitor = true; },
         Back(RC_MONITOR_UPDATE_REQUIRED), Back(RC_MONITOR_UPDATE_REQUIRED),
         [](const Outcome& o) { EXPECT_EQ(o.sim.flash == "untouched" || o.sim.flash == "?", true); }},
        {"monitor_version_unreadable", false, Where::kUpdate, false,
         [](sim::Config& c) { c.monitorVersion = "beta"; }, Back(ERROR_INVALID_DATA), Back(ERROR_INVALID_DATA)},
        {"monitor_waits_for_other_count", true, Where::kUpdate, false,
         [](sim::Config& c) { c.faults.waitingForOtherCount = true; }, Back(RC_UPDATE_CANCELED),
         Back(RC_UPDATE_CANCELED), RestartedOnce},
        // Cancelled before the FLASH is touched: restarted out of the monitor.
        // The line is slow enough that a loaded machine still cancels long
        // before the image is through.
        {"cancel_during_transfer", true, Where::kUpdate, false,
         [](sim::Config& c) {
             c.timing.fast = false;
             c.timing.baud = 1000000;
             c.timing.restartMs = 200;
         },
         Back(0), Back(0),
         [](const Outcome& o) {
             EXPECT_EQ(o.sim.counters.loads, 1u);
             RestartedOnce(o);
         },
         IDS_PROG_TRANSMIT_DATA},
        // Its prompt lost, the monitor is asked for one before the restart.
        {"load_reply_lost", true, Where::kUpdate, false, [](sim::Config& c) { c.faults.loadReplyLost = true; },
         Back(RC_UPDATE_TIMEOUT), Back(RC_UPDATE_TIMEOUT), RestartedOnce},
        {"restart_refused_three_times", true, Where::kUpdate, false, [](sim::Config& c) { c.faults.answerRs = 3; },
         Finished(), Finished()},
        {"restart_always_refused", true, Where::kUpdate, false, [](sim::Config& c) { c.faults.answerRs = -1; },
         Failed(RC_UPDATE_DATA_RECEIVED, "old"), Failed(RC_UPDATE_DATA_RECEIVED, "old"),
         [](const Outcome& o) { EXPECT_EQ(o.sim.counters.flashPrograms, 1u); }},
        // After the restart.
        {"silent_after_restart", true, Where::kUpdate, false,
         [](sim::Config& c) { c.faults.silentAfterRestart = true; },
         Failed(RC_UPDATE_TIMEOUT, "old", IDS_RESTART_FAILED), Failed(RC_UPDATE_TIMEOUT, "old", IDS_RESTART_FAILED)},
        // Restarted into its old firmware although every sum matched: no success.
        {"boots_old_firmware", true, Where::kUpdate, false, [](sim::Config& c) { c.faults.bootsOldFirmware = true; },
         Failed(RC_UPDATE_CANCELED, "old"), Failed(RC_UPDATE_CANCELED, "old")},
        // Noise is no identification reply: it is waited through, and an
        // instrument that sends nothing else is given up like a silent one.
        {"garbage_identification", true, Where::kUpdate, false, [](sim::Config& c) { c.faults.garbage = true; },
         Failed(RC_UPDATE_TIMEOUT, "new", IDS_RESTART_FAILED), Failed(RC_UPDATE_TIMEOUT, "new", IDS_RESTART_FAILED)},
        {"junk_line_after_restart", true, Where::kUpdate, true,
         [](sim::Config& c) { c.faults.idnNoise = sim::IdnNoise::kAfterRestart; }, Finished("orig", IDS_PROG_ADJUST),
         Finished("orig", IDS_PROG_ADJUST), SettingsRestored},
        {"junk_before_every_identification", true, Where::kSearch, true,
         [](sim::Config& c) { c.faults.idnNoise = sim::IdnNoise::kEveryReply; }, Finished("orig", IDS_PROG_ADJUST),
         Finished("orig", IDS_PROG_ADJUST), SettingsRestored},
        {"other_maker_after_restart", true, Where::kUpdate, false,
         [](sim::Config& c) { c.identity.maker = "ACME"; }, Failed(RC_UPDATE_CANCELED, "new"),
         Failed(RC_UPDATE_CANCELED, "new")},
        {"endless_lines_after_identification", true, Where::kUpdate, false,
         [](sim::Config& c) { c.faults.endless = sim::EndlessFault::kLines; }, Failed(RC_UPDATE_CANCELED, "new"),
         Failed(RC_UPDATE_CANCELED, "new")},
        {"endless_line_after_identification", false, Where::kUpdate, false,
         [](sim::Config& c) { c.faults.endless = sim::EndlessFault::kLine; }, Failed(RC_UPDATE_TIMEOUT, "new"),
         Failed(RC_UPDATE_TIMEOUT, "new")},
        {"modules_no_reply", true, Where::kUpdate, false,
         [](sim::Config& c) { c.moduleReply = sim::ModuleReply::kSilent; }, Failed(RC_UPDATE_TIMEOUT, "new"),
         Failed(RC_UPDATE_TIMEOUT, "new")},
        {"modules_text_line", false, Where::kUpdate, false,
         [](sim::Config& c) { c.moduleReply = sim::ModuleReply::kTextLine; }, Failed(RC_UPDATE_CANCELED, "new"),
         Failed(RC_UPDATE_CANCELED, "new")},
        {"modules_unknown_board", false, Where::kUpdate, false,
         [](sim::Config& c) { c.moduleReply = sim::ModuleReply::kUnknownCode; }, Failed(RC_UPDATE_CANCELED, "new"),
         Failed(RC_UPDATE_CANCELED, "new")},
        {"modules_truncated_block", false, Where::kUpdate, false,
         [](sim::Config& c) { c.moduleReply = sim::ModuleReply::kTruncated; }, Failed(RC_UPDATE_TIMEOUT, "new"),
         Failed(RC_UPDATE_TIMEOUT, "new")},
        // The self calibration.
        {"calibration_fails_twice", true, Where::kUpdate, true, [](sim::Config& c) { c.faults.failCalibrations = 2; },
         Finished("orig", IDS_PROG_ADJUST), Finished("orig", IDS_PROG_ADJUST),
         [](const Outcome& o) {
             EXPECT_EQ(o.sim.counters.calibrations, 3u);
             EXPECT_EQ(o.sim.counters.factoryStores, 1u);
         }},
        {"calibration_fails_three_times", true, Where::kUpdate, true,
         [](sim::Config& c) { c.faults.failCalibrations = 3; }, Finished("orig", IDS_ADJUST_FAILED),
         Finished("orig", IDS_ADJUST_FAILED),
         [](const Outcome& o) {
             EXPECT_EQ(o.sim.counters.calibrations, 3u);
             EXPECT_EQ(o.sim.counters.factoryStores, 0u);
             // The failing replies are kept in the log for service.
             EXPECT_NE(o.logText.find("Calibration failed"), std::string::npos);
         }},
        // Faults that already meet the search: the instrument is not offered.
        {"search_garbage_identification", false, Where::kSearch, false,
         [](sim::Config& c) { c.faults.garbage = true; }, NotOffered(), NotOffered()},
        {"search_vanish_identify", false, Where::kSearch, false, vanish(Step::kIdentify), NotOffered(), NotOffered()},
        {"search_endless_lines", false, Where::kSearch, false,
         [](sim::Config& c) { c.faults.endless = sim::EndlessFault::kLines; }, NotOffered(), NotOffered()},
        {"search_modules_no_reply", false, Where::kSearch, false,
         [](sim::Config& c) { c.moduleReply = sim::ModuleReply::kSilent; }, NotOffered(), NotOffered()},
    };
    return cases;
}

// ---------------------------------------------------------------- the table

struct TableRow {
    std::string scenario, expected, actual;
    bool pass;
};

std::mutex g_tableMutex;
std::vector<TableRow> g_table;  // guarded by g_tableMutex

class TablePrinter : public ::testing::Environment {
public:
    void TearDown() override {
        std::lock_guard<std::mutex> lock(g_tableMutex);
        if (g_table.empty()) return;
        size_t w0 = 8, w1 = 8;
        for (const auto& row : g_table) {
            w0 = std::max(w0, row.scenario.size());
            w1 = std::max(w1, row.expected.size());
        }
        int passed = 0;
        std::printf("\n%-*s  %-*s  %s\n", int(w0), "scenario", int(w1), "expected", "actual");
        for (const auto& row : g_table) {
            std::printf("%-*s  %-*s  %s  %s\n", int(w0), row.scenario.c_str(), int(w1), row.expected.c_str(),
                        row.actual.c_str(), row.pass ? "PASS" : "FAIL");
            passed += row.pass;
        }
        std::printf("%d of %zu scenarios pass\n", passed, g_table.size());
    }
};

const auto* const g_printer = ::testing::AddGlobalTestEnvironment(new TablePrinter);

std::string Describe(const Expect& e) {
    if (e.code == kNotOffered) return "not offered";
    std::string text = faults::CodeName(e.code);
    if (e.alternative != kNotOffered) text += "|" + faults::CodeName(e.alternative);
    text += std::string(" fw=") + e.firmware;
    if (std::string(e.settings) != "-") text += std::string(" set=") + e.settings;
    if (e.lastText) text += " text=" + std::to_string(e.lastText);
    if (std::string(e.state) != "-") text += std::string(" sim=") + e.state;
    return text;
}

std::string Describe(const Outcome& o) {
    if (!o.listed) return "not offered (not listed)";
    if (!o.started) return "not offered (row " + std::to_string(o.rowImage) + ")";
    if (!o.ended) return "NO END";
    std::string text = o.finished ? "FINISHED" : faults::CodeName(o.code);
    text += " fw=" + std::string(o.sim.version == faults::TargetVersion() ? "new" : "old");
    text += " set=" + o.sim.settings;
    if (!o.texts.empty()) text += " text=" + std::to_string(o.texts.back());
    text += " row=" + std::to_string(o.rowImage);
    text += " dlg=" + (o.dialogs.empty() ? std::string("-") : faults::CodeName(o.dialogs.front()));
    text += " flash=" + o.sim.flash;
    text += " sim=" + o.sim.state;
    text += " log=" + std::string(o.logKept ? (o.logClean ? "kept" : "DAMAGED") : "none");
    text += " " + std::to_string(o.elapsedMs) + "ms";
    return text;
}

std::string ResultEntry(uint32_t code) {
    char text[64];
    std::snprintf(text, sizeof text, "CDevUpdateThread::UpdateThreadProc - 0x%08X", code);
    return text;
}

// ---------------------------------------------------------------- the runs

class FaultMatrix : public ::testing::TestWithParam<std::tuple<Case, Transport>> {
protected:
    static void SetUpTestSuite() { s_world = new faults::FaultWorld(KORVA_USB_SIM_LIBRARY_PATH); }
    static void TearDownTestSuite() {
        delete s_world;
        s_world = nullptr;
    }
    static faults::FaultWorld* s_world;
};

faults::FaultWorld* FaultMatrix::s_world = nullptr;

sim::Config Instrument(bool keep) {
    sim::Config config;
    config.timing.fast = true;
    // A step from 04.500 keeps the settings and calibrates (after the warm-up question).
    if (keep) config.identity.version1 = "04.500";
    return config;
}

TEST_P(FaultMatrix, EndsAsDefined) {
    const Case& c = std::get<0>(GetParam());
    const Transport transport = std::get<1>(GetParam());
    const Expect& expect = transport == Transport::kSerial ? c.serial : c.usb;
    if (transport == Transport::kUsb) {
        ASSERT_TRUE(s_world->UsbReady());
    }

    faults::Scenario scenario;
    scenario.listed = Instrument(c.keep);
    scenario.updated = scenario.listed;
    c.fault(scenario.updated);
    if (c.where == Where::kSearch) {
        scenario.listed = scenario.updated;
    } else {
        scenario.swap = true;
    }
    scenario.cancelAtText = c.cancelAtText;
    const Outcome o = s_world->Run(transport, scenario);
    const std::string name = std::string(c.name) + " (" + faults::TransportName(transport) + ")";
    const bool failedBefore = ::testing::Test::HasFailure();

    [&] {
        if (expect.code == kNotOffered) {
            EXPECT_FALSE(o.started) << "an instrument that cannot be identified is offered for an update";
            return;
        }
        ASSERT_TRUE(o.listed) << "the search did not find the instrument";
        ASSERT_TRUE(o.started) << "the row offered no update";
        ASSERT_TRUE(o.ended) << "the update did not end";
        // Never a success for an instrument without the new firmware.
        if (o.finished) {
            EXPECT_EQ(o.sim.version, faults::TargetVersion()) << "reported success, but the instrument runs another firmware";
            EXPECT_TRUE(o.sim.present);
            EXPECT_NE(o.sim.flash, "other");
            EXPECT_NE(o.sim.flash, "untouched");
        }
        EXPECT_NE(o.finished, o.canceled) << "exactly one outcome";
        const uint32_t code = o.finished ? RC_UPDATE_FINISHED : o.code;
        if (expect.alternative == kNotOffered || code != expect.alternative) {
            EXPECT_EQ(faults::CodeName(code), faults::CodeName(expect.code));
        }
        // The row and the message dialog.
        EXPECT_EQ(o.rowImage, o.finished ? 3 : 4);
        if (o.finished) {
            EXPECT_EQ(o.rowVersion, faults::TargetVersion());
        }
        if (!o.finished && IsResultCode(code)) {
            EXPECT_EQ(o.dialogs, std::vector<uint32_t>{code});
        } else {
            EXPECT_TRUE(o.dialogs.empty());
        }
        EXPECT_TRUE(o.progressClosed);
        if (expect.lastText) {
            ASSERT_FALSE(o.texts.empty());
            EXPECT_EQ(o.texts.back(), expect.lastText);
        }
        // The log: a failure is kept, readable, and says how the update ended.
        if (!o.finished && c.cancelAtText == 0) {
            EXPECT_TRUE(o.logKept) << "a failed update left no log";
        }
        if (o.logKept) {
            EXPECT_TRUE(o.logClean) << o.logDamage;
            EXPECT_NE(o.logText.find("Update to: QV3108-2_" + faults::TargetVersion()), std::string::npos);
            EXPECT_NE(o.logText.find(ResultEntry(code)), std::string::npos) << ResultEntry(code);
        }
        // The instrument.
        const std::string firmware = expect.firmware;
        if (firmware == "new") {
            EXPECT_EQ(o.sim.version, faults::TargetVersion());
        } else if (firmware == "old") {
            EXPECT_NE(o.sim.version, faults::TargetVersion());
        }
        if (std::string(expect.settings) != "-") {
            EXPECT_EQ(o.sim.settings, expect.settings);
        }
        if (std::string(expect.state) != "-") {
            EXPECT_EQ(o.sim.state, expect.state) << "the instrument was left in another state";
        }
        if (c.extra) c.extra(o);
    }();

    if (::testing::Test::HasFailure() && !o.logText.empty()) {
        // The end of the log says what the update saw.
        const size_t keep = 6000;
        std::printf("--- end of the update log ---\n%s\n---\n",
                    o.logText.substr(o.logText.size() > keep ? o.logText.size() - keep : 0).c_str());
    }
    std::lock_guard<std::mutex> lock(g_tableMutex);
    g_table.push_back({name, Describe(expect), Describe(o), !failedBefore && !::testing::Test::HasFailure()});
}

std::string CaseName(const ::testing::TestParamInfo<std::tuple<Case, Transport>>& info) {
    const Case& c = std::get<0>(info.param);
    return std::string(c.core ? "core_" : "more_") + c.name + "_" + faults::TransportName(std::get<1>(info.param));
}

INSTANTIATE_TEST_SUITE_P(Faults, FaultMatrix,
                         ::testing::Combine(::testing::ValuesIn(Cases()),
                                            ::testing::Values(Transport::kSerial, Transport::kUsb)),
                         CaseName);

}  // namespace

namespace faults {
// Every fault of the matrix that needs no click, for the soak test: its
// name, whether the instrument keeps its settings, and the fault.
std::vector<std::tuple<std::string, bool, std::function<void(sim::Config&)>>> MatrixFaults() {
    std::vector<std::tuple<std::string, bool, std::function<void(sim::Config&)>>> faults;
    for (const Case& c : Cases())
        if (c.cancelAtText == 0) faults.emplace_back(c.name, c.keep, c.fault);
    return faults;
}
}  // namespace faults
