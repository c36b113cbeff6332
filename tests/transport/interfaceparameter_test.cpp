#include <cstring>

#include <gtest/gtest.h>

#include "platform/SysError.h"
#include "transport/InterfaceParameter.h"

TEST(InterfaceParameter, NamesOfEachKind) {
    CInterfaceParameter none;
    EXPECT_EQ(none.GetName(), "");
    EXPECT_EQ(none.GetDescription(), "Interface: Unknown Interface");

    CInterfaceParameter serial;
    serial.SetSerialPort("COM123");  // five characters at most
    EXPECT_TRUE(serial.IsSerialPort());
    EXPECT_EQ(serial.GetName(), "COM12");
    EXPECT_EQ(serial.GetDescription(), "Interface: COM12");

    CInterfaceParameter usb;
    usb.SetUsbPort(0x04036001, "FT123456");
    EXPECT_EQ(usb.GetName(), "USB Pid_6001 #FT123456");
    EXPECT_EQ(usb.GetDescription(), "Interface: USB\\Vid_0403&Pid_6001\\#FT123456");

    CInterfaceParameter ip;
    const uint8_t address[4] = {192, 168, 0, 5};  // network order: as the octets are written
    uint32_t networkOrder;
    std::memcpy(&networkOrder, address, sizeof networkOrder);
    ip.SetIPPort(networkOrder, 5025);
    EXPECT_EQ(ip.GetName(), "192.168.0.5");
    EXPECT_EQ(ip.GetDescription(), "Interface: 192.168.0.5   5025");
}

TEST(InterfaceParameter, MissingArgumentsChangeNothing) {
    CInterfaceParameter p;
    p.SetSerialPort(nullptr);
    p.SetUsbPort(1, nullptr);
    EXPECT_EQ(p.GetKind(), CInterfaceParameter::kNone);
    p.SetUsbPort(0x04036001, "ABCDEFGHIJKLMN");  // nine characters at most
    char serial[10];
    uint32_t id = 0;
    EXPECT_EQ(p.GetUsbId(&id, nullptr), ERROR_INVALID_PARAMETER);
    ASSERT_EQ(p.GetUsbId(&id, serial), 0u);
    EXPECT_EQ(id, 0x04036001u);
    EXPECT_STREQ(serial, "ABCDEFGHI");
    CInterfaceParameter s;
    s.SetSerialPort("COM1");
    EXPECT_EQ(s.GetUsbId(&id, serial), ERROR_BAD_DEV_TYPE);
}

TEST(InterfaceParameter, Equality) {
    CInterfaceParameter a, b;
    EXPECT_FALSE(a.IsEqual(b));  // kind 0 is never equal
    a.SetSerialPort("COM3");
    b.SetUsbPort(0x04036001, "COM3");
    EXPECT_FALSE(a.IsEqual(b));
    EXPECT_FALSE(a.IsSameKind(b));
    b.SetSerialPort("COM3");
    EXPECT_TRUE(a.IsEqual(b));
    b.SetSerialPort("com3");  // exact comparison
    EXPECT_FALSE(a.IsEqual(b));
    CInterfaceParameter u1, u2;
    u1.SetUsbPort(0x04036001, "X1");
    u2.SetUsbPort(0x04036015, "X1");  // same serial number, other product
    EXPECT_FALSE(u1.IsEqual(u2));
}
