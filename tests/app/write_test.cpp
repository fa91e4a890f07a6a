// The configuration write: validation, the progress dialog, and the
// write-and-confirm loop through real sockets.
#include "app_fixture.h"

#include <QElapsedTimer>
#include <QStyle>
#include <QStyleFactory>

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "packets.h"
#include "set_packet.h"

using namespace apptest;

namespace {

// The record of Config(1) as the panel shows it, with the name edited to
// "新名称": the bytes a write of it must carry.
wire::RecordFields EditedRecord() {
  wire::RecordFields r;
  r.serverPAddr = {192, 168, 1, 10};
  r.serverPort = 60110;
  r.hAddr6 = 0x01;
  r.hAddr5 = 0x1A;
  r.name = "\xD0\xC2\xC3\xFB\xB3\xC6";  // 新名称 in code page 936
  r.pAddr = {192, 168, 1, 101};
  r.subNetMask = {255, 255, 255, 0};
  r.gatePAddr = {192, 168, 1, 1};
  r.dns1PAddr = {192, 168, 1, 1};
  return r;
}

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
  const struct {
    const char* text;
    wire::Ip bytes;
  } accepted[] = {{"1.0.0.1", {1, 0, 0, 1}},
                  {"126.255.255.255", {126, 255, 255, 255}},
                  {"128.0.0.1", {128, 0, 0, 1}},
                  {"223.255.255.254", {223, 255, 255, 254}}};
  for (const auto& ok : accepted) {
    f1->edtPAddr->setText(ok.text);
    EXPECT_TRUE(Press().empty()) << ok.text;
    EXPECT_TRUE(f2->isVisible()) << ok.text;
    wire::RecordFields want = EditedRecord();
    want.pAddr = ok.bytes;
    EXPECT_EQ(Held(Pending()), want.Bytes()) << ok.text;
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
  wire::RecordFields want = EditedRecord();
  want.autoIP = 1;
  want.pAddr = want.subNetMask = want.gatePAddr = want.dns1PAddr = want.dns2PAddr = {};
  EXPECT_EQ(Held(Pending()), want.Bytes());
}

TEST_F(WriteTest, PendingRecordIsBuiltFromZeroByTheFieldConversions) {
  // The announced record has bytes after its name's end; the written one
  // starts from zero and carries none of them.
  device::NetConfig announced = Config(1);
  std::memset(announced.DeviceName + 10, 0x77, sizeof announced.DeviceName - 10);
  SelectAndEdit(announced);
  f1->edtServerPAddr->setText("");
  f1->edtHAddr1->setText("1A");
  f1->edtHAddr2->setText("2B");
  f1->EdtServerPort->setText("60111");
  EXPECT_TRUE(Press().empty());
  wire::RecordFields want = EditedRecord();
  want.serverPAddr = {};  // an empty server address writes 0
  want.serverPort = 60111;
  want.hAddr6 = 0x2B;
  want.hAddr5 = 0x1A;
  EXPECT_EQ(Held(Pending()), want.Bytes());
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

TEST_F(WriteTest, EveryTickIsPaintedWhateverTheStyle) {
  // A bar left to itself repaints only when its value has moved by more than
  // a chunk of the style (9 of the 241 pixels here: over a tick's width).
  SelectAndEdit();
  struct PaintSpy : QObject {
    explicit PaintSpy(QProgressBar* b) : bar(b) { bar->installEventFilter(this); }
    ~PaintSpy() override { bar->removeEventFilter(this); }
    bool eventFilter(QObject*, QEvent* e) override {
      if (e->type() == QEvent::Paint) values.push_back(bar->value());
      return false;
    }
    QProgressBar* bar;
    std::vector<int> values;  // the bar's value at each of its paints
  } painted(f2->ProgressBar1);
  for (const char* name : {"Windows", "Fusion"}) {
    std::unique_ptr<QStyle> style(QStyleFactory::create(QString::fromLatin1(name)));
    ASSERT_TRUE(style) << name;
    f2->ProgressBar1->setStyle(style.get());
    Press();
    f2->Timer1->stop();  // the ticks come from here only
    ASSERT_TRUE(QTest::qWaitForWindowExposed(f2));
    for (int tick = 1; tick <= 3; ++tick) {
      Tick(1);
      EXPECT_TRUE(QTest::qWaitFor([&] { return !painted.values.empty() && painted.values.back() == tick; }, 5000))
          << name << " style: tick " << tick << " not painted";
    }
    f2->close();
    f2->ProgressBar1->setStyle(nullptr);
  }
}

TEST_F(WriteTest, TheRealTimerAdvancesOncePerSecond) {
  // Each step comes a second after the one before, never early (the bounds
  // leave room for the clock's millisecond steps); a loaded machine only
  // makes it later.
  SelectAndEdit();
  QElapsedTimer clock;
  clock.start();
  Press();
  ASSERT_TRUE(QTest::qWaitFor([&] { return f2->Position() >= 1; }, 20000));
  EXPECT_GE(clock.elapsed(), 995);
  EXPECT_EQ(f2->Position(), 1) << "one step per expiry";
  ASSERT_TRUE(QTest::qWaitFor([&] { return f2->Position() >= 2; }, 20000));
  EXPECT_GE(clock.elapsed(), 1995);
  EXPECT_EQ(f2->Position(), 2);
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
    ASSERT_TRUE(QTest::qWaitFor([&] { return f1->IntakeCalls() > before; }, 10000)) << "announcement not handled";
  }
  // The configuration-sets the device received (the tool answers within the
  // handler, so they are queued before DeviceAnnounces returns), each read
  // by the independent reader; anything else the device got is a failure.
  std::vector<wire::SetPacket> SetsReceived(Peer& device, std::size_t expected, std::uint16_t* source = nullptr) {
    std::vector<wire::SetPacket> sets;
    for (const auto& r : device.Collect(10000, expected)) {
      const auto set = wire::DecodeSet(r.data);
      EXPECT_TRUE(set.has_value()) << "not a well-formed configuration-set, " << r.data.size() << " bytes";
      EXPECT_EQ(r.data.size(), 74u);
      if (source) {
        if (sets.empty()) *source = r.fromPort;
        EXPECT_EQ(r.fromPort, *source) << "one source port for every packet";
      }
      if (set) sets.push_back(*set);
    }
    // Nothing beyond those.
    EXPECT_TRUE(device.Collect(100).empty());
    return sets;
  }
};

TEST_F(WriteLoopTest, PressSendsNothingThenEachOldAnnouncementGetsOnePacketUntilSuccess) {
  Peer device;
  DeviceAnnounces(device, Config(1));
  ASSERT_EQ(f1->ListBox1->ItemIndex(), 0);
  f1->edtDeviceName->setText(QString::fromUtf8("新名称"));
  Press();
  ASSERT_TRUE(f2->isVisible());
  EXPECT_TRUE(device.Collect(200).empty()) << "the press sends nothing";

  for (int i = 0; i < 3; ++i) DeviceAnnounces(device, Config(1));
  std::uint16_t source = 0;
  const auto sets = SetsReceived(device, 3, &source);
  ASSERT_EQ(sets.size(), 3u);
  for (const auto& s : sets) {
    EXPECT_EQ(s.ident, kDevA);
    EXPECT_EQ(s.flag, 0) << "the announcement's format flag is left as it was";
    EXPECT_EQ(s.config, EditedRecord().Bytes());
  }
  for (const std::uint16_t port : {60080, 60081, 60100}) EXPECT_NE(source, port);
  EXPECT_FALSE(f1->UDPClient->BroadcastPermission()) << "permission is off again after each send";

  // The device applies it and announces the new record.
  const device::NetConfig applied = AsConfig(EditedRecord().Bytes());
  DeviceAnnounces(device, applied, 0xFC);
  EXPECT_EQ(f2->Label1->text(), "命令执行成功");
  EXPECT_TRUE(f2->Label1->isVisible());
  EXPECT_TRUE(f2->Button1->isVisible());
  EXPECT_FALSE(f2->ProgressBar1->isVisible());
  EXPECT_FALSE(f2->Timer1->isActive());
  EXPECT_EQ(f1->edtDeviceName->text(), QString::fromUtf8("新名称")) << "panel refilled from the entry";
  EXPECT_FALSE(f1->Button1->isEnabled());
  EXPECT_TRUE(device.Collect(100).empty());

  // Still open: a further matching announcement repeats the success display.
  f2->Label1->setCaption("x");
  f1->edtDeviceName->setText("typed meanwhile");
  DeviceAnnounces(device, applied);
  EXPECT_EQ(f2->Label1->text(), "命令执行成功");
  EXPECT_EQ(f1->edtDeviceName->text(), QString::fromUtf8("新名称"));
  // ... and a different one is answered again, with the same record.
  DeviceAnnounces(device, Config(1));
  const auto again = SetsReceived(device, 1);
  ASSERT_EQ(again.size(), 1u);
  EXPECT_EQ(again[0].config, EditedRecord().Bytes());
}

TEST_F(WriteLoopTest, OtherDevicesAnnouncementsDuringAWriteSendNothing) {
  Peer device;
  Peer other;
  DeviceAnnounces(device, Config(1));
  f1->edtDeviceName->setText("x");
  Press();
  DeviceAnnounces(other, Config(2), 0xFF, kDevB);
  DeviceAnnounces(other, Config(3), 0xFF, kDevB);
  EXPECT_TRUE(other.Collect(200).empty());
  EXPECT_TRUE(device.Collect(50).empty());
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
  EXPECT_TRUE(device.Collect(200).empty()) << "timed out: the dialog is still open but nothing is sent";

  f2->close();
  Press();
  Tick(3);
  f2->close();  // a close request while counting
  EXPECT_TRUE(f1->isEnabled());
  EXPECT_FALSE(f2->Timer1->isActive());
  DeviceAnnounces(device, Config(1));
  EXPECT_TRUE(device.Collect(200).empty());
}

TEST_F(WriteLoopTest, AnnouncementsFromTheGroupAreAnsweredByBroadcastToo) {
  Peer device;
  DeviceAnnounces(device, Config(1));
  f1->edtDeviceName->setText("x");
  Press();
  const long long before = f1->IntakeCalls();
  device.SendTo("230.1.1.100", 60081, Packet(kDevA, Config(1)));
  ASSERT_TRUE(QTest::qWaitFor([&] { return f1->IntakeCalls() > before; }, 10000));
  const auto sets = SetsReceived(device, 1);
  ASSERT_EQ(sets.size(), 1u);
  EXPECT_EQ(sets[0].ident, kDevA);
}

TEST_F(WriteLoopTest, TheAnswerNeverLeavesFromTheToolsPortsWhateverTheSystemOffers) {
  // Run by the test_app_sender_port test, with the namespace's range of
  // ephemeral ports narrowed (tests/net/with-port-range.sh): every port of
  // it is held here but the tool's own and the last, so the system offers a
  // new sender 60100 (the sender's Port) or the last port, at random. Each
  // round's window is new, and so is its sender: one that kept what it was
  // offered, or bound its Port, answers from 60100 in some round (all but
  // once in 2^20 runs).
  const char* range = std::getenv("ORVEN_PORT_RANGE");
  if (!range) GTEST_SKIP() << "needs the narrowed range of test_app_sender_port";
  unsigned first = 0, last = 0;
  ASSERT_EQ(std::sscanf(range, "%u %u", &first, &last), 2) << range;
  ASSERT_TRUE(first <= 60100 && 60100 < last && last <= 65535) << range;
  Peer device(60200);  // outside the range
  std::vector<std::unique_ptr<Peer>> holders;
  for (unsigned port = first; port < last; ++port)
    if (port != 60080 && port != 60081 && port != 60100)
      holders.push_back(std::make_unique<Peer>(static_cast<std::uint16_t>(port)));
  for (int round = 0; round < 20; ++round) {
    if (round > 0) {
      TearDown();
      SetUp();
    }
    DeviceAnnounces(device, Config(1));
    f1->edtDeviceName->setText("x");
    Press();
    ASSERT_TRUE(f2->isVisible());
    DeviceAnnounces(device, Config(1));
    const auto got = device.Collect(10000, 1);
    ASSERT_EQ(got.size(), 1u) << "round " << round;
    EXPECT_EQ(got[0].fromPort, last) << "round " << round;
  }
}
