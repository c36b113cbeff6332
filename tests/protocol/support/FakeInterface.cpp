#include "FakeInterface.h"

#include "platform/SysError.h"

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
