#include "window/UpdateWndView.h"

void CRecordingUpdateWndView::SetRows(const std::vector<CDeviceRow>& newRows) {
    rows = newRows;
    ++rowRebuilds;
}

void CRecordingUpdateWndView::ShowSearchProgress(uint16_t range, uint16_t position) {
    progressVisible = true;
    progressRange = range;
    progressPosition = position;
    ++progressShows;
}

void CRecordingUpdateWndView::MoveSearchProgress(uint16_t position) { progressPosition = position; }

void CRecordingUpdateWndView::HideSearchProgress() {
    progressVisible = false;
    ++progressHides;
}

void CRecordingUpdateWndView::EnableStartUpdate(bool enable) { startUpdateEnabled = enable; }

void CRecordingUpdateWndView::SetPortMenu(const CPortMenuState& newMenu) { menu = newMenu; }

bool CRecordingUpdateWndView::AskSerialSettingsNotice() {
    ++serialNotices;
    return answerSerialNotice;
}

void CRecordingUpdateWndView::ShowMessageDialog(uint32_t code, const PortPtr& port, const DevicePtr& device) {
    messages.push_back(Message{code, port, device});
}

void CRecordingUpdateWndView::EndDialog() { ended = true; }

const CDeviceRow* CRecordingUpdateWndView::FindRow(const std::string& address) const {
    for (const CDeviceRow& row : rows) {
        if (row.address == address) return &row;
    }
    return nullptr;
}

IProgressWindow* CRecordingUpdateWndView::CreateProgressWindow(const std::string& title, CObject* thread) {
    if (CObject::DownCast<CDevUpdateThread>(thread) == nullptr) return nullptr;
    progressWindows.push_back(std::make_shared<CRecordingProgressSink>(title, thread));
    ++progressWindowsOpen;
    return progressWindows.back().get();
}

int CRecordingUpdateWndView::DestroyProgressWindow(CObject* window) {
    if (CObject::DownCast<CRecordingProgressSink>(window) == nullptr) return -1;
    --progressWindowsOpen;
    return 0;
}
