// korva-ui-shots: pictures of the real windows for the documentation. Switches
// the serial kind on, waits for the instruments the simulator offers, and
// saves the main window, a progress window mid-transfer and a message
// dialog as PNG files into the folder given.
#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPixmap>
#include <QTimer>
#include <QTreeWidget>
#include <cstdio>

#include "base/ResultCodes.h"
#include "base/StringIds.h"
#include "base/UpdateLogFile.h"
#include "base/WindowMessages.h"
#include "ui/DeviceUpdateWnd.h"
#include "ui/MessageDialog.h"
#include "ui/UpdateWnd.h"

namespace {

void Run(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

bool Save(QWidget& widget, const QString& path) {
    const bool ok = widget.grab().save(path);
    std::printf("%s %s\n", ok ? "saved" : "could not save", qPrintable(path));
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "Usage: korva-ui-shots OUTPUT_DIR [INSTRUMENTS]\n");
        return 2;
    }
    CUpdateLogFile log;
    CUpdateLogFile::SetCurrent(&log);
    int result = 0;
    {
        QApplication app(argc, argv);
        const QString out = QString::fromLocal8Bit(argv[1]);
        const int wanted = argc > 2 ? std::atoi(argv[2]) : 2;

        CUpdateWnd window(false);
        window.show();
        QTimer answer;
        QObject::connect(&answer, &QTimer::timeout, [&] {
            QWidget* modal = QApplication::activeModalWidget();
            if (auto* yes = modal ? modal->findChild<QAbstractButton*>(QStringLiteral("ctl1")) : nullptr) {
                answer.stop();
                yes->click();
            }
        });
        answer.start(20);
        window.Command(ID_SERIAL_ACTIVATE)->trigger();

        QElapsedTimer waited;
        waited.start();
        while (window.List()->topLevelItemCount() < wanted && waited.elapsed() < 20000) Run(100);
        QTreeWidgetItem* first = window.List()->topLevelItem(0);
        if (first != nullptr) first->setSelected(true);
        Run(300);
        if (!Save(window, out + "/screenshot-main-window.png")) result = 1;

        CDeviceUpdateWnd progress(QStringLiteral("QV3108-2 - COM10"), nullptr, {});
        progress.PostMessage(WM_SET_UPDATE_MESSAGE, 0, IDS_PROG_TRANSMIT_DATA);
        progress.PostMessage(WM_SHOW_PROGRESS_BAR, 0, 100);
        progress.PostMessage(WM_UPDATE_PROGRESS_BAR, 0, 42);
        Run(300);
        if (!Save(progress, out + "/screenshot-progress-window.png")) result = 1;
        progress.hide();

        PortPtr port;
        DevicePtr device;
        window.Core().GetDeviceList().GetDeviceAt(0, &port, &device, nullptr);
        CMessageDialog message(port.get(), device.get(), 0x24000000 /* RC_UPDATE_TIMEOUT */);
        message.show();
        Run(300);
        if (!Save(message, out + "/screenshot-message-dialog.png")) result = 1;
        message.hide();
        window.reject();
    }
    CUpdateLogFile::SetCurrent(nullptr);
    return result;
}
