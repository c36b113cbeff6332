#include "update/DeviceUpdateDoc.h"

#include "base/ResultCodes.h"
#include "base/WindowMessages.h"
#include "device/DeviceTables.h"
#include "resources/Resources.h"

CDeviceUpdateDoc::CDeviceUpdateDoc(IMessageWindow* mainWindow, IUpdateDialogs* dialogs)
    : m_pMainWindow(mainWindow), m_pDialogs(dialogs) {}

CDeviceUpdateDoc::~CDeviceUpdateDoc() {
    // A result still on its way finds the lock shut and is dropped; the
    // thread list then stops the updates and waits for them.
    const bool locked = LockForDestruction(m_Lock, this);
    m_Lock.Close();
    if (locked) m_Lock.Unlock();
    m_Threads.RemoveAll();
    m_Threads.WaitForDestructions(platform::kInfinite);
}

LRESULT CDeviceUpdateDoc::DoOnSendMessage(uint32_t msg, WPARAM wParam, LPARAM lParam) {
    return m_pMainWindow != nullptr ? m_pMainWindow->SendMsg(msg, wParam, lParam) : 0;
}

void CDeviceUpdateDoc::StartDeviceUpdate(const PortPtr& port, const DevicePtr& device) {
    m_pDevice = device;
    const uint8_t* image = nullptr;
    uint32_t length = 0;
    if (port && InitDeviceUpdate(device, &image, &length)) {
        LogDateTime(this);
        const std::string head = port->GetDescription() + "\r\n" + device->GetDescription() + "\r\nUpdate to: " +
                                 device->GetTargetDeviceName() + "_" + device->GetTargetSoftwareVersion();
        LogMessage(this, head, "StartDeviceUpdate", true);
        auto* thread = new CDevUpdateThread(port, device, m_dwFlags, image, length, &CDeviceUpdateDoc::OnThreadEvent,
                                            this, m_pMainWindow);
        // Without its worker (no events) it would never report: the update
        // is refused instead of showing as running for ever.
        if (thread->HasWorker()) {
            // Under m_Lock, so that a report that comes at once finds the
            // thread in m_Running before it is destroyed.
            CObjectLockGuard guard(m_Lock);
            if (guard && m_Threads.Add(thread, port.get()) >= 0) {
                m_Running.push_back(thread);
                return;
            }
        }
        delete thread;
    }
    DoOnSendMessage(WM_UPDATE_CANCELED, reinterpret_cast<WPARAM>(port.get()), 0);
}

int CDeviceUpdateDoc::CancelUpdates() {
    CObjectLockGuard guard(m_Lock);
    if (!guard) return 0;
    int going = 0;
    for (CDevUpdateThread* thread : m_Running) {
        if (thread->IsCancellable())
            thread->CancelUpdate();
        else
            ++going;
    }
    return going;
}

int CDeviceUpdateDoc::CheckStartConditions() {
    if (!m_pDevice) return 0;
    const uint32_t flags = m_pDevice->GetVersionChangeFlags();
    m_dwFlags[0] = (flags & VC_KEEP_SETTINGS) ? 1 : 0;
    m_dwFlags[1] = (flags & VC_CALIBRATE) ? 1 : 0;
    if (flags & VC_NOT_AT_ONCE) return m_pDialogs ? m_pDialogs->ShowVersionNotAtOnce() : 0;
    if (!ConfirmVersionChange(flags & (VC_DOWNGRADE | VC_CHANGE_IMPOSSIBLE))) return 0;
    if (m_dwFlags[1]) return m_pDialogs ? m_pDialogs->AskAdjustment() : 0;
    return 1;
}

void CDeviceUpdateDoc::OnThreadEvent(CDevUpdateThread* thread, uint32_t code, const PortPtr& port,
                                     const DevicePtr& device, CObject* document) {
    auto* self = CObject::DownCast<CDeviceUpdateDoc>(document);
    if (self != nullptr) self->DoOnThreadEvent(thread, port, device, code);
}

void CDeviceUpdateDoc::DoOnThreadEvent(CDevUpdateThread* thread, const PortPtr& port, const DevicePtr& device,
                                       uint32_t code) {
    {
        CObjectLockGuard guard(m_Lock);
        if (!guard) return;
        FinishDeviceUpdate(thread);
        std::erase(m_Running, thread);
        // Destroyed on a thread of its own: its destructor waits for this
        // very thread, which goes on only to send the message below.
        m_Threads.RemoveThread(thread);
    }
    // `port` and `device` belong to the thread object, which lives until
    // this thread has returned from its report.
    if (code == RC_UPDATE_FINISHED)
        DoOnSendMessage(WM_UPDATE_FINISHED, reinterpret_cast<WPARAM>(port.get()),
                        reinterpret_cast<LPARAM>(&device));
    else
        DoOnSendMessage(WM_UPDATE_CANCELED, reinterpret_cast<WPARAM>(port.get()), static_cast<LPARAM>(code));
}

// ---------------------------------------------------------------- CCustomUpdateDoc

int CCustomUpdateDoc::InitDeviceUpdate(const DevicePtr& device, const uint8_t** image, uint32_t* length) {
    // The caller reports the refusal; a document's address is no result
    // code to show the user.
    if (!device || image == nullptr || length == nullptr) return 0;
    // The carried image, used where it lies: never copied.
    EmbeddedFile file;
    if (FindEmbeddedFile(IDR_FIRMWARE_IMAGE, file) && file.size <= UINT32_MAX) {
        *image = file.data;
        *length = static_cast<uint32_t>(file.size);
    } else {
        *image = nullptr;
        *length = 0;
    }
    return CheckStartConditions();
}

void CCustomUpdateDoc::FinishDeviceUpdate(CDevUpdateThread* /*thread*/) {}

int CCustomUpdateDoc::ConfirmVersionChange(uint32_t flags) {
    if (flags == 0) return 1;
    return m_pDialogs ? m_pDialogs->AskVersionChange(flags) : 0;
}
