#include <gtest/gtest.h>

#include <cstring>

#include "device/fields.h"
#include "device/netconfig.h"

using namespace device;

namespace {

const std::uint8_t* bytes(const NetConfig& c) { return reinterpret_cast<const std::uint8_t*>(&c); }

NetConfig zeroed() {
  NetConfig c;
  std::memset(&c, 0xAA, sizeof c);  // make leftovers visible
  ZeroConfig(c);
  return c;
}

}  // namespace

TEST(NetConfigLayout, FieldsLandOnTheirWireOffsets) {
  NetConfig c = zeroed();
  c.AutoIP = 1;
  c.ServerPAddr = IPv4FromText("192.168.1.10");
  c.ServerPort = ServerPortFromValue(60110);
  c.HAddr = HAddrFromTexts("1A", "2B");
  DeviceNameFromText(c, "AB");
  c.PAddr = IPv4FromText("10.0.0.1");
  c.SubNetMask = IPv4FromText("255.255.255.0");
  c.GatePAddr = IPv4FromText("10.0.0.254");
  c.DNS1PAddr = IPv4FromText("8.8.4.4");
  c.DNS2PAddr = IPv4FromText("1.2.3.4");
  const std::uint8_t* b = bytes(c);
  EXPECT_EQ(b[0], 1);
  EXPECT_EQ(std::vector<int>(b + 1, b + 5), (std::vector<int>{0xC0, 0xA8, 0x01, 0x0A}));
  EXPECT_EQ(b[5], 0xCE);  // 60110 little-endian
  EXPECT_EQ(b[6], 0xEA);
  EXPECT_EQ(b[7], 0x2B);  // sixth byte first
  EXPECT_EQ(b[8], 0x1A);
  EXPECT_EQ(b[9], 'A');
  EXPECT_EQ(b[10], 'B');
  for (int i = 11; i < 40; ++i) EXPECT_EQ(b[i], 0) << "name padding at " << i;
  EXPECT_EQ(std::vector<int>(b + 40, b + 44), (std::vector<int>{10, 0, 0, 1}));
  EXPECT_EQ(std::vector<int>(b + 44, b + 48), (std::vector<int>{255, 255, 255, 0}));
  EXPECT_EQ(std::vector<int>(b + 48, b + 52), (std::vector<int>{10, 0, 0, 254}));
  EXPECT_EQ(std::vector<int>(b + 52, b + 56), (std::vector<int>{8, 8, 4, 4}));
  EXPECT_EQ(std::vector<int>(b + 56, b + 60), (std::vector<int>{1, 2, 3, 4}));
}

TEST(IPv4Field, EmptyIsZeroAndZeroIsEmpty) {
  EXPECT_EQ(IPv4FromText(""), 0u);
  EXPECT_EQ(IPv4ToText(0), "");
  EXPECT_EQ(IPv4ToText(IPv4FromText("192.168.1.10")), "192.168.1.10");
}

TEST(IPv4Field, MalformedTextGivesAllOnesLikeTheBroadcastAddress) {
  EXPECT_EQ(IPv4FromText("abc"), 0xFFFFFFFFu);
  EXPECT_EQ(IPv4FromText("300.1.1.1"), 0xFFFFFFFFu);
  EXPECT_EQ(IPv4FromText("192.168..1"), 0xFFFFFFFFu);
  EXPECT_EQ(IPv4FromText("255.255.255.255"), 0xFFFFFFFFu);
  EXPECT_EQ(IPv4ToText(0xFFFFFFFFu), "255.255.255.255");
  // Non-ASCII text never parses and never crashes.
  EXPECT_EQ(IPv4FromText("一.二.三.四"), 0xFFFFFFFFu);
}

TEST(ServerPortField, LowSixteenBitsAndUnsignedText) {
  EXPECT_EQ(ServerPortFromValue(60110), 60110);
  EXPECT_EQ(ServerPortFromValue(70000), 4464);
  EXPECT_EQ(ServerPortFromValue(-1), 65535);
  EXPECT_EQ(ServerPortToText(0), "0");
  EXPECT_EQ(ServerPortToText(65535), "65535");
}

TEST(HAddrField, TextsRoundTripWithTwoUpperCaseDigits) {
  EXPECT_EQ(HAddrFromTexts("1A", "2B"), 0x1A2B);
  EXPECT_EQ(HAddrToTexts(0x1A2B), std::make_pair(std::string("1A"), std::string("2B")));
  EXPECT_EQ(HAddrFromTexts("", ""), 0);
  EXPECT_EQ(HAddrToTexts(0), std::make_pair(std::string("00"), std::string("00")));
  EXPECT_EQ(HAddrFromTexts("a", "f"), 0x0A0F);
  NetConfig c = zeroed();
  std::uint8_t raw[2] = {0x34, 0x12};
  std::memcpy(reinterpret_cast<std::uint8_t*>(&c) + 7, raw, 2);
  EXPECT_EQ(HAddrToTexts(c.HAddr), std::make_pair(std::string("12"), std::string("34")));
}

TEST(HAddrField, NonHexadecimalTextRaisesTheConversionError) {
  EXPECT_THROW(HAddrFromTexts("ZZ", "00"), EConvertError);
  EXPECT_THROW(HAddrFromTexts("00", "-1"), EConvertError);
  try {
    HexEditValue("G");
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "'0x0G' is not a valid integer value");
  }
}

TEST(StrToInt, DecimalHexSignAndRange) {
  EXPECT_EQ(StrToInt("60110"), 60110);
  EXPECT_EQ(StrToInt("+5"), 5);
  EXPECT_EQ(StrToInt("-7"), -7);
  EXPECT_EQ(StrToInt("2147483647"), 2147483647);
  EXPECT_EQ(StrToInt("-2147483648"), INT32_MIN);
  EXPECT_EQ(StrToInt("$1F"), 31);
  EXPECT_EQ(StrToInt("0x0FF"), 255);
  std::int32_t v = 0;
  EXPECT_FALSE(TryStrToInt("", v));
  EXPECT_FALSE(TryStrToInt("-", v));
  EXPECT_FALSE(TryStrToInt("2147483648", v));
  EXPECT_FALSE(TryStrToInt("12a", v));
  EXPECT_FALSE(TryStrToInt("1.5", v));
  EXPECT_FALSE(TryStrToInt("0x", v));
}

TEST(DeviceNameField, CutsAtThirtyAnsiBytesAndZeroFillsTheRest) {
  NetConfig c = zeroed();
  DeviceNameFromText(c, std::string(30, 'x'));
  EXPECT_EQ(std::memcmp(c.DeviceName, std::string(30, 'x').data(), 30), 0);
  EXPECT_EQ(bytes(c)[39], 0);

  DeviceNameFromText(c, std::string(40, 'y'));
  EXPECT_EQ(DeviceNameToText(c), std::string(30, 'y'));
  EXPECT_EQ(bytes(c)[39], 0);

  DeviceNameFromText(c, "short");
  for (int i = 9 + 5; i < 40; ++i) EXPECT_EQ(bytes(c)[i], 0) << i;

  // 16 double-byte characters are 32 ANSI bytes: 15 whole ones survive.
  DeviceNameFromText(c, "一二三四五六七八九十一二三四五六");
  EXPECT_EQ(DeviceNameToText(c), "一二三四五六七八九十一二三四五");
}

TEST(DeviceNameField, AReaderNeverLooksPastTheField) {
  std::uint8_t raw[61];
  std::memset(raw, 0, sizeof raw);
  std::memset(raw + 9, 'n', 31);  // no terminator inside the field
  raw[40] = 'X';                  // first byte of PAddr must not be read as name
  NetConfig c;
  CopyConfig(c, raw);
  EXPECT_EQ(DeviceNameToText(c), std::string(31, 'n'));
}

TEST(DeviceNameField, ChineseNamesTravelInCodePage936) {
  NetConfig c = zeroed();
  DeviceNameFromText(c, "一号泵站");
  const std::uint8_t gbk[] = {0xD2, 0xBB, 0xBA, 0xC5, 0xB1, 0xC3, 0xD5, 0xBE, 0x00};
  EXPECT_EQ(std::memcmp(c.DeviceName, gbk, sizeof gbk), 0);
  EXPECT_EQ(DeviceNameToText(c), "一号泵站");
}

TEST(RecordCompareAndCopy, RawBytesOnlyAndHAddrFormatUntouched) {
  NetConfig a = zeroed();
  NetConfig b = zeroed();
  EXPECT_TRUE(SameConfig(a, b));
  b.DeviceName[30] = 1;  // a byte after the terminator still counts
  EXPECT_FALSE(SameConfig(a, b));

  DeviceEntry entry;
  entry.HAddrFormat = 7;
  std::uint8_t raw[60];
  std::memset(raw, 0x5C, sizeof raw);
  CopyConfig(entry.Config, raw);
  EXPECT_EQ(entry.HAddrFormat, 7);
  EXPECT_TRUE(SameConfig(entry.Config, raw));
}

TEST(IdentityText, AtLeastFourteenUpperCaseDigitsNeverCut) {
  EXPECT_EQ(IdentityText(0x0012AB34CD56ull), "000012AB34CD56");
  EXPECT_EQ(IdentityText(0xAB34CD56EF12ull), "00AB34CD56EF12");
  EXPECT_EQ(IdentityText(0xFF0012AB34CD56ull), "FF0012AB34CD56");
  EXPECT_EQ(IdentityText(0), "00000000000000");
  EXPECT_EQ(IdentityText(0x100000000000000ull), "100000000000000");
  EXPECT_EQ(IdentityText(0xFFFFFFFFFFFFFFFFull), "FFFFFFFFFFFFFFFF");
}

TEST(ByteSum, WrapsModulo256) {
  const std::uint8_t run[] = {0x66, 0x55, 0x44, 0x33, 0x22, 0x11, 0x00};
  EXPECT_EQ(ByteSum(run, 7), 0x65);
  EXPECT_EQ(ByteSum(run, 0), 0);
}
