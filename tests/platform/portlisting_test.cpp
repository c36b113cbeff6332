// Port names and the listing over a fake sysfs tree, with pseudo-terminals
// standing in for the devices that are serial ports.
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <memory>

#include <gtest/gtest.h>

#include "platform/PortAlias.h"
#include "platform/PortListing.h"
#include "platform/PseudoTerminal.h"
#include "platform/SysError.h"
#include "platform/SystemInfo.h"
#include "tests/base/support/TempDir.h"

namespace {

class PortListingTest : public ::testing::Test {
protected:
    void SetUp() override {
        env.Set("XDG_RUNTIME_DIR", (root + "/run").c_str());
        ::mkdir((root + "/run").c_str(), 0700);
        ::mkdir(sys.c_str(), 0700);
        ::mkdir(dev.c_str(), 0700);
    }
    // A sysfs entry; `type` empty: no type file; `driver` empty: no link.
    void Entry(const std::string& name, const std::string& type, const std::string& driver) {
        const std::string dir = sys + "/" + name;
        ::mkdir(dir.c_str(), 0700);
        if (!type.empty()) std::ofstream(dir + "/type") << type << "\n";
        if (!driver.empty()) {
            ::mkdir((dir + "/device").c_str(), 0700);
            ASSERT_EQ(::symlink(("../../../bus/drivers/" + driver).c_str(), (dir + "/device/driver").c_str()), 0);
        }
    }
    // The device node: a pseudo-terminal, or a plain file that is no terminal.
    void Device(const std::string& name, bool serial) {
        const std::string path = dev + "/" + name;
        if (serial) {
            ptys.push_back(std::make_unique<platform::PseudoTerminal>());
            ASSERT_EQ(ptys.back()->Open(), 0u);
            ASSERT_EQ(::symlink(ptys.back()->PeerPath().c_str(), path.c_str()), 0);
        } else {
            std::ofstream(path) << "x";
        }
    }
    std::vector<std::string> Names() {
        std::vector<std::string> names;
        for (const auto& p : platform::ListSerialPorts(sys, dev)) names.push_back(p.comName);
        return names;
    }

    EnvScope env;
    TempDir temp;
    std::string root = temp.Path();
    std::string sys = root + "/sys";
    std::string dev = root + "/dev";
    std::vector<std::unique_ptr<platform::PseudoTerminal>> ptys;
};

}  // namespace

TEST_F(PortListingTest, NamesConvertBothWaysAndAnAliasComesFirst) {
    // The ends of each device range.
    const std::pair<const char*, const char*> pairs[] = {
        {"ttyS0", "COM1"},    {"ttyS31", "COM32"},  {"ttyUSB0", "COM33"},
        {"ttyUSB1", "COM34"}, {"ttyACM0", "COM65"}, {"ttyACM34", "COM99"},
    };
    for (const auto& [device, com] : pairs) {
        EXPECT_EQ(platform::ComNameForDevice(device), com);
        EXPECT_EQ(platform::ResolveComName(com, "/dev"), std::string("/dev/") + device);
    }
    // COM100 would be cut to COM10 in a port record.
    for (const char* device : {"ttyACM35", "ttyUSB67", "ttyS99", "tty0", "ttyUSBx", "console"}) {
        EXPECT_EQ(platform::ComNameForDevice(device), "") << device;
    }
    EXPECT_EQ(platform::ResolveComName("COM100", "/dev"), "");
    EXPECT_EQ(platform::ResolveComName("LPT1", "/dev"), "");
    ASSERT_EQ(platform::RegisterPortAlias("COM34", "/dev/pts/9"), 0u);
    EXPECT_EQ(platform::ResolveComName("COM34", "/dev"), "/dev/pts/9");
}

TEST_F(PortListingTest, ListsUartsUsbAndAcmDevicesAndAliases) {
    Entry("ttyS0", "4", "serial8250");  // a 16550A
    Device("ttyS0", true);
    Entry("ttyS1", "0", "serial8250");  // a placeholder slot
    Device("ttyS1", true);
    Entry("ttyS2", "", "dw-apb-uart");  // another UART driver
    Device("ttyS2", true);
    Entry("ttyUSB0", "", "ftdi_sio");
    Device("ttyUSB0", true);
    Entry("ttyUSB1", "", "ftdi_sio");
    Device("ttyUSB1", false);  // not a terminal: skipped like error 87
    Entry("ttyACM0", "", "cdc_acm");
    Device("ttyACM0", true);
    Entry("ttyACM35", "", "cdc_acm");  // would be COM100
    Device("ttyACM35", true);
    Entry("tty0", "", "");
    Device("tty0", true);
    EXPECT_EQ(Names(), (std::vector<std::string>{"COM1", "COM3", "COM33", "COM65"}));

    // An alias adds a name, replaces the derived one of the same number and
    // renames its own device.
    platform::PseudoTerminal extra;
    ASSERT_EQ(extra.Open(), 0u);
    ASSERT_EQ(platform::RegisterPortAlias("COM7", extra.PeerPath()), 0u);
    ASSERT_EQ(platform::RegisterPortAlias("COM33", extra.PeerPath() + "x"), 0u);  // dangling
    ASSERT_EQ(platform::RegisterPortAlias("COM9", dev + "/ttyACM0"), 0u);
    EXPECT_EQ(Names(), (std::vector<std::string>{"COM1", "COM3", "COM7", "COM9"}));
    const auto ports = platform::ListSerialPorts(sys, dev);
    EXPECT_EQ(ports[2].device, extra.PeerPath());
    EXPECT_EQ(ports[0].device, dev + "/ttyS0");
}

TEST_F(PortListingTest, MissingTreeListsOnlyAliases) {
    platform::PseudoTerminal extra;
    ASSERT_EQ(extra.Open(), 0u);
    ASSERT_EQ(platform::RegisterPortAlias("COM12", extra.PeerPath()), 0u);
    const auto ports = platform::ListSerialPorts(root + "/nothing", dev);
    ASSERT_EQ(ports.size(), 1u);
    EXPECT_EQ(ports[0].comName, "COM12");
}

// The alias folder decides which device a COM name opens, so only a folder
// of the user's own counts: not one that others may write into, and not an
// inherited session folder of another user. A relative link means what the
// kernel makes of it, relative to the folder.
TEST_F(PortListingTest, AliasFolderMustBeTheUsersOwn) {
    ASSERT_EQ(platform::RegisterPortAlias("COM21", "tty-here"), 0u);
    const std::string folder = platform::PortAliasDirectory();
    EXPECT_EQ(folder, root + "/run/korva/ports");
    EXPECT_EQ(platform::ResolveComName("COM21", "/dev"), folder + "/tty-here");

    ASSERT_EQ(::chmod(folder.c_str(), 0777), 0);
    EXPECT_TRUE(platform::ListPortAliases().empty());
    EXPECT_EQ(platform::ResolveComName("COM21", "/dev"), "/dev/ttyS20");
    ASSERT_EQ(::chmod(folder.c_str(), 0700), 0);
    EXPECT_EQ(platform::ListPortAliases().size(), 1u);

    // Started under su: the session folder belongs to another user.
    const std::string home = root + "/home";
    ASSERT_EQ(::mkdir(home.c_str(), 0700), 0);
    env.Set("HOME", home.c_str());
    const uid_t other = ::getuid() == 0 ? 65534 : 0;
    if (::getuid() == 0) {
        ASSERT_EQ(::chown((root + "/run").c_str(), other, other), 0);
    } else {
        env.Set("XDG_RUNTIME_DIR", "/root");
    }
    EXPECT_EQ(platform::RuntimeDirectory(), home + "/.korva");
    EXPECT_EQ(platform::CheckRuntimeDirectory(), 0u);
    EXPECT_EQ(platform::RegisterPortAlias("COM22", "/dev/null"), 0u);
    EXPECT_EQ(platform::ResolveComName("COM22", "/dev"), "/dev/null");
    // The fallback of the fallback: neither variable set.
    env.Set("XDG_RUNTIME_DIR", nullptr);
    env.Set("HOME", nullptr);
    const std::string fallback = platform::RuntimeDirectory();
    struct stat st {};
    const std::string parent = fallback.substr(0, fallback.rfind('/'));
    EXPECT_TRUE(fallback.rfind("/tmp/korva-", 0) == 0 || (::stat(parent.c_str(), &st) == 0 && st.st_uid == ::getuid()))
        << fallback;
    // A folder planted by someone else is refused, and said so in words.
    if (::getuid() == 0) {
        EXPECT_EQ(platform::CheckRuntimeDirectory(root + "/run"), ERROR_ACCESS_DENIED);
        EXPECT_NE(platform::RuntimeDirectoryProblem(root + "/run", ERROR_ACCESS_DENIED).find("not a folder of yours"),
                  std::string::npos);
        ::chown((root + "/run").c_str(), 0, 0);
    }
}
