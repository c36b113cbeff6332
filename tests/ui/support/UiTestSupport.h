// Helpers for driving the real windows on Qt's offscreen platform.
#pragma once

#include <QString>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/UpdateLogFile.h"
#include "tests/base/support/TempDir.h"

class QPoint;
class QWidget;

// Processes Qt events until `done` or `timeoutMs`; returns done().
bool WaitUntil(const std::function<bool()>& done, int timeoutMs = 5000);

// Answers the next modal dialog that shows a button with id `buttonId` by
// clicking it (from the event loop of that dialog). `seen` receives the
// dialog's title.
void AnswerNextModal(int buttonId, QString* seen = nullptr);

// True on a real X display (tests/ui/desktop.sh: Xvfb with a window
// manager); the *OnDesktop* tests skip themselves elsewhere.
bool OnDesktop();
// A click as the X server delivers it (xdotool), at a global position:
// through the window manager and Qt's modal blocking, as a user's click.
// `button` 1 left, 3 right. Blocks until xdotool has sent it.
bool DesktopClick(const QPoint& global, int button = 1);
// The top-level windows from bottom to top as the window manager stacks
// them (_NET_CLIENT_LIST_STACKING).
std::vector<unsigned long> DesktopStacking();

// A private update log and run-time folder for one test: the log is
// installed as the process's log, XDG_RUNTIME_DIR points into the folder
// (port aliases, locks), and every port the machine has is shadowed by an
// alias that leads nowhere, so no test opens a real serial port.
class UiTestEnvironment {
public:
    UiTestEnvironment();
    ~UiTestEnvironment();
    std::string LogText();  // the log so far, unscrambled
    CUpdateLogFile& Log() { return *m_pLog; }
    const TempDir& Dir() const { return m_Dir; }

private:
    TempDir m_Dir;
    std::unique_ptr<CUpdateLogFile> m_pLog;
    EnvScope m_Env;
};
