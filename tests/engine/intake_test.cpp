#include <gtest/gtest.h>

#include <vector>

#include <new>

#include "engine/intake.h"
#include "packets.h"

using namespace engine;

namespace {

constexpr unsigned long long kA = 0x0012AB34CD5601ull;
constexpr unsigned long long kB = 0x0012AB34CD5602ull;

IntakeOutcome Feed(DeviceList& list, std::vector<std::uint8_t> datagram) {
  return Intake(datagram, list);
}

}  // namespace

TEST(Intake, NewDeviceGetsALineWithItsRecordAndFormatByte) {
  DeviceList list;
  const auto c = SampleConfig(1);
  const auto out = Feed(list, Announcement(kA, c, 0xFF, 1));
  EXPECT_EQ(out.result, IntakeResult::NewDevice);
  EXPECT_EQ(out.index, 0);
  ASSERT_EQ(list.Count(), 1);
  EXPECT_EQ(list.Text(0), "0012AB34CD5601");
  EXPECT_TRUE(device::SameConfig(list.Entry(0).Config, c));
  EXPECT_EQ(list.Entry(0).HAddrFormat, 1);
}

TEST(Intake, AnnouncementKinds255And252AreHandledAlikeAndEveryOtherKindDropped) {
  DeviceList list;
  EXPECT_EQ(Feed(list, Announcement(kA, SampleConfig(), 0xFF)).result, IntakeResult::NewDevice);
  EXPECT_EQ(Feed(list, Announcement(kB, SampleConfig(), 0xFC)).result, IntakeResult::NewDevice);
  for (int kind : {0x00, 0x01, 0x5A, 0xFD, 0xFE, 0x7F}) {
    EXPECT_EQ(Feed(list, Announcement(0x99, SampleConfig(), static_cast<unsigned char>(kind))).result,
              IntakeResult::Dropped)
        << kind;
  }
  EXPECT_EQ(list.Count(), 2);
}

TEST(Intake, EmptyShortAndMalformedDatagramsAddNothing) {
  DeviceList list;
  EXPECT_EQ(Feed(list, {}).result, IntakeResult::Dropped);
  EXPECT_EQ(Feed(list, {0x4F, 0x56}).result, IntakeResult::Dropped);
  auto bad = Announcement(kA, SampleConfig());
  bad[30] ^= 0xFF;  // check no longer matches
  EXPECT_EQ(Feed(list, bad).result, IntakeResult::Dropped);
  auto cut = Announcement(kA, SampleConfig());
  cut.resize(73);
  EXPECT_EQ(Feed(list, cut).result, IntakeResult::Dropped);
  EXPECT_EQ(list.Count(), 0);
}

TEST(Intake, KnownDeviceFollowsTheLatestAnnouncementButKeepsItsFormatByte) {
  DeviceList list;
  Feed(list, Announcement(kA, SampleConfig(1), 0xFF, 1));
  const auto changed = SampleConfig(7);
  const auto out = Feed(list, Announcement(kA, changed, 0xFC, 0));
  EXPECT_EQ(out.result, IntakeResult::KnownDevice);
  EXPECT_EQ(out.index, 0);
  EXPECT_EQ(list.Count(), 1);
  EXPECT_TRUE(device::SameConfig(list.Entry(0).Config, changed));
  EXPECT_EQ(list.Entry(0).HAddrFormat, 1);
}

TEST(Intake, EachDeviceKeepsTheAdapterOfItsLatestAnnouncement) {
  DeviceList list;
  std::vector<std::uint8_t> a = Announcement(kA, SampleConfig(1)), b = Announcement(kB, SampleConfig(2));
  Intake(a, list, 7);
  Intake(b, list, 0xFFFFFF);  // the largest index kept
  EXPECT_EQ(list.Adapter(0), 7u);
  EXPECT_EQ(list.Adapter(1), 0xFFFFFFu);
  EXPECT_EQ(list.Entry(0).HAddrFormat, 0) << "the adapter leaves the entry alone";
  a = Announcement(kA, SampleConfig(1));
  Intake(a, list, 0x1000000);  // too large to keep: not known
  EXPECT_EQ(list.Adapter(0), 0u);
  a = Announcement(kA, SampleConfig(1));
  Intake(a, list, 3);
  EXPECT_EQ(list.Adapter(0), 3u);
  EXPECT_EQ(list.Adapter(1), 0xFFFFFFu);
  EXPECT_EQ(list.Ident(1), kB);
}

TEST(Intake, TwoAnnouncementsOfOneNewDeviceGiveOneLineAndArrivalOrderIsKept) {
  DeviceList list;
  Feed(list, Announcement(kB, SampleConfig()));
  Feed(list, Announcement(kB, SampleConfig()));
  Feed(list, Announcement(kA, SampleConfig()));
  Feed(list, Announcement(kB, SampleConfig()));
  ASSERT_EQ(list.Count(), 2);
  EXPECT_EQ(list.Ident(0), kB);
  EXPECT_EQ(list.Ident(1), kA);
  EXPECT_EQ(list.IndexOf(kA), 1);
  EXPECT_EQ(list.IndexOf(0x1234), -1);
}

TEST(Intake, TrailingBytesBeyondThePacketAreIgnored) {
  DeviceList list;
  auto p = Announcement(kA, SampleConfig(3));
  p.resize(8192, 0xEE);
  EXPECT_EQ(Feed(list, p).result, IntakeResult::NewDevice);
  EXPECT_TRUE(device::SameConfig(list.Entry(0).Config, SampleConfig(3)));
}

namespace {
// Records each append it is told of, with the line count at that moment.
struct CountingObserver : DeviceList::Observer {
  const DeviceList* list = nullptr;
  std::vector<int> told, countWhenTold;
  bool fail = false;
  void appended(int i) override {
    told.push_back(i);
    countWhenTold.push_back(list->Count());
    if (fail) throw std::bad_alloc();
  }
};
}  // namespace

// The observer hears of a line only once it exists and can be looked up; a
// failing observer takes the append back.
TEST(DeviceList, ObserverIsToldAfterEveryAppendOnly) {
  DeviceList list;
  CountingObserver obs;
  obs.list = &list;
  list.SetObserver(&obs);
  Feed(list, Announcement(kA, SampleConfig()));
  Feed(list, Announcement(kA, SampleConfig()));
  Feed(list, Announcement(kB, SampleConfig()));
  EXPECT_EQ(obs.told, (std::vector<int>{0, 1}));
  EXPECT_EQ(obs.countWhenTold, (std::vector<int>{1, 2}));

  obs.fail = true;
  constexpr std::uint64_t kC = 0x0012AB34CD5699ull;
  device::DeviceEntry e{};
  EXPECT_THROW(list.Append(kC, e), std::bad_alloc);
  EXPECT_EQ(list.Count(), 2);
  EXPECT_EQ(list.IndexOf(kC), -1);
  obs.fail = false;
  EXPECT_EQ(list.Append(kC, e), 2);
  EXPECT_EQ(list.IndexOf(kC), 2);
}

TEST(DeviceList, IdentitiesNeedingSixteenDigitsAreDistinctLines) {
  DeviceList list;
  Feed(list, Announcement(0xFF0012AB34CD56ull, SampleConfig()));
  Feed(list, Announcement(0x01FF0012AB34CD56ull, SampleConfig()));
  ASSERT_EQ(list.Count(), 2);
  EXPECT_EQ(list.Text(0), "FF0012AB34CD56");
  EXPECT_EQ(list.Text(1), "1FF0012AB34CD56");
}

TEST(DeviceList, AppendingAListedIdentityIsRefusedAndChangesNothing) {
  DeviceList list;
  device::DeviceEntry e{};
  list.Append(kA, e);
  EXPECT_THROW(list.Append(kA, e), std::invalid_argument);
  EXPECT_EQ(list.Count(), 1);
}

// The index through many growths, with identities that differ only in their
// high bits, in their low bits, or by a stride (runs of neighbouring slots):
// every line is found where it was appended, and no stranger is found.
TEST(DeviceList, EveryIdentityIsFoundAtItsLineThroughGrowthAndCollisions) {
  DeviceList list;
  device::DeviceEntry e{};
  std::vector<std::uint64_t> idents;
  for (std::uint64_t i = 1; i <= 3000; ++i) {
    idents.push_back(i << 48);
    idents.push_back(i);
    idents.push_back(0x00A1B2C3000000ull + i * 0x10000ull);
  }
  for (std::size_t i = 0; i < idents.size(); ++i) ASSERT_EQ(list.Append(idents[i], e), static_cast<int>(i));
  for (std::size_t i = 0; i < idents.size(); ++i) ASSERT_EQ(list.IndexOf(idents[i]), static_cast<int>(i));
  EXPECT_EQ(list.IndexOf(0), -1);
  EXPECT_EQ(list.IndexOf(3001ull << 48), -1);
  EXPECT_THROW(list.Append(idents[4567], e), std::invalid_argument);
  EXPECT_EQ(list.Count(), static_cast<int>(idents.size()));
}
