// korva-ui-shots: pictures of the real windows for the documentation, taken
// from the screen, so the window manager's frames and stacking show. Switches
// the serial kind on, waits for the instruments the simulator offers, and
// saves the main window, the progress window of a real update of the first
// instrument caught mid-transfer in front of the main window (the update is
// then cancelled, so the instrument keeps its firmware), the adjustment
// notice and a message dialog as PNG files into the folder given, named
// with the language (de, en).
#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <cstdio>

#include "base/ResultCodes.h"
#include "base/StringIds.h"
#include "base/Strings.h"
#include "base/UpdateLogFile.h"
#include "base/WindowMessages.h"
#include "ui/DeviceUpdateWnd.h"
#include "ui/MessageDialog.h"
#include "ui/UpdateDialogs.h"
#include "ui/UpdateWnd.h"
#include "update/DeviceUpdateDoc.h"

namespace {

void Run(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// The screen inside the frames of `windows` (as the manager draws them).
bool Save(std::initializer_list<QWidget*> windows, const QString& path) {
    QRect area;
    for (QWidget* window : windows) area |= window->frameGeometry();
    QScreen* screen = QGuiApplication::primaryScreen();
    const bool ok = screen != nullptr &&
                    screen->grabWindow(0, area.x(), area.y(), area.width(), area.height()).save(path);
    std::printf("%s %s\n", ok ? "saved" : "could not save", qPrintable(path));
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "Usage: korva-ui-shots OUTPUT_DIR [INSTRUMENTS] [de|en]\n");
        return 2;
    }
    CUpdateLogFile log;
    CUpdateLogFile::SetCurrent(&log);
    int result = 0;
    {
        QApplication app(argc, argv);
        const QString out = QString::fromLocal8Bit(argv[1]);
        const int wanted = argc > 2 ? std::atoi(argv[2]) : 2;
        const QString language = argc > 3 ? QString::fromLatin1(argv[3]) : QStringLiteral("en");
        SetLanguageOverride(language == QLatin1String("de") ? 7 : 9);
        const auto name = [&](const char* what) { return out + "/screenshot-" + what + "-" + language + ".png"; };

        CUpdateWnd window(false);
        window.setModal(true);  // as the program runs it
        window.show();
        QTimer answer;
        QObject::connect(&answer, &QTimer::timeout, [&] {
            QWidget* modal = QApplication::activeModalWidget();
            // Yes to the serial notice and to any question before the update.
            if (auto* yes = modal ? modal->findChild<QAbstractButton*>(QStringLiteral("ctl1")) : nullptr) yes->click();
        });
        answer.start(20);
        window.Command(ID_SERIAL_ACTIVATE)->trigger();

        QElapsedTimer waited;
        waited.start();
        while (window.List()->topLevelItemCount() < wanted && waited.elapsed() < 20000) Run(100);
        // The newer instrument (COM10, as the script starts it) is selected.
        QTreeWidgetItem* first = window.List()->topLevelItem(0);
        for (int i = 0; i < window.List()->topLevelItemCount(); ++i)
            if (window.List()->topLevelItem(i)->text(3) == QStringLiteral("COM10")) first = window.List()->topLevelItem(i);
        if (first != nullptr) first->setSelected(true);
        Run(500);
        if (!Save({&window}, name("main-window"))) result = 1;

        // Start Update on the selected row; the progress window exists when
        // the press returns. It is grabbed when the transfer passes 40 %.
        bool grabbed = false;
        if (auto* start = window.findChild<QPushButton*>(QStringLiteral("ctl6017")); start && start->isEnabled()) {
            start->click();
            CDeviceUpdateWnd* progress = nullptr;
            for (QWidget* widget : QApplication::topLevelWidgets())
                if (auto* candidate = dynamic_cast<CDeviceUpdateWnd*>(widget)) progress = candidate;
            if (progress != nullptr) {
                progress->SetWatcher([&](CDeviceUpdateWnd& w, uint32_t msg) {
                    const QProgressBar* bar = w.ProgressBar();
                    if (grabbed || msg != WM_UPDATE_PROGRESS_BAR || bar->value() * 10 < bar->maximum() * 4) return;
                    grabbed = true;
                    if (!Save({&window, &w}, name("progress-window"))) result = 1;
                    w.OnCancel();
                });
            }
            waited.restart();
            while (!grabbed && waited.elapsed() < 120000) Run(100);
            // The cancelled update ends; its window goes.
            waited.restart();
            while (window.Core().GetUpdateDoc() && window.Core().GetUpdateDoc()->GetThreadCount() > 0 &&
                   waited.elapsed() < 20000)
                Run(100);
        }
        answer.stop();
        if (!grabbed) {
            std::printf("no update reached its transfer\n");
            result = 1;
        }

        PortPtr port;
        DevicePtr device;
        window.Core().GetDeviceList().GetDeviceAt(0, &port, &device, nullptr);
        CMessageDialog message(port.get(), device.get(), 0x24000000 /* RC_UPDATE_TIMEOUT */, &window);
        message.show();
        Run(500);
        if (!Save({&message}, name("message-dialog"))) result = 1;
        message.hide();
        CUpdateQuestionDialog notice(CUpdateQuestionDialog::kAdjustmentNotice, 0, &window);
        notice.show();
        Run(500);
        if (!Save({&notice}, name("adjustment-notice"))) result = 1;
        notice.hide();
        window.reject();
    }
    CUpdateLogFile::SetCurrent(nullptr);
    return result;
}
