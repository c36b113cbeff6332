// The update progress window as the update thread sees it.
//
// The window lives on the main thread: the main window creates it when an
// update thread asks (WM_CREATE_DEVICE_UPDATE_WINDOW, returning its address
// as an IProgressWindow*) and deletes it when the thread asks again
// (WM_DESTROY_DEVICE_UPDATE_WINDOW, lParam the same address). In between
// the thread only posts WM_SET_UPDATE_MESSAGE .. WM_SHOW_CANCEL_BUTTON to
// it; the window handles them on the main thread in the order posted. Its
// cancel button calls the thread's CancelUpdate.
//
// Threads: PostMsg is called from the update thread (and must neither
// block nor call back); creation, handling and deletion happen on the main
// thread.
#pragma once

#include <cstdint>

#include "base/MessageWindow.h"
#include "base/Object.h"

class IProgressWindow : public CObject {
public:
    KORVA_RUNTIME_CLASS(IProgressWindow)
    // Queues the message for the main thread. False when the window is gone.
    virtual bool PostMsg(uint32_t msg, WPARAM wParam, LPARAM lParam) = 0;
};
