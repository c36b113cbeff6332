// One running copy per user: a named lock marks the running copy, and a
// local socket beside it lets a second copy ask the first to bring its main
// window to the front before the second ends.
//
// Thread: the GUI thread only (the server's signals arrive there).
#pragma once

#include <QObject>
#include <functional>
#include <memory>

#include "platform/SystemInfo.h"

class QLocalServer;
class QWidget;

// Shows `window` in its normal state (restored if minimised), raises and
// activates it.
void BringWindowToFront(QWidget* window);

class CSingleInstance : public QObject {
    Q_OBJECT
public:
    enum class Result { kFirst, kOtherRunning, kFailed };

    explicit CSingleInstance(QObject* parent = nullptr);
    ~CSingleInstance() override;

    // Takes the lock `name` (in `directory`, default the per-user run-time
    // folder). kFirst: this copy runs and listens for later ones.
    // kOtherRunning: another copy holds it and has been asked to come to
    // the front. kFailed: the lock could not be asked; Error() says why.
    Result Start(const std::string& name, const std::string& directory = "");
    uint32_t Error() const { return m_dwError; }

    // Called on the GUI thread each time a later copy asks for the front.
    void SetActivationHandler(std::function<void()> handler) { m_activate = std::move(handler); }

    // Lets go of the lock and stops listening.
    void Stop();

private:
    void OnNewConnection();

    platform::NamedInstanceLock m_Lock;
    QLocalServer* m_pServer = nullptr;
    std::function<void()> m_activate;
    uint32_t m_dwError = 0;
};
