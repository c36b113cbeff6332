#include "FakeInterface.h"

#include "platform/SysError.h"

void EventRecorder::OnEvent(uint32_t event, uintptr_t data, const CByteBuffer* text,
                            CObject* context) {
    auto* self = CObject::DownCast<EventRecorder>(context);
    if (self == nullptr) return;
    {
        std::lock_guard<std::mutex> lock(self->m_mutex);
        self->m_events.push_back({event, data, text ? text->ToString() : std::string()});
    }
    // Events may come on other threads: wake the test's pump to look.
    if (IMessageWindow* main = CMessageWindow::Main()) main->PostMsg(0);
}

std::vector<RecordedEvent> EventRecorder::Events() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_events;
}

std::vector<RecordedEvent> EventRecorder::Take() {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<RecordedEvent> events;
    events.swap(m_events);
    return events;
}

size_t EventRecorder::Count(uint32_t event) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    size_t n = 0;
    for (const auto& e : m_events) n += e.event == event;
    return n;
}

std::vector<std::string> EventRecorder::Lines() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<std::string> lines;
    for (const auto& e : m_events) {
        if (e.event == IF_EVENT_LINE_RECEIVED) lines.push_back(e.text);
    }
    return lines;
}

uint32_t FakeInterface::SendData(const CByteBuffer& data) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_result == 0 || m_result == ERROR_IO_PENDING) m_writes.push_back(data.ToString());
    return m_result;
}

void FakeInterface::Receive(std::string_view bytes) {
    CByteBuffer data(bytes);
    OnDataReceived(data, this);
}

std::vector<std::string> FakeInterface::Writes() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_writes;
}

void FakeInterface::SetResult(uint32_t result) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_result = result;
}
