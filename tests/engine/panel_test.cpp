#include <gtest/gtest.h>

#include "engine/intake.h"
#include "packets.h"
#include "set_packet.h"

#include <cstring>

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
  p.addresses = {{&device::FieldOf("ip"), "192.168.1.101"}, {&device::FieldOf("mask"), "255.255.255.0"}};
  return p;
}

wire::Record Held(const device::NetConfig& c) {
  wire::Record r;
  std::memcpy(r.data(), &c, r.size());
  return r;
}

// The panel above as the 60 bytes a device receives.
wire::RecordFields PanelRecord() {
  wire::RecordFields r;
  r.serverPAddr = {192, 168, 1, 10};
  r.serverPort = 60110;
  r.hAddr6 = 0x34;
  r.hAddr5 = 0x12;
  r.name = "\xB1\xC3\xD5\xBE" "1";  // 泵站1 in code page 936
  r.pAddr = {192, 168, 1, 101};
  r.subNetMask = {255, 255, 255, 0};
  return r;
}
}  // namespace

TEST(PanelConfig, BuildsTheRecordByteForByte) {
  EXPECT_EQ(Held(PanelConfig(Panel())), PanelRecord().Bytes());
  // Dotted texts as the platform reads them: short forms, hexadecimal and octal parts.
  auto p = Panel();
  p.addresses.push_back({&device::FieldOf("gateway"), "10.1"});
  p.addresses.push_back({&device::FieldOf("dns1"), "0x7f.1"});
  p.addresses.push_back({&device::FieldOf("dns2"), "010.0.0.1"});
  wire::RecordFields want = PanelRecord();
  want.gatePAddr = {10, 0, 0, 1};
  want.dns1PAddr = {127, 0, 0, 1};
  want.dns2PAddr = {8, 0, 0, 1};
  EXPECT_EQ(Held(PanelConfig(p)), want.Bytes());
}

TEST(PanelConfig, AutomaticAddressingLeavesTheAddressGroupZero) {
  auto p = Panel();
  p.autoChecked = true;
  p.addresses.push_back({&device::FieldOf("gateway"), "192.168.1.1"});
  wire::RecordFields want = PanelRecord();
  want.autoIP = 1;
  want.pAddr = want.subNetMask = {};  // the address group stays zero; the server address is not part of it
  EXPECT_EQ(Held(PanelConfig(p)), want.Bytes());
}

TEST(PanelConfig, PortIsCutToSixteenBitsAndBadHardwareTextRaises) {
  auto p = Panel();
  p.serverPortValue = [] { return 70000; };
  EXPECT_EQ(+PanelConfig(p).ServerPort, 4464);
  p.hAddr2 = "x!";
  EXPECT_THROW(PanelConfig(p), device::EConvertError);
}
