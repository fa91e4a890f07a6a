#include <gtest/gtest.h>

#include "engine/confirm.h"
#include "packets.h"
#include "set_packet.h"

using namespace engine;

namespace {

constexpr unsigned long long kIdent = 0x0012AB34CD5601ull;
constexpr bool kOpen = true;

// SampleConfig(2) as the bytes a device receives.
wire::Record SampleRecord2() {
  wire::RecordFields r;
  r.serverPort = 60110;
  r.hAddr6 = 0x02;
  r.hAddr5 = 0x12;
  r.name = "\xB1\xC3\xD5\xBE" "2";  // 泵站2 in code page 936
  r.pAddr = {192, 168, 1, 102};
  r.subNetMask = {255, 255, 255, 0};
  return r.Bytes();
}

}  // namespace

TEST(Confirm, NothingWhileNoWriteIsOpen) {
  const auto pending = SampleConfig(2);
  for (const auto& announced : {SampleConfig(1), pending}) {
    auto work = Announcement(kIdent, announced);
    const auto before = work;
    EXPECT_EQ(Confirm(false, pending, work), ConfirmAction::None);
    EXPECT_EQ(work, before);
  }
}

TEST(Confirm, EqualAnnouncementIsSuccess) {
  const auto pending = SampleConfig(2);
  auto work = Announcement(kIdent, pending, 0xFC);
  EXPECT_EQ(Confirm(kOpen, pending, work), ConfirmAction::Success);
}

TEST(Confirm, DifferentAnnouncementBecomesTheConfigurationSetPacket) {
  const auto pending = SampleConfig(2);
  auto work = Announcement(kIdent, SampleConfig(1), 0xFF, 1);
  ASSERT_EQ(Confirm(kOpen, pending, work), ConfirmAction::Send);
  ASSERT_EQ(work.size(), 74u);
  const auto set = wire::DecodeSet(work);
  ASSERT_TRUE(set.has_value()) << "a well-formed configuration-set";
  EXPECT_EQ(set->ident, kIdent);
  EXPECT_EQ(set->config, SampleRecord2());
  EXPECT_EQ(set->flag, 1) << "the device's format byte travels back unchanged";
}

TEST(Confirm, LongAnnouncementIsCutToThePacketLength) {
  const auto pending = SampleConfig(2);
  auto work = Announcement(kIdent, SampleConfig(1));
  work.resize(3000, 0xEE);
  ASSERT_EQ(Confirm(kOpen, pending, work), ConfirmAction::Send);
  EXPECT_EQ(work.size(), 74u);
  const auto set = wire::DecodeSet(work);
  ASSERT_TRUE(set.has_value());
  EXPECT_EQ(set->config, SampleRecord2());
}

TEST(Confirm, AnyDifferingByteCountsEvenPastTheNameTerminator) {
  auto pending = SampleConfig(2);
  auto announced = pending;
  announced.DeviceName[29] = 'x';  // after the name's zero byte
  auto work = Announcement(kIdent, announced);
  EXPECT_EQ(Confirm(kOpen, pending, work), ConfirmAction::Send);
}
