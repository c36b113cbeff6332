// The program's window side: start-up until the main window is on screen,
// resident memory with two instruments listed, and CPU use while the serial
// and USB searches run with nothing to find. Runs on Qt's offscreen
// platform unless a display is chosen. Prints its figures as counters.
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QTimer>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTreeWidget>
#include <QWindow>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "base/UpdateLogFile.h"
#include "platform/PortAlias.h"
#include "platform/PortListing.h"
#include "sim/PtyInstrument.h"
#include "transport/UsbLibraryFile.h"
#include "ui/DialogTemplate.h"
#include "ui/UpdateWnd.h"

namespace {

// Seconds since the process started (from /proc), so the figure includes
// loading the program and its libraries.
double SecondsSinceProcessStart() {
    std::ifstream stat("/proc/self/stat");
    std::string all((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    std::istringstream fields(all.substr(all.rfind(')') + 2));
    std::string field;
    for (int i = 3; i <= 22 && fields >> field; ++i) {}
    const double startTicks = std::stod(field);
    timespec boot {};
    clock_gettime(CLOCK_BOOTTIME, &boot);
    return boot.tv_sec + boot.tv_nsec / 1e9 - startTicks / sysconf(_SC_CLK_TCK);
}

double ResidentMegabytes() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) return std::stod(line.substr(6)) / 1024.0;
    }
    return 0;
}

double CpuSeconds() {
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec + usage.ru_stime.tv_usec / 1e6;
}

// Runs the event loop as the program does: sleeping until something happens.
void Process(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

bool ProcessUntil(const std::function<bool()>& done, int ms) {
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < ms) QApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

// A private run-time and temporary folder, with every port of the machine
// shadowed so that no real serial port is opened.
struct Sandbox {
    std::string root;
    std::unique_ptr<CUpdateLogFile> log;
    Sandbox() {
        char pattern[] = "/tmp/korva-ui-bench-XXXXXX";
        root = mkdtemp(pattern);
        mkdir((root + "/run").c_str(), 0700);
        mkdir((root + "/tmp").c_str(), 0700);
        setenv("XDG_RUNTIME_DIR", (root + "/run").c_str(), 1);
        if (DIR* dir = opendir("/sys/class/tty")) {
            while (dirent* entry = readdir(dir)) {
                const std::string com = platform::ComNameForDevice(entry->d_name);
                if (!com.empty()) platform::RegisterPortAlias(com, "/dev/null");
            }
            closedir(dir);
        }
        log = std::make_unique<CUpdateLogFile>(root + "/tmp");
        CUpdateLogFile::SetCurrent(log.get());
        chdir((root + "/tmp").c_str());
    }
};

QApplication& App() {
    static int argc = 1;
    static char name[] = "ui_bench";
    static char* argv[] = {name, nullptr};
    if (getenv("DISPLAY") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 0);
    static QApplication app(argc, argv);
    return app;
}

// Answers the serial settings notice with Yes once it is up.
void AnswerNoticeWithYes() {
    auto* poll = new QTimer;
    poll->setInterval(10);
    QObject::connect(poll, &QTimer::timeout, [poll] {
        QWidget* modal = QApplication::activeModalWidget();
        auto* yes = modal ? modal->findChild<QAbstractButton*>(QStringLiteral("ctl1")) : nullptr;
        if (yes == nullptr) return;
        poll->stop();
        poll->deleteLater();
        yes->click();
    });
    poll->start();
}

Sandbox& TheSandbox() {
    static Sandbox sandbox;
    return sandbox;
}

void BM_StartupToMainWindowShown(benchmark::State& state) {
    TheSandbox();
    const double beforeApp = SecondsSinceProcessStart();
    QElapsedTimer timer;
    timer.start();
    App();
    double fromProcessStart = 0;
    for (auto _ : state) {
        timer.restart();
        CUpdateWnd window(false);
        window.show();
        ProcessUntil([&] { return window.isVisible() && window.windowHandle() && window.windowHandle()->isExposed(); },
                     5000);
        state.SetIterationTime(timer.nsecsElapsed() / 1e9);
        if (fromProcessStart == 0) fromProcessStart = SecondsSinceProcessStart();
        window.reject();
    }
    state.counters["process_start_to_first_window_ms"] = fromProcessStart * 1000.0;
    state.counters["process_start_to_main_ms"] = beforeApp * 1000.0;
}
BENCHMARK(BM_StartupToMainWindowShown)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

void BM_ResidentMemoryWithTwoInstruments(benchmark::State& state) {
    TheSandbox();
    App();
    for (auto _ : state) {
        sim::Config first;
        first.timing.fast = true;
        sim::Config second = first;
        second.identity.serialNumber = "012345679";
        sim::CPtyInstrument a(first), b(second);
        a.Start(10);
        b.Start(11);
        CUpdateWnd window(false);
        window.show();
        AnswerNoticeWithYes();
        window.Core().SwitchSerial(true);
        const bool listed = ProcessUntil([&] { return window.List()->topLevelItemCount() == 2; }, 20000);
        Process(1000);
        state.counters["rss_mb"] = ResidentMegabytes();
        state.counters["listed"] = listed ? 2 : window.List()->topLevelItemCount();
        window.reject();
    }
}

void BM_IdleCpuWithSerialAndUsbSearch(benchmark::State& state) {
    TheSandbox();
    App();
    WriteUsbLibraryFile();
    for (auto _ : state) {
        CUpdateWnd window(g_bUsbDllCreated != 0);
        window.show();
        if (state.range(0) & 1) {
            AnswerNoticeWithYes();
            window.Core().SwitchSerial(true);
        }
        if (state.range(0) & 2) window.Core().SwitchUsb(true);
        Process(2000);  // settle
        const double cpu0 = CpuSeconds();
        QElapsedTimer wall;
        wall.start();
        Process(10000);
        const double used = CpuSeconds() - cpu0;
        state.counters["cpu_percent_of_one_core"] = 100.0 * used / (wall.nsecsElapsed() / 1e9);
        window.reject();
    }
    DeleteUsbLibraryFile();
}

}  // namespace

BENCHMARK(BM_ResidentMemoryWithTwoInstruments)->Iterations(1)->Unit(benchmark::kMillisecond);
// Argument: 1 serial, 2 USB, 3 both searches on.
BENCHMARK(BM_IdleCpuWithSerialAndUsbSearch)->Arg(0)->Arg(1)->Arg(2)->Arg(3)->Iterations(1)->Unit(benchmark::kMillisecond);
