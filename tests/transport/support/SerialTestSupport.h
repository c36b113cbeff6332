// Test helpers for the serial transport: a private alias folder, the
// instrument's end of a pseudo-terminal pair, recorders of port events and
// data and of a listing's ports, a fake port for what a pseudo-terminal cannot do.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "base/BaseObject.h"
#include "platform/SerialPort.h"
#include "transport/InterfaceParameter.h"
#include "tests/base/support/LogCapture.h"
#include "tests/protocol/support/InterfaceRecorder.h"

// The master side of a pseudo-terminal: what the instrument would send and
// receive. Thread: the test thread.
class PtyPeer {
public:
    PtyPeer();
    ~PtyPeer();
    bool IsOpen() const { return m_master >= 0; }
    const std::string& SlavePath() const { return m_slave; }
    bool Send(const std::string& bytes);
    // Reads until `count` bytes have come or `timeoutMs` has passed.
    std::string Receive(size_t count, uint32_t timeoutMs = 5000);
    void HangUp();

private:
    int m_master = -1;
    std::string m_slave;
};

// Collects events and data from a handler pair. Thread: any.
class EventRecorder : public CObject {
public:
    KORVA_RUNTIME_CLASS(EventRecorder)
    static void OnEvent(uint32_t code, uint32_t data, CObject* user);
    static void OnData(CByteBuffer& data, CObject* user);

    std::vector<std::pair<uint32_t, uint32_t>> Events() const;
    std::string Data() const;
    size_t DataCalls() const;
    // Waits until `code` has been seen `count` times.
    bool WaitForEvent(uint32_t code, size_t count = 1, uint32_t timeoutMs = 5000) const;
    bool WaitForData(size_t bytes, uint32_t timeoutMs = 5000) const;
    size_t Count(uint32_t code) const;

    // Called on the delivering thread after each event is recorded.
    std::function<void(uint32_t code, uint32_t data)> onEvent;

private:
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    std::vector<std::pair<uint32_t, uint32_t>> m_events;
    std::string m_data;
    size_t m_dataCalls = 0;
};

// An interface owner that keeps the port records a listing hands it.
class PortListRecorder : public InterfaceRecorder {
public:
    // In order; read once the listing has ended.
    std::vector<std::unique_ptr<CInterfaceParameter>> ports;

protected:
    void TakePort(uintptr_t data) override { ports.emplace_back(reinterpret_cast<CInterfaceParameter*>(data)); }
};

// A port whose events, errors, reads and writes the test scripts.
class FakePort : public platform::ISerialPort {
public:
    FakePort();
    // Test side (any thread).
    void Inject(uint32_t events, uint32_t errors = 0, const std::string& data = "");
    void SetStatus(const COMSTAT& status);  // flags beside the counts; a count given is reported once
    void SetCommEventError(uint32_t error);
    void SetWritesPend(bool pend);          // writes wait for CompleteWrite
    void CompleteWrite();
    void SetReadLimit(int limit);           // bytes a read may return; -1 no limit
    std::string Written() const;

    uint32_t GetCommProperties(COMMPROP* properties) override;
    uint32_t GetCommState(DCB* dcb) override;
    uint32_t SetCommState(const DCB& dcb) override;
    uint32_t SetupComm(uint32_t, uint32_t) override { return 0; }
    uint32_t SetCommTimeouts(const COMMTIMEOUTS&) override { return 0; }
    uint32_t SetCommMask(uint32_t mask) override;
    uint32_t PurgeComm(uint32_t flags) override;
    uint32_t ClearCommError(uint32_t* errors, COMSTAT* status) override;
    uint32_t GetCommModemStatus(uint32_t* status) override;
    uint32_t WaitCommEvent(uint32_t* mask) override;
    void GetCommWaitables(platform::Waitable* items) override;
    uint32_t GetCommEventResult(uint32_t* mask) override;
    uint32_t Read(void* buffer, uint32_t length, uint32_t* read) override;
    uint32_t Write(const void* data, uint32_t length, uint32_t* written) override;
    platform::Waitable GetWriteWaitable() override;
    uint32_t GetWriteResult(uint32_t* written) override;
    void Close() override;

private:
    mutable std::mutex m_mutex;
    platform::Event m_comm{platform::Event::kManualReset};
    platform::Event m_writeDone{platform::Event::kManualReset};
    uint32_t m_mask = 0;
    uint32_t m_events = 0;
    uint32_t m_errors = 0;
    uint32_t m_commError = 0;
    COMSTAT m_status{};
    std::string m_input;
    std::string m_written;
    std::string m_pendingWrite;
    bool m_pend = false;
    int m_readLimit = -1;
    bool m_closed = false;
    DCB m_dcb{};
};
