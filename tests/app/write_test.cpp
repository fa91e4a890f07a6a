// The configuration write: validation, the progress dialog, and the
// write-and-confirm loop through real sockets.
#include "app_fixture.h"

using namespace apptest;

namespace {

const std::uint8_t* Bytes(const device::NetConfig& c) { return reinterpret_cast<const std::uint8_t*>(&c); }

}  // namespace

class WriteTest : public AppTest {
 protected:
  // A device on the list, selected, with a changed name in the panel.
  void SelectAndEdit(const device::NetConfig& c = Config(1), std::uint16_t port = 5000) {
    Announce(kDevA, c, 0xFF, 0, port);
    f1->edtDeviceName->setText(QString::fromUtf8("新名称"));
    ASSERT_TRUE(f1->Button1->isEnabled());
  }
  std::vector<Box> Press() {
    return CatchBoxes([&] { app::Guard([&] { f1->Button1Click(f1->Button1); }); });
  }
  void Tick(int n) {
    for (int i = 0; i < n; ++i) f2->Timer1Timer(f2->Timer1);
  }
  device::NetConfig Pending() const { return f1->FPendingConfig; }
};

TEST_F(WriteTest, AcceptedDeviceAddressesOpenTheDialog) {
  SelectAndEdit();
  for (const char* ok : {"1.0.0.1", "126.255.255.255", "128.0.0.1", "223.255.255.254"}) {
    f1->edtPAddr->setText(ok);
    EXPECT_TRUE(Press().empty()) << ok;
    EXPECT_TRUE(f2->isVisible()) << ok;
    EXPECT_EQ(+Pending().PAddr, device::IPv4FromText(ok));
    f2->close();
  }
}

TEST_F(WriteTest, RefusedDeviceAddressesShowTheMessageAndFocusTheAddress) {
  SelectAndEdit();
  for (const char* bad : {"0.1.2.3", "127.0.0.1", "224.0.0.1", "255.255.255.255", ""}) {
    f1->edtPAddr->setText(bad);
    f1->edtDeviceName->setFocus();
    const auto boxes = Press();
    ASSERT_EQ(boxes.size(), 1u) << bad;
    EXPECT_EQ(boxes[0].text, "不允许设置此IP地址.");
    EXPECT_FALSE(f2->isVisible()) << bad;
    EXPECT_EQ(f1->focusWidget(), f1->edtPAddr) << bad;
    EXPECT_TRUE(f1->isEnabled());
  }
}

TEST_F(WriteTest, AutomaticAddressingLooksAtNoAddressAndZeroesThem) {
  SelectAndEdit();
  f1->CheckAuto->setChecked(true);
  f1->edtPAddr->setText("127.0.0.1");  // disabled and ignored
  EXPECT_TRUE(Press().empty());
  EXPECT_TRUE(f2->isVisible());
  EXPECT_EQ(Pending().AutoIP, 1);
  for (int i = 40; i < 60; ++i) EXPECT_EQ(Bytes(Pending())[i], 0) << i;
}

TEST_F(WriteTest, PendingRecordIsBuiltFromZeroByTheFieldConversions) {
  SelectAndEdit();
  f1->edtServerPAddr->setText("");
  f1->edtHAddr1->setText("1A");
  f1->edtHAddr2->setText("2B");
  f1->EdtServerPort->setText("60111");
  EXPECT_TRUE(Press().empty());
  const device::NetConfig p = Pending();
  EXPECT_EQ(+p.ServerPAddr, 0u) << "an empty server address writes 0";
  EXPECT_EQ(Bytes(p)[5], 0xCF);
  EXPECT_EQ(Bytes(p)[6], 0xEA);
  EXPECT_EQ(Bytes(p)[7], 0x2B);
  EXPECT_EQ(Bytes(p)[8], 0x1A);
  EXPECT_EQ(device::DeviceNameToText(p), "新名称");
  for (int i = 9 + 6; i < 40; ++i) EXPECT_EQ(Bytes(p)[i], 0) << i;
  EXPECT_EQ(+p.PAddr, device::IPv4FromText("192.168.1.101"));
}

TEST_F(WriteTest, NonHexadecimalHardwareTextStopsTheWrite) {
  SelectAndEdit();
  CatchBoxes([&] { f1->edtHAddr1->setText("Q"); });  // as if pasted
  const auto boxes = Press();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, "'0x0Q' is not a valid integer value.");
  EXPECT_FALSE(f2->isVisible());
}

TEST_F(WriteTest, NothingHappensWithoutASelectedDevice) {
  EXPECT_TRUE(Press().empty());
  EXPECT_FALSE(f2->isVisible());
}

TEST_F(WriteTest, DialogCountsThirtyTicksThenReportsTheTimeOut) {
  SelectAndEdit();
  Press();
  ASSERT_TRUE(f2->isVisible());
  EXPECT_FALSE(f1->isEnabled());
  EXPECT_TRUE(f2->ProgressBar1->isVisible());
  EXPECT_FALSE(f2->Label1->isVisible());
  EXPECT_FALSE(f2->Button1->isVisible());
  EXPECT_TRUE(f2->Timer1->isActive());
  EXPECT_EQ(f2->Timer1->interval(), 1000);
  EXPECT_EQ(f2->Position(), 0);
  Tick(29);
  EXPECT_EQ(f2->Position(), 29);
  EXPECT_TRUE(f2->ProgressBar1->isVisible());
  EXPECT_FALSE(f2->Button1->isVisible());
  Tick(1);
  EXPECT_FALSE(f2->ProgressBar1->isVisible());
  EXPECT_TRUE(f2->Label1->isVisible());
  EXPECT_EQ(f2->Label1->text(), "命令执行超时");
  EXPECT_TRUE(f2->Button1->isVisible());
  EXPECT_EQ(f2->Button1->text(), "确认");
  EXPECT_FALSE(f2->Timer1->isActive());
  EXPECT_FALSE(f1->isEnabled());
  QTest::mouseClick(f2->Button1, Qt::LeftButton);
  EXPECT_FALSE(f2->isVisible());
  EXPECT_TRUE(f1->isEnabled());
}

TEST_F(WriteTest, TheRealTimerAdvancesOncePerSecond) {
  SelectAndEdit();
  Press();
  QTest::qWait(1300);
  EXPECT_EQ(f2->Position(), 1);
  f2->close();
}

TEST_F(WriteTest, EscIsIgnoredWhileCountingAndClosesAfterTheResult) {
  SelectAndEdit();
  Press();
  QTest::keyClick(f2, Qt::Key_Escape);
  EXPECT_TRUE(f2->isVisible());
  Tick(30);
  QTest::keyClick(f2, Qt::Key_Escape);
  EXPECT_FALSE(f2->isVisible());
  EXPECT_TRUE(f1->isEnabled());
}

TEST_F(WriteTest, DialogIsBorderlessCentredOnceAndASecondWriteStartsAfresh) {
  SelectAndEdit();
  Press();
  EXPECT_TRUE(f2->windowFlags() & Qt::FramelessWindowHint);
  EXPECT_EQ(f2->size(), QSize(254, 66));
  const QRect main = f1->frameGeometry();
  EXPECT_EQ(f2->pos(), QPoint(main.left() + (main.width() - 254) / 2, main.top() + (main.height() - 66) / 2));
  const QPoint first = f2->pos();
  Tick(30);
  f2->close();
  f1->move(f1->pos() + QPoint(40, 30));
  f1->edtDeviceName->setText("again");
  Press();
  EXPECT_EQ(f2->pos(), first) << "later shows keep the first place";
  EXPECT_EQ(f2->Position(), 0);
  EXPECT_TRUE(f2->ProgressBar1->isVisible());
  EXPECT_FALSE(f2->Label1->isVisible());
  EXPECT_FALSE(f2->Button1->isVisible());
  EXPECT_TRUE(f2->Timer1->isActive());
}

// ---- through real sockets ----------------------------------------------

class WriteLoopTest : public WriteTest {
 protected:
  // The device announces itself by broadcast to the listener from its port.
  void DeviceAnnounces(Peer& device, const device::NetConfig& c, unsigned char kind = 0xFF,
                       unsigned long long ident = kDevA) {
    const long long before = f1->IntakeCalls();
    device.SendTo("255.255.255.255", 60080, Packet(ident, c, kind));
    for (int i = 0; i < 200 && f1->IntakeCalls() == before; ++i) QTest::qWait(5);
    ASSERT_GT(f1->IntakeCalls(), before) << "announcement not handled";
  }
};

TEST_F(WriteLoopTest, PressSendsNothingThenEachOldAnnouncementGetsOnePacketUntilSuccess) {
  Peer device;
  DeviceAnnounces(device, Config(1));
  ASSERT_EQ(f1->ListBox1->ItemIndex(), 0);
  f1->edtDeviceName->setText(QString::fromUtf8("新名称"));
  Press();
  ASSERT_TRUE(f2->isVisible());
  EXPECT_TRUE(device.CollectSets(200).empty()) << "the press sends nothing";

  for (int i = 0; i < 3; ++i) DeviceAnnounces(device, Config(1));
  const auto sets = device.CollectSets(300);
  ASSERT_EQ(sets.size(), 3u);
  for (const auto& s : sets) {
    EXPECT_EQ(s.data.size(), 74u);
    EXPECT_EQ(s.fromPort, sets[0].fromPort) << "one source port for every packet";
    EXPECT_NE(s.fromPort, 60080);
    EXPECT_NE(s.fromPort, 60081);
    EXPECT_NE(s.fromPort, 60100);
    unsigned long long ident = 0;
    device::NetConfig carried;
    ASSERT_EQ(OrvenReadConfigSet(s.data.data(), 74, &ident, reinterpret_cast<unsigned char*>(&carried)), 1);
    EXPECT_EQ(ident, kDevA);
    EXPECT_TRUE(device::SameConfig(carried, f1->FPendingConfig));
  }
  EXPECT_FALSE(f1->UDPClient->BroadcastPermission()) << "permission is off again after each send";

  // The device applies it and announces the new record.
  const device::NetConfig applied = f1->FPendingConfig;
  DeviceAnnounces(device, applied, 0xFC);
  EXPECT_EQ(f2->Label1->text(), "命令执行成功");
  EXPECT_TRUE(f2->Label1->isVisible());
  EXPECT_TRUE(f2->Button1->isVisible());
  EXPECT_FALSE(f2->ProgressBar1->isVisible());
  EXPECT_FALSE(f2->Timer1->isActive());
  EXPECT_EQ(f1->edtDeviceName->text(), QString::fromUtf8("新名称")) << "panel refilled from the entry";
  EXPECT_FALSE(f1->Button1->isEnabled());
  EXPECT_TRUE(device.CollectSets(100).empty());

  // Still open: a further matching announcement repeats the success display.
  f2->Label1->setCaption("x");
  f1->edtDeviceName->setText("typed meanwhile");
  DeviceAnnounces(device, applied);
  EXPECT_EQ(f2->Label1->text(), "命令执行成功");
  EXPECT_EQ(f1->edtDeviceName->text(), QString::fromUtf8("新名称"));
  // ... and a different one is answered again.
  DeviceAnnounces(device, Config(1));
  EXPECT_EQ(device.CollectSets(200).size(), 1u);
}

TEST_F(WriteLoopTest, OtherDevicesAnnouncementsDuringAWriteSendNothing) {
  Peer device;
  Peer other;
  DeviceAnnounces(device, Config(1));
  f1->edtDeviceName->setText("x");
  Press();
  DeviceAnnounces(other, Config(2), 0xFF, kDevB);
  DeviceAnnounces(other, Config(3), 0xFF, kDevB);
  EXPECT_TRUE(other.CollectSets(200).empty());
  EXPECT_TRUE(device.CollectSets(50).empty());
  EXPECT_EQ(EntryName(1), "泵站3");
}

TEST_F(WriteLoopTest, AfterATimeOutOrACloseNothingIsSent) {
  Peer device;
  DeviceAnnounces(device, Config(1));
  f1->edtDeviceName->setText("x");
  Press();
  Tick(30);
  ASSERT_TRUE(f2->isVisible());
  DeviceAnnounces(device, Config(1));
  EXPECT_TRUE(device.CollectSets(200).empty()) << "timed out: the dialog is still open but nothing is sent";

  f2->close();
  Press();
  Tick(3);
  f2->close();  // a close request while counting
  EXPECT_TRUE(f1->isEnabled());
  EXPECT_FALSE(f2->Timer1->isActive());
  DeviceAnnounces(device, Config(1));
  EXPECT_TRUE(device.CollectSets(200).empty());
}

TEST_F(WriteLoopTest, AnnouncementsFromTheGroupAreAnsweredByBroadcastToo) {
  Peer device;
  DeviceAnnounces(device, Config(1));
  f1->edtDeviceName->setText("x");
  Press();
  const long long before = f1->IntakeCalls();
  device.SendTo("230.1.1.100", 60081, Packet(kDevA, Config(1)));
  for (int i = 0; i < 200 && f1->IntakeCalls() == before; ++i) QTest::qWait(5);
  const auto sets = device.CollectSets(300);
  ASSERT_EQ(sets.size(), 1u);
}
