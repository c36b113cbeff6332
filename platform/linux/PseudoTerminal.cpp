#include "platform/PseudoTerminal.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include "platform/SysError.h"
#include "platform/linux/Descriptor.h"

namespace platform {

namespace {

uint32_t MakeRaw(int fd) {
    termios tio;
    if (::tcgetattr(fd, &tio) != 0) return SetLastErrorFromErrno();
    ::cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    if (::tcsetattr(fd, TCSANOW, &tio) != 0) return SetLastErrorFromErrno();
    return 0;
}

// Non-blocking read/write shared by both classes. A hang-up of the other
// side shows as EIO (pty) or as a read of 0 bytes.
uint32_t ReadSome(int fd, uint8_t* data, size_t size, size_t& got) {
    got = 0;
    if (fd < 0) return ERROR_INVALID_HANDLE;
    for (;;) {
        const ssize_t n = ::read(fd, data, size);
        if (n > 0) {
            got = static_cast<size_t>(n);
            return 0;
        }
        if (n == 0) return ERROR_BROKEN_PIPE;
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
        if (errno == EIO) return ERROR_BROKEN_PIPE;
        return SetLastErrorFromErrno();
    }
}

uint32_t WriteSome(int fd, const uint8_t* data, size_t size, size_t& written) {
    written = 0;
    if (fd < 0) return ERROR_INVALID_HANDLE;
    while (written < size) {
        const ssize_t n = ::write(fd, data + written, size - written);
        if (n > 0) {
            written += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return 0;
        if (n < 0 && errno == EIO) return ERROR_BROKEN_PIPE;
        return n < 0 ? SetLastErrorFromErrno() : ERROR_WRITE_FAULT;
    }
    return 0;
}

}  // namespace

PseudoTerminal::~PseudoTerminal() { Close(); }

uint32_t PseudoTerminal::Open() {
    if (IsOpen()) return ERROR_ACCESS_DENIED;
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (master < 0) return SetLastErrorFromErrno();
    char name[128];
    if (::grantpt(master) != 0 || ::unlockpt(master) != 0 || ::ptsname_r(master, name, sizeof name) != 0) {
        const uint32_t rc = SetLastErrorFromErrno();
        ::close(master);
        return rc;
    }
    const int peer = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (peer < 0) {
        const uint32_t rc = SetLastErrorFromErrno();
        ::close(master);
        return rc;
    }
    if (const uint32_t rc = MakeRaw(peer)) {
        ::close(peer);
        ::close(master);
        return rc;
    }
    m_master = master;
    m_peer = peer;
    m_held = false;
    m_peerPath = name;
    return 0;
}

void PseudoTerminal::Close() {
    if (m_peer >= 0) {
        if (m_held) ::tcflow(m_peer, TCOON);
        ::close(m_peer);
    }
    if (m_master >= 0) ::close(m_master);
    m_peer = -1;
    m_master = -1;
    m_held = false;
}

uint32_t PseudoTerminal::Read(uint8_t* data, size_t size, size_t& got) {
    return ReadSome(m_master, data, size, got);
}

uint32_t PseudoTerminal::Write(const uint8_t* data, size_t size, size_t& written) {
    return WriteSome(m_master, data, size, written);
}

uint32_t PseudoTerminal::HoldPeerOutput(bool hold) {
    if (m_peer < 0) return ERROR_INVALID_HANDLE;
    if (hold == m_held) return 0;
    if (::tcflow(m_peer, hold ? TCOOFF : TCOON) != 0) return SetLastErrorFromErrno();
    m_held = hold;
    return 0;
}

size_t PseudoTerminal::PendingInput() const {
    int n = 0;
    if (m_master < 0 || ::ioctl(m_master, FIONREAD, &n) != 0 || n < 0) return 0;
    return static_cast<size_t>(n);
}

Waitable PseudoTerminal::Readable() const { return DescriptorWaitable(m_master, POLLIN); }
Waitable PseudoTerminal::Writable() const { return DescriptorWaitable(m_master, POLLOUT); }

TerminalClient::~TerminalClient() { Close(); }

uint32_t TerminalClient::Open(const std::string& path) {
    if (IsOpen()) return ERROR_ACCESS_DENIED;
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return SetLastErrorFromErrno();
    if (::ioctl(fd, TIOCEXCL) != 0) {
        const uint32_t rc = SetLastErrorFromErrno();
        ::close(fd);
        return rc;
    }
    if (const uint32_t rc = MakeRaw(fd)) {
        ::close(fd);
        return rc;
    }
    ::tcflush(fd, TCIOFLUSH);
    m_fd = fd;
    return 0;
}

void TerminalClient::Close() {
    if (m_fd >= 0) {
        ::ioctl(m_fd, TIOCNXCL);
        ::close(m_fd);
    }
    m_fd = -1;
}

uint32_t TerminalClient::Read(uint8_t* data, size_t size, size_t& got) {
    return ReadSome(m_fd, data, size, got);
}

uint32_t TerminalClient::Write(const uint8_t* data, size_t size, size_t& written) {
    return WriteSome(m_fd, data, size, written);
}

Waitable TerminalClient::Readable() const { return DescriptorWaitable(m_fd, POLLIN); }
Waitable TerminalClient::Writable() const { return DescriptorWaitable(m_fd, POLLOUT); }

}  // namespace platform
