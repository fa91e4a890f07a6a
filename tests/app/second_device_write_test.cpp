// End to end through real sockets: with two devices listed, the second line
// selected by a press released below the lines, a write sends the second
// device its own configuration with the edit, and nothing else.
#include "app_fixture.h"

using namespace apptest;

TEST_F(AppTest, WriteAfterPressReleasedElsewhereCarriesTheSelectedDevicesOwnValues) {
  Peer first, second;
  first.SendTo("255.255.255.255", 60080, Packet(kDevA, Config(1)));
  ASSERT_TRUE(QTest::qWaitFor([&] { return f1->ListBox1->Count() == 1; }, 5000));
  second.SendTo("230.1.1.100", 60081, Packet(kDevB, Config(2)));
  ASSERT_TRUE(QTest::qWaitFor([&] { return f1->ListBox1->Count() == 2; }, 5000));
  ASSERT_EQ(f1->lblIdent->text(), "0012AB34CD5601");

  QWidget* lines = f1->ListBox1->viewport();
  const QPoint line2 = f1->ListBox1->visualRect(f1->ListBox1->model()->index(1, 0)).center();
  QTest::mousePress(lines, Qt::LeftButton, {}, line2);
  QTest::mouseRelease(lines, Qt::LeftButton, {}, QPoint(40, 300));
  ASSERT_EQ(f1->lblIdent->text(), "0012AB34CD5602");

  QTest::mouseClick(f1->edtDNS2PAddr, Qt::LeftButton);
  QTest::keyClicks(f1->edtDNS2PAddr, "8.8.8.8");
  ASSERT_TRUE(f1->Button1->isEnabled());
  QTest::mouseClick(f1->Button1, Qt::LeftButton);
  ASSERT_TRUE(app::Form2->isVisible());

  // Each device announces its old configuration once more; only the
  // selected one is answered, with its own values and the edit.
  first.SendTo("255.255.255.255", 60080, Packet(kDevA, Config(1)));
  second.SendTo("255.255.255.255", 60080, Packet(kDevB, Config(2)));
  // The answer comes at once; a loaded machine may take seconds to send it.
  std::vector<Peer::Received> sets;
  for (int waited = 0; sets.empty() && waited < 30000; waited += 200) sets = second.CollectSets(200);
  ASSERT_GE(sets.size(), 1u);
  device::NetConfig expected = Config(2);
  expected.DNS2PAddr = device::IPv4FromText("8.8.8.8");
  for (const auto& set : sets) {
    unsigned long long ident = 0;
    device::NetConfig carried{};
    ASSERT_EQ(OrvenReadConfigSet(set.data.data(), static_cast<int>(set.data.size()), &ident,
                                 reinterpret_cast<unsigned char*>(&carried)),
              1);
    EXPECT_EQ(ident, kDevB);
    EXPECT_TRUE(device::SameConfig(carried, expected));
    EXPECT_EQ(+carried.PAddr, device::IPv4FromText("192.168.1.102"));
  }
  EXPECT_TRUE(first.CollectSets(200).empty());
}
