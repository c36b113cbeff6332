// CUpdateApplication: the application object. It keeps the program to one
// running copy, records the machine in the update log, writes the USB
// library file, runs the main window modally and cleans up in order.
//
// Thread: the GUI (main) thread only. The update log must be installed
// (CUpdateLogFile::SetCurrent) before the object is built, as the log is
// created first and closed last.
#pragma once

#include <QApplication>
#include <memory>
#include <string>

#include "app/SingleInstance.h"
#include "base/BaseObject.h"

class CUpdateWnd;

class CUpdateApplication : public QApplication, public CBaseObject {
public:
    // Entries written for the application carry the framework's class name.
    const char* GetRuntimeClassName() const override { return "CWinApp"; }

    CUpdateApplication(int& argc, char** argv);
    ~CUpdateApplication() override;

    // The whole run; always false, after which the process ends.
    bool InitInstance();

    // Command 46111: the About box, modal.
    void OnAppAbout();

    // Where the single-instance lock lives (tests); empty: the per-user
    // run-time folder.
    void SetInstanceDirectory(const std::string& directory) { m_strInstanceDirectory = directory; }

private:
    // Steps before the modal loop. False when this copy must end at once.
    bool CheckSingleInstance();
    void ShowStartupFailure(uint32_t error);
    void BringMainWindowToFront();
    // A stop signal: closes the window once no update runs any more.
    void CloseWhenNoUpdateRuns();

    CSingleInstance m_Instance;
    std::string m_strInstanceDirectory;
    std::unique_ptr<CUpdateWnd> m_pMainWnd;
};
