// The Linux serial port over pseudo-terminal pairs reached through the
// alias folder.
#include <fcntl.h>
#include <stdlib.h>
#include <grp.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <memory>

#include <gtest/gtest.h>

#include "platform/PortAlias.h"
#include "platform/SerialPort.h"
#include "platform/SysError.h"
#include "tests/base/support/TempDir.h"

namespace {

class SerialPortTest : public ::testing::Test {
protected:
    void SetUp() override {
        master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
        ASSERT_GE(master, 0);
        char name[64];
        ASSERT_EQ(::grantpt(master), 0);
        ASSERT_EQ(::unlockpt(master), 0);
        ASSERT_EQ(::ptsname_r(master, name, sizeof name), 0);
        ASSERT_EQ(platform::RegisterPortAlias("COM5", name), 0u);
    }
    void TearDown() override {
        port.reset();
        if (master >= 0) ::close(master);
    }
    // Waits for the next comm event as the I/O thread does.
    uint32_t NextEvents(uint32_t* mask) {
        uint32_t rc = port->WaitCommEvent(mask);
        if (rc != ERROR_IO_PENDING) return rc;
        platform::Waitable items[platform::ISerialPort::kCommWaitables];
        port->GetCommWaitables(items);
        if (platform::WaitForAny(items, platform::ISerialPort::kCommWaitables, 5000) >= 2)
            return ERROR_TIMEOUT;
        return port->GetCommEventResult(mask);
    }

    RuntimeDirScope runtime;
    int master = -1;
    std::unique_ptr<platform::ISerialPort> port;
};

}  // namespace

TEST_F(SerialPortTest, OpensExclusivelyByName) {
    ASSERT_EQ(platform::OpenSerialPort("COM5", &port), 0u);
    std::unique_ptr<platform::ISerialPort> second;
    EXPECT_EQ(platform::OpenSerialPort("COM5", &second), ERROR_ACCESS_DENIED);
    EXPECT_EQ(platform::OpenSerialPort("LPT1", &second), ERROR_FILE_NOT_FOUND);
    std::ofstream(runtime.Path() + "/plain") << "x";
    ASSERT_EQ(platform::RegisterPortAlias("COM6", runtime.Path() + "/plain"), 0u);
    EXPECT_EQ(platform::OpenSerialPort("COM6", &second), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(second, nullptr);
    port->Close();
    // The terminal's exclusive mode goes with the port: root ignores it, an
    // ordinary user's next open would fail with "busy".
    const int slave = ::open(platform::ListPortAliases().front().second.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(slave, 0);
    int exclusive = -1;
    EXPECT_EQ(::ioctl(slave, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0);
    ::close(slave);
    EXPECT_EQ(platform::OpenSerialPort("COM5", &second), 0u);  // free again
}

// Opening, closing and opening again as an ordinary user, for whom the
// exclusive mode is enforced. Root runs it in a child that gives up its
// privileges; the child sets up its own terminal and alias folder.
TEST(SerialPortUser, OpensAgainAfterClose) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::geteuid() == 0) {
            const gid_t nogroup = 65534;
            if (::setgroups(0, nullptr) != 0 || ::setresgid(nogroup, nogroup, nogroup) != 0 ||
                ::setresuid(65534, 65534, 65534) != 0) {
                ::_exit(10);
            }
        }
        char pattern[] = "/tmp/korva-serialuser-XXXXXX";
        if (::mkdtemp(pattern) == nullptr) ::_exit(11);
        ::setenv("XDG_RUNTIME_DIR", pattern, 1);
        const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        char name[64];
        if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0 ||
            ::ptsname_r(master, name, sizeof name) != 0 || platform::RegisterPortAlias("COM5", name) != 0) {
            ::_exit(12);
        }
        int code = 0;
        for (int round = 0; round < 2 && code == 0; ++round) {
            std::unique_ptr<platform::ISerialPort> port;
            if (platform::OpenSerialPort("COM5", &port) != 0) code = 20 + round;
        }
        platform::RemovePortAlias("COM5");
        ::rmdir((std::string(pattern) + "/korva/ports").c_str());
        ::rmdir((std::string(pattern) + "/korva").c_str());
        ::rmdir(pattern);
        ::_exit(code);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    // 21: the second open was refused.
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST_F(SerialPortTest, PseudoTerminalIsAQuietCable) {
    ASSERT_EQ(platform::OpenSerialPort("COM5", &port), 0u);
    uint32_t modem = 99, errors = 99;
    EXPECT_EQ(port->GetCommModemStatus(&modem), 0u);
    EXPECT_EQ(modem, 0u);
    COMSTAT status;
    EXPECT_EQ(port->ClearCommError(&errors, &status), 0u);
    EXPECT_EQ(errors, 0u);
    EXPECT_EQ(status.cbInQue, 0u);

    DCB dcb;
    dcb.BaudRate = 115200;
    dcb.ByteSize = 8;
    dcb.StopBits = TWOSTOPBITS;
    dcb.fOutxCtsFlow = 1;
    dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
    EXPECT_EQ(port->SetCommState(dcb), 0u);
    DCB back;
    ASSERT_EQ(port->GetCommState(&back), 0u);
    EXPECT_EQ(back.BaudRate, 115200u);
    EXPECT_EQ(back.ByteSize, 8);
    EXPECT_EQ(back.StopBits, TWOSTOPBITS);
    EXPECT_EQ(back.fBinary, 1u);
    dcb.BaudRate = 123457;
    EXPECT_EQ(port->SetCommState(dcb), ERROR_INVALID_PARAMETER);
}

// A hang-up is reported once, whoever meets it first: the comm wait itself,
// or a read or queue count of the I/O thread (the wait no longer watches the
// descriptor then, so it must still wake). Afterwards the wait ends with the
// device error and nothing can be written.
class SerialHangUpTest : public SerialPortTest, public ::testing::WithParamInterface<bool> {};

TEST_P(SerialHangUpTest, IsReportedOnceThenEndsTheWait) {
    ASSERT_EQ(platform::OpenSerialPort("COM5", &port), 0u);
    ASSERT_EQ(port->SetCommMask(0x1FF), 0u);
    ::close(master);
    master = -1;
    if (GetParam()) {
        char buffer[8];
        uint32_t read = 0;
        EXPECT_EQ(port->Read(buffer, sizeof buffer, &read), ERROR_HANDLE_EOF);
        COMSTAT status;
        EXPECT_EQ(port->ClearCommError(nullptr, &status), 0u);  // counts only, reports nothing
    }
    uint32_t mask = 0;
    ASSERT_EQ(NextEvents(&mask), 0u);
    EXPECT_TRUE(mask & EV_ERR);
    uint32_t errors = 0;
    ASSERT_EQ(port->ClearCommError(&errors, nullptr), 0u);
    EXPECT_EQ(errors, CE_IOE);
    EXPECT_EQ(NextEvents(&mask), ERROR_IO_DEVICE);
    uint32_t written = 0;
    EXPECT_NE(port->Write("x", 1, &written), 0u);
}

INSTANTIATE_TEST_SUITE_P(MetFirstBy, SerialHangUpTest, ::testing::Values(false, true),
                         [](const auto& info) { return std::string(info.param ? "ARead" : "TheWait"); });
