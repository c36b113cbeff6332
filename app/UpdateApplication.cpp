#include "app/UpdateApplication.h"

#include <QMessageBox>
#include <QSocketNotifier>
#include <QTimer>

#include "window/ProgramVersion.h"
#include "window/StartupInfo.h"
#include "base/Strings.h"
#include "platform/StopSignal.h"
#include "platform/SysError.h"
#include "platform/SystemInfo.h"
#include "transport/UsbLibraryFile.h"
#include "ui/AboutDlg.h"
#include "ui/UpdateWnd.h"
#include "update/DeviceUpdateDoc.h"

CUpdateApplication::CUpdateApplication(int& argc, char** argv) : QApplication(argc, argv) {
    // The window closing must not end the process behind InitInstance's
    // back: the clean-up after the modal loop still has to run.
    setQuitOnLastWindowClosed(false);
}

CUpdateApplication::~CUpdateApplication() {
    m_pMainWnd.reset();
    m_Instance.Stop();
}

bool CUpdateApplication::CheckSingleInstance() {
    switch (m_Instance.Start(kSingleInstanceMutexName, m_strInstanceDirectory)) {
        case CSingleInstance::Result::kFirst:
            m_Instance.SetActivationHandler([this] { BringMainWindowToFront(); });
            return true;
        case CSingleInstance::Result::kOtherRunning:
            return false;  // the first copy comes to the front; this one ends silently
        case CSingleInstance::Result::kFailed:
            ShowStartupFailure(m_Instance.Error());
            return false;
    }
    return false;
}

void CUpdateApplication::ShowStartupFailure(uint32_t error) {
    // The lock fails only over its folder: say which one and what is wrong.
    const std::string text = platform::RuntimeDirectoryProblem(
        m_strInstanceDirectory.empty() ? platform::RuntimeDirectory() : m_strInstanceDirectory, error);
    LogMessage(this, text, "InitInstance", false);
    QMessageBox::critical(nullptr, QStringLiteral("KORVA Instruments GmbH"), QString::fromStdString(text));
}

void CUpdateApplication::BringMainWindowToFront() {
    BringWindowToFront(m_pMainWnd.get());
}

bool CUpdateApplication::InitInstance() {
    if (!CheckSingleInstance()) return false;

    // Before the library file is written, so that a stop (SIGHUP included)
    // from here on closes the window the normal way and the file goes.
    platform::Event* stop = platform::InstallStopSignalHandlers();
    StartupFacts facts = GatherStartupFacts();
    facts.usbLibraryLine = WriteUsbLibraryFile();

    m_pMainWnd = std::make_unique<CUpdateWnd>();
    m_pMainWnd->SetAboutHandler([this] { OnAppAbout(); });

    // Routine: this entry alone does not keep the log file, unless it holds
    // why the USB library cannot be loaded.
    const std::string usbProblem = UsbLibraryProblem();
    LogMessage(this, BuildStartupReport(facts), nullptr, usbProblem.empty());
    if (!usbProblem.empty()) {
        QMessageBox::warning(nullptr, QStringLiteral("KORVA Instruments GmbH"),
                             QString::fromStdString("USB instruments cannot be reached: " + usbProblem + "."));
    }

    // A termination request (logout, kill) closes the window the normal
    // way, so searches stop and the library file goes.
    if (stop != nullptr) {
        auto* notifier = new QSocketNotifier(stop->Fd(), QSocketNotifier::Read, m_pMainWnd.get());
        QObject::connect(notifier, &QSocketNotifier::activated, m_pMainWnd.get(), [this, notifier] {
            notifier->setEnabled(false);
            CloseWhenNoUpdateRuns();
        });
    }

    m_pMainWnd->exec();

    DeleteUsbLibraryFile();
    m_Instance.Stop();
    m_pMainWnd.reset();
    return false;
}

void CUpdateApplication::CloseWhenNoUpdateRuns() {
    // Closing ends every update, also one whose FLASH is being programmed,
    // which would leave the instrument without firmware: a stop is held
    // until the running updates have ended by themselves.
    CDeviceUpdateDoc* updates = m_pMainWnd->Core().GetUpdateDoc();
    if (updates != nullptr && updates->GetThreadCount() > 0) {
        QTimer::singleShot(250, m_pMainWnd.get(), [this] { CloseWhenNoUpdateRuns(); });
        return;
    }
    m_pMainWnd->reject();
}

void CUpdateApplication::OnAppAbout() {
    CAboutDlg about(m_pMainWnd.get());
    about.exec();
}
