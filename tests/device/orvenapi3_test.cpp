#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "orvenapi3/orvenapi3.h"

namespace {

std::vector<unsigned char> packet(unsigned char kind, unsigned long long ident = 0x0012AB34CD5600ull,
                                  unsigned char flag = 0) {
  std::vector<unsigned char> p(ORVEN_PACKET_SIZE);
  unsigned char config[ORVEN_CONFIG_SIZE];
  for (int i = 0; i < ORVEN_CONFIG_SIZE; ++i) config[i] = static_cast<unsigned char>(i + 1);
  EXPECT_EQ(OrvenBuildPacket(p.data(), static_cast<int>(p.size()), kind, flag, ident, config), 74);
  return p;
}

}  // namespace

TEST(OrvenCrc, CheckValueOfTheStandardText) {
  const char* text = "123456789";
  EXPECT_EQ(OrvenCrc16(reinterpret_cast<const unsigned char*>(text), 9), 0x29B1);
}

TEST(OrvenPacket, LayoutIsByteExact) {
  const auto p = packet(0xFF, 0x0102030405060708ull, 1);
  EXPECT_EQ(p[0], 0x4F);
  EXPECT_EQ(p[1], 0x56);
  EXPECT_EQ(p[2], 1);
  EXPECT_EQ(p[3], 0xFF);
  for (int i = 0; i < 8; ++i) EXPECT_EQ(p[4 + i], 8 - i) << "identity is little-endian";
  for (int i = 0; i < 60; ++i) EXPECT_EQ(p[12 + i], i + 1);
  const unsigned short crc = OrvenCrc16(p.data(), 72);
  EXPECT_EQ(p[72], crc & 0xFF);
  EXPECT_EQ(p[73], crc >> 8);
}

TEST(OrvenPacket, KnownVector) {
  // An all-zero record, identity 0x0012AB34CD5600, flag 0, kind 0xFF.
  const auto p = [] {
    std::vector<unsigned char> v(74);
    OrvenBuildPacket(v.data(), 74, 0xFF, 0, 0x0012AB34CD5600ull, nullptr);
    return v;
  }();
  const unsigned char head[12] = {0x4F, 0x56, 0x00, 0xFF, 0x00, 0x56, 0xCD, 0x34, 0xAB, 0x12, 0x00, 0x00};
  EXPECT_EQ(std::memcmp(p.data(), head, 12), 0);
  // The check is recomputable by anyone from bytes 0..71.
  unsigned short crc = 0xFFFF;
  for (int i = 0; i < 72; ++i) {
    crc ^= static_cast<unsigned short>(p[i] << 8);
    for (int b = 0; b < 8; ++b) crc = (crc & 0x8000) ? ((crc << 1) ^ 0x1021) & 0xFFFF : (crc << 1) & 0xFFFF;
  }
  EXPECT_EQ(p[72] | (p[73] << 8), crc);
}

TEST(PreparePackage, ReturnsTheKindOfWellFormedPackets) {
  for (int kind : {0xFF, 0xFC, 0x5A, 0x00, 0x01, 0x7F}) {
    auto p = packet(static_cast<unsigned char>(kind));
    EXPECT_EQ(PreparePackage(p.data(), 74), kind);
  }
}

TEST(PreparePackage, RefusesShortWrongMagicAndWrongCheck) {
  auto p = packet(0xFF);
  EXPECT_EQ(PreparePackage(p.data(), 73), 0);
  EXPECT_EQ(PreparePackage(p.data(), 0), 0);
  // A wrong magic byte under a check recomputed for it: the magic refuses it.
  for (int at : {0, 1}) {
    auto magic = p;
    magic[at] ^= 0x01;
    const unsigned short sealed = OrvenCrc16(magic.data(), 72);
    magic[72] = static_cast<unsigned char>(sealed & 0xFF);
    magic[73] = static_cast<unsigned char>(sealed >> 8);
    EXPECT_EQ(PreparePackage(magic.data(), 74), 0) << "magic byte " << at;
  }
  auto check = p;
  check[40] ^= 1;
  EXPECT_EQ(PreparePackage(check.data(), 74), 0);
  auto crc = p;
  crc[73] ^= 0x80;
  EXPECT_EQ(PreparePackage(crc.data(), 74), 0);
}

TEST(PreparePackage, TrailingBytesAreIgnoredAndNotChecked) {
  auto p = packet(0xFC);
  p.resize(200, 0xEE);
  EXPECT_EQ(PreparePackage(p.data(), 200), 0xFC);
}

TEST(PreparePackage, NeverReadsPastTheLengthNorChangesTheBuffer) {
  auto p = packet(0xFF);
  for (int len = 0; len < 74; ++len) {
    // An exact-size heap copy: AddressSanitizer catches any read past it.
    std::vector<unsigned char> cut(p.begin(), p.begin() + len);
    cut.shrink_to_fit();
    EXPECT_EQ(PreparePackage(len ? cut.data() : nullptr, len), 0);
  }
  const auto before = p;
  PreparePackage(p.data(), 74);
  EXPECT_EQ(p, before);
}

TEST(LibraryCalls, IdentityConfigurationAndSendRewrite) {
  auto p = packet(0xFF, 0xFF0012AB34CD56ull, 1);
  EXPECT_EQ(GetDeviceIdent(p.data()), 0xFF0012AB34CD56ull);
  EXPECT_EQ(ReadNetConfigration(p.data()), p.data() + 12);

  std::vector<unsigned char> buf(1500, 0);
  std::memcpy(buf.data(), p.data(), 74);
  unsigned char pending[60];
  std::memset(pending, 0x42, sizeof pending);
  std::memcpy(ReadNetConfigration(buf.data()), pending, 60);
  EXPECT_EQ(SendNetConfigration(buf.data()), 74);
  EXPECT_EQ(buf[3], 0x5A);
  EXPECT_EQ(buf[2], 1) << "format flag kept";
  EXPECT_EQ(PreparePackage(buf.data(), 74), 0x5A);

  unsigned long long ident = 0;
  unsigned char config[60];
  ASSERT_EQ(OrvenReadConfigSet(buf.data(), 74, &ident, config), 1);
  EXPECT_EQ(ident, 0xFF0012AB34CD56ull);
  EXPECT_EQ(std::memcmp(config, pending, 60), 0);
}

TEST(DeviceHelpers, ReadConfigSetRefusesOtherPackets) {
  auto announce = packet(0xFF);
  EXPECT_EQ(OrvenReadConfigSet(announce.data(), 74, nullptr, nullptr), 0);
  auto set = packet(0x5A);
  EXPECT_EQ(OrvenReadConfigSet(set.data(), 73, nullptr, nullptr), 0);
  set[20] ^= 1;
  EXPECT_EQ(OrvenReadConfigSet(set.data(), 74, nullptr, nullptr), 0);
  unsigned char small[10];
  EXPECT_EQ(OrvenBuildPacket(small, 10, 0xFF, 0, 1, nullptr), 0);
}
