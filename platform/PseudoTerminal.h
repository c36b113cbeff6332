// Pseudo-terminals: the simulator's end of a simulated serial cable, and a
// plain client that opens a terminal by path (tests, benchmarks).
//
// PseudoTerminal opens a master and keeps one descriptor of its peer (the
// slave) open for its whole life: the peer's line settings then survive the
// program on the other end closing and reopening the port, and the master
// never reads end-of-file between two such opens. Closing the master is a
// hang-up: the peer's reader gets EIO, as after pulling a USB cable.
//
// Thread: one owner thread calls everything; Readable/Writable hand the
// descriptor to platform::WaitForAny on that thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/Event.h"

namespace platform {

class PseudoTerminal {
public:
    PseudoTerminal() = default;
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    // Opens master and peer, both raw (no echo, no line editing, 8 bits),
    // non-blocking. Returns 0 or an error number.
    uint32_t Open();
    // Hang-up: closes master and the kept peer descriptor.
    void Close();
    bool IsOpen() const { return m_master >= 0; }
    // "/dev/pts/N": what the other program opens.
    const std::string& PeerPath() const { return m_peerPath; }

    // Reads what the peer wrote; `got` is 0 when nothing is there.
    // Returns 0, or an error number (ERROR_BROKEN_PIPE after a hang-up).
    uint32_t Read(uint8_t* data, size_t size, size_t& got);
    // Writes towards the peer; `written` may be less than `size` when the
    // peer's input queue is full. Returns 0 or an error number.
    uint32_t Write(const uint8_t* data, size_t size, size_t& written);
    // Stops (true) or resumes (false) the peer's output, as a UART's CTS
    // line does: while held, the peer's writes block or report EAGAIN, so
    // its data waits in its own program instead of piling up in the kernel.
    uint32_t HoldPeerOutput(bool hold);
    // Bytes the peer wrote that have not been read yet.
    size_t PendingInput() const;

    Waitable Readable() const;
    Waitable Writable() const;

private:
    int m_master = -1;
    int m_peer = -1;
    bool m_held = false;
    std::string m_peerPath;
};

// A terminal opened by path, raw and non-blocking, taken exclusively.
// Thread: one owner thread.
class TerminalClient {
public:
    TerminalClient() = default;
    ~TerminalClient();
    TerminalClient(const TerminalClient&) = delete;
    TerminalClient& operator=(const TerminalClient&) = delete;

    uint32_t Open(const std::string& path);
    void Close();
    bool IsOpen() const { return m_fd >= 0; }
    // `got` 0: nothing there. ERROR_BROKEN_PIPE: the other end hung up.
    uint32_t Read(uint8_t* data, size_t size, size_t& got);
    uint32_t Write(const uint8_t* data, size_t size, size_t& written);
    Waitable Readable() const;
    Waitable Writable() const;

private:
    int m_fd = -1;
};

}  // namespace platform
