#include <gtest/gtest.h>

#include "engine/intake.h"
#include "packets.h"

using namespace engine;

TEST(FourthHAddrByte, ByteSumForFormatOne) {
  EXPECT_EQ(FourthHAddrByteText("00112233445566", 1), "65");
  EXPECT_EQ(FourthHAddrByteText("FF0012AB34CD56", 1), "13");
}

TEST(FourthHAddrByte, CharactersNineAndTenForFFIdentities) {
  EXPECT_EQ(FourthHAddrByteText("FF0012AB34CD56", 0), "34");
  EXPECT_EQ(FourthHAddrByteText("ff0012ab34cd56", 2), "34");
  EXPECT_EQ(FourthHAddrByteText("0A0B0C0D0E0F10", 0), "06");
  EXPECT_EQ(FourthHAddrByteText("FE0012AB34CD56", 0), "06");
  EXPECT_EQ(FourthHAddrByteText("FF", 0), "") << "short texts never throw";
}

TEST(DeviceAddressRule, FirstByteRanges) {
  for (const char* ok : {"1.0.0.1", "126.255.255.255", "128.0.0.1", "223.255.255.254"})
    EXPECT_TRUE(DeviceAddressAllowed(device::IPv4FromText(ok))) << ok;
  for (const char* bad : {"0.1.2.3", "127.0.0.1", "224.0.0.1", "255.255.255.255", "", "abc"})
    EXPECT_FALSE(DeviceAddressAllowed(device::IPv4FromText(bad))) << bad;
}

namespace {
PanelValues Panel() {
  PanelValues p;
  p.serverPAddr = "192.168.1.10";
  p.serverPortValue = [] { return 60110; };
  p.hAddr1 = "12";
  p.hAddr2 = "34";
  p.deviceName = "泵站1";
  p.pAddr = "192.168.1.101";
  p.subNetMask = "255.255.255.0";
  return p;
}
}  // namespace

TEST(PanelConfig, BuildsTheSameRecordTheFieldsWouldHold) {
  auto c = PanelConfig(Panel());
  device::NetConfig expected;
  device::ZeroConfig(expected);
  expected.ServerPAddr = device::IPv4FromText("192.168.1.10");
  expected.ServerPort = 60110;
  expected.HAddr = 0x1234;
  device::DeviceNameFromText(expected, "泵站1");
  expected.PAddr = device::IPv4FromText("192.168.1.101");
  expected.SubNetMask = device::IPv4FromText("255.255.255.0");
  EXPECT_TRUE(device::SameConfig(c, expected));
}

TEST(PanelConfig, AutomaticAddressingLeavesTheAddressGroupZero) {
  auto p = Panel();
  p.autoChecked = true;
  const auto c = PanelConfig(p);
  EXPECT_EQ(c.AutoIP, 1);
  const auto* b = reinterpret_cast<const std::uint8_t*>(&c);
  for (int i = 40; i < 60; ++i) EXPECT_EQ(b[i], 0) << i;
  EXPECT_NE(+c.ServerPAddr, 0u) << "the server address is not part of the group";
}

TEST(PanelConfig, PortIsCutToSixteenBitsAndBadHardwareTextRaises) {
  auto p = Panel();
  p.serverPortValue = [] { return 70000; };
  EXPECT_EQ(+PanelConfig(p).ServerPort, 4464);
  p.hAddr2 = "x!";
  EXPECT_THROW(PanelConfig(p), device::EConvertError);
}
