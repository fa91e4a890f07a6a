// The whole program path through real sockets: start-up, announcements on
// both endpoints, and start-up failures.
#include "app_fixture.h"

#include <QEventLoop>
#include <QProcess>

#include <string>

using namespace apptest;

namespace {

// Runs the GUI loop until cond holds or the time is up.
bool WaitFor(const std::function<bool()>& cond, int ms = 2000) {
  for (int waited = 0; waited < ms && !cond(); waited += 5) QTest::qWait(5);
  return cond();
}

}  // namespace

TEST_F(AppTest, AnnouncementsOnBothPathsListEachDeviceOnceInArrivalOrder) {
  ASSERT_TRUE(f1->UDPServer->Active());
  ASSERT_TRUE(f1->IdIPMCastClient1->Active());
  Peer a, b, c;
  a.SendTo("255.255.255.255", 60080, Packet(kDevB, Config(2)));
  ASSERT_TRUE(WaitFor([&] { return f1->ListBox1->Count() == 1; }));
  b.SendTo("230.1.1.100", 60081, Packet(kDevA, Config(1)));
  ASSERT_TRUE(WaitFor([&] { return f1->ListBox1->Count() == 2; }));
  // One device on both paths, and repeats.
  for (int i = 0; i < 3; ++i) {
    c.SendTo("255.255.255.255", 60080, Packet(0x0012AB34CD5603ull, Config(3)));
    c.SendTo("230.1.1.100", 60081, Packet(0x0012AB34CD5603ull, Config(3)));
    a.SendTo("230.1.1.100", 60081, Packet(kDevB, Config(2)));
  }
  ASSERT_TRUE(WaitFor([&] { return f1->IntakeCalls() >= 11; }));
  QTest::qWait(50);
  ASSERT_EQ(f1->ListBox1->Count(), 3);
  EXPECT_EQ(f1->ListBox1->Item(0), "0012AB34CD5602");
  EXPECT_EQ(f1->ListBox1->Item(1), "0012AB34CD5601");
  EXPECT_EQ(f1->ListBox1->Item(2), "0012AB34CD5603");
  EXPECT_EQ(f1->ListBox1->ItemIndex(), 0);
  EXPECT_EQ(f1->lblIdent->text(), "0012AB34CD5602");
}

TEST_F(AppTest, GarbageAndEmptyDatagramsChangeNothing) {
  Peer p;
  p.SendTo("255.255.255.255", 60080, {});
  p.SendTo("255.255.255.255", 60080, net::TIdBytes(9000, 0x4F));
  auto bad = Packet(kDevA, Config(1));
  bad[72] ^= 1;
  p.SendTo("255.255.255.255", 60080, bad);
  p.SendTo("255.255.255.255", 60080, Packet(kDevA, Config(1), 0x5A));
  p.SendTo("255.255.255.255", 60080, Packet(kDevA, Config(1), 0x01));
  p.SendTo("255.255.255.255", 60080, Packet(kDevB, Config(2)));  // the one that counts
  ASSERT_TRUE(WaitFor([&] { return f1->ListBox1->Count() == 1; }));
  QTest::qWait(50);
  EXPECT_EQ(f1->ListBox1->Count(), 1);
  EXPECT_EQ(f1->ListBox1->Item(0), "0012AB34CD5602");
  EXPECT_TRUE(f1->IdIPMCastClient1->Receiving()) << "nothing was sent to the group";
}

TEST_F(AppTest, AnEmptyDatagramToTheGroupEndsMulticastReceptionOnly) {
  Peer p;
  p.SendTo("230.1.1.100", 60081, {});
  ASSERT_TRUE(WaitFor([&] { return !f1->IdIPMCastClient1->Receiving(); }));
  p.SendTo("230.1.1.100", 60081, Packet(kDevA, Config(1)));
  p.SendTo("255.255.255.255", 60080, Packet(kDevB, Config(2)));
  ASSERT_TRUE(WaitFor([&] { return f1->ListBox1->Count() == 1; }));
  QTest::qWait(50);
  EXPECT_EQ(f1->ListBox1->Item(0), "0012AB34CD5602");
  EXPECT_TRUE(f1->IdIPMCastClient1->Active()) << "still counts as active";
}

TEST_F(AppTest, ClosingWhileDevicesAnnounceRunsTheHandlerNoMore) {
  Peer p;
  for (int i = 0; i < 50; ++i) p.SendTo("255.255.255.255", 60080, Packet(kDevA + i, Config(i)));
  QTest::qWait(20);
  for (int i = 0; i < 50; ++i) p.SendTo("255.255.255.255", 60080, Packet(kDevA + i, Config(i)));
  const long long before = f1->IntakeCalls();
  delete app::Form2;
  app::Form2 = nullptr;
  app::TForm1* form = f1;
  app::Form1 = nullptr;
  form->UDPServer->SetActive(false);
  form->IdIPMCastClient1->SetActive(false);
  const long long atDeactivation = form->IntakeCalls();
  for (int i = 0; i < 20; ++i) p.SendTo("255.255.255.255", 60080, Packet(kDevA, Config(1)));
  QTest::qWait(100);
  EXPECT_EQ(form->IntakeCalls(), atDeactivation);
  EXPECT_GE(atDeactivation, before);
  delete form;
}

// Start-up failures: the window shows the error once and ends the loop it
// runs in; the program then returns 0.
class StartupFailure : public ::testing::Test {
 protected:
  void TearDown() override { DeleteWindows(); }
  std::pair<int, std::vector<Box>> Start() { return RunStartup(); }
};

TEST_F(StartupFailure, ListenerPortTakenShowsTheBindErrorOnceAndEnds) {
  Peer holder(60080);
  const auto [code, boxes] = Start();
  EXPECT_EQ(code, 0);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, "Could not bind socket. Address and port are already in use.");
  EXPECT_EQ(boxes[0].title, "ORVEN网络设备现场设置程序");
  EXPECT_FALSE(app::Form1->IdIPMCastClient1->Active()) << "the second endpoint is never tried";
}

TEST_F(StartupFailure, GroupPortTakenShowsTheBindErrorOnce) {
  Peer holder(60081);
  const auto [code, boxes] = Start();
  EXPECT_EQ(code, 0);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, "Could not bind socket. Address and port are already in use.");
  EXPECT_TRUE(app::Form1->UDPServer->Active());
}

TEST_F(StartupFailure, ASecondCopyEndsAtOnce) {
  app::TForm1 first;
  first.UDPServer->SetActive(true);
  const auto [code, boxes] = Start();
  EXPECT_EQ(code, 0);
  EXPECT_EQ(boxes.size(), 1u);
  EXPECT_TRUE(first.UDPServer->Active()) << "the first copy is unaffected";
}

// ---- beside the device simulator -----------------------------------------

namespace {

// orven-devsim (ORVEN_DEVSIM, the path the build gives) as a child process,
// ended at the end of the test.
class Simulator {
 public:
  explicit Simulator(const QStringList& args) {
    process_.setStandardOutputFile(QProcess::nullDevice());
    process_.start(QString::fromUtf8(ORVEN_DEVSIM), QStringList{"--quiet"} + args);
    if (!process_.waitForStarted(30000)) ADD_FAILURE() << "orven-devsim did not start: " << ORVEN_DEVSIM;
  }
  ~Simulator() {
    process_.kill();
    process_.waitForFinished(30000);
  }
  Simulator(const Simulator&) = delete;
  Simulator& operator=(const Simulator&) = delete;

 private:
  QProcess process_;
};

}  // namespace

TEST_F(AppTest, WriteToASimulatedDeviceIsConfirmedAndAnIgnoringOneTimesOut) {
  // Device 0 applies sets; device 1 ignores them.
  Simulator sim({"--devices", "2", "--interval-ms", "200", "--mode", "both", "--ignore-sets", "1"});
  ASSERT_TRUE(WaitFor([&] { return f1->ListBox1->Count() == 2; }, 30000)) << "simulator not heard";
  f1->ListBox1->setItemIndex(f1->Devices().IndexOf(0x0012AB34CD5600ull));
  f1->ListBox1Click(f1->ListBox1);
  f1->edtDeviceName->setText(QString::fromUtf8("三号水位站"));
  f1->edtPAddr->setText("10.1.2.3");
  app::Guard([&] { f1->Button1Click(f1->Button1); });
  ASSERT_TRUE(f2->isVisible());
  ASSERT_TRUE(WaitFor([&] { return f2->Label1->isVisible(); }, 5000));
  EXPECT_EQ(f2->Label1->text(), "命令执行成功");
  const device::DeviceEntry& entry = f1->Devices().Entry(f1->ListBox1->ItemIndex());
  EXPECT_EQ(device::DeviceNameToText(entry.Config), "三号水位站");
  EXPECT_EQ(device::IPv4ToText(entry.Config.PAddr), "10.1.2.3");
  EXPECT_EQ(f1->edtPAddr->text(), "10.1.2.3");
  QTest::mouseClick(f2->Button1, Qt::LeftButton);
  ASSERT_TRUE(f1->isEnabled());

  f1->ListBox1->setItemIndex(f1->Devices().IndexOf(0x0012AB34CD5601ull));
  f1->ListBox1Click(f1->ListBox1);
  f1->edtDeviceName->setText("never");
  app::Guard([&] { f1->Button1Click(f1->Button1); });
  QTest::qWait(700);  // several announcements answered, none applied
  EXPECT_FALSE(f2->Label1->isVisible());
  for (int i = 0; i < 30; ++i) f2->Timer1Timer(f2->Timer1);
  EXPECT_EQ(f2->Label1->text(), "命令执行超时");
  EXPECT_NE(device::DeviceNameToText(f1->Devices().Entry(f1->ListBox1->ItemIndex()).Config), "never");
}
