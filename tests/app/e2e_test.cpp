// The whole program path through real sockets: start-up, announcements on
// both endpoints, and start-up failures.
#include "app_fixture.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "app/gui_handover.h"
#include "journal/journal.h"

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <QProcess>
#else
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

using namespace apptest;

namespace {

// Runs the GUI loop until cond holds or the (generous) time is up.
bool WaitFor(const std::function<bool()>& cond, int ms = 10000) {
  return QTest::qWaitFor(cond, ms);
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
  // Each path delivers in the order its socket received: once a last device
  // sent on each path is listed, everything sent before has been handled.
  c.SendTo("255.255.255.255", 60080, Packet(0x0012AB34CD5604ull, Config(4)));
  c.SendTo("230.1.1.100", 60081, Packet(0x0012AB34CD5605ull, Config(5)));
  ASSERT_TRUE(WaitFor([&] {
    return f1->Devices().IndexOf(0x0012AB34CD5604ull) >= 0 && f1->Devices().IndexOf(0x0012AB34CD5605ull) >= 0;
  }));
  EXPECT_EQ(f1->IntakeCalls(), 13) << "each datagram reaches the intake exactly once";
  ASSERT_EQ(f1->ListBox1->Count(), 5);
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
  // The one that counts, sent last on the same path: once it is listed, the
  // others have been handled before it.
  p.SendTo("255.255.255.255", 60080, Packet(kDevB, Config(2)));
  ASSERT_TRUE(WaitFor([&] { return f1->Devices().IndexOf(kDevB) >= 0; }));
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
  ASSERT_TRUE(WaitFor([&] { return f1->Devices().IndexOf(kDevB) >= 0; }));
  EXPECT_EQ(f1->ListBox1->Count(), 1);
  // The group datagram, sent first, still waits in the group socket: nothing
  // takes it off any more.
  const net::sock::Handle group = f1->IdIPMCastClient1->Bindings()[0]->Handle;
  bool readable = false;
  EXPECT_EQ(net::sock::WaitReadable(&group, &readable, 1, 5000), 1) << "the group datagram was taken";
  EXPECT_TRUE(f1->IdIPMCastClient1->Active()) << "still counts as active";
}

TEST_F(AppTest, ClosingWhileDevicesAnnounceRunsTheHandlerNoMore) {
  // Devices keep announcing on both paths while the windows are destroyed
  // the way the program ends, with datagrams waiting in the hand-over that
  // the GUI thread has not taken yet.
  std::atomic<bool> stop{false};
  std::thread devices([&] {
    Peer p;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    for (int n = 0; !stop && n < 1000000 && std::chrono::steady_clock::now() < deadline; ++n) {
      const auto packet = Packet(kDevA + static_cast<unsigned>(n % 50), Config(n % 50));
      p.SendTo("255.255.255.255", 60080, packet);
      p.SendTo("230.1.1.100", 60081, packet);
      if (n % 16 == 0) std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  });
  ASSERT_TRUE(WaitFor([&] { return f1->IntakeCalls() >= 20; })) << "announcements handled before the close";
  // The GUI thread stops taking datagrams: the receiving threads queue theirs.
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (f1->HandOverObject().handOver().pending() == 0 && std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  const bool queued = f1->HandOverObject().handOver().pending() > 0;

  const long long before = app::TForm1::ReadEventCalls();
  delete app::Form2;  // as the program does once its loop has ended
  app::Form2 = f2 = nullptr;
  delete app::Form1;  // deactivates the endpoints before its controls go
  app::Form1 = f1 = nullptr;
  QTest::qWait(200);  // wake-up messages posted meanwhile are delivered now
  stop = true;
  devices.join();
  EXPECT_TRUE(queued) << "no datagram was waiting in the hand-over at the close";
  EXPECT_EQ(app::TForm1::ReadEventCalls(), before) << "a read event ran during or after the shutdown";
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

// orven-devsim (ORVEN_DEVSIM, the path the build gives) as a child process
// that writes what the devices received to a log, one line per set, and is
// killed at the end of the test. Elsewhere than on Windows it is started
// with posix_spawn: QProcess starts a child with vfork semantics (clone with
// CLONE_VM), which ThreadSanitizer takes for a fork of this multi-threaded
// process, and from then on it ends the process at its next new thread.
class Simulator {
 public:
  explicit Simulator(const std::vector<std::string>& args) {
    log_ = dir_.filePath("devsim.log");
#ifdef _WIN32
    QStringList list{"--quiet"};
    for (const std::string& arg : args) list << QString::fromStdString(arg);
    process_.setStandardOutputFile(log_);
    process_.start(QString::fromUtf8(ORVEN_DEVSIM), list);
    if (!process_.waitForStarted(30000)) ADD_FAILURE() << "orven-devsim did not start: " << ORVEN_DEVSIM;
#else
    std::vector<std::string> argv{ORVEN_DEVSIM, "--quiet"};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> raw;
    for (std::string& arg : argv) raw.push_back(arg.data());
    raw.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, log_.toLocal8Bit().constData(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int error = posix_spawn(&pid_, raw[0], &actions, nullptr, raw.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) {
      pid_ = -1;
      ADD_FAILURE() << "orven-devsim did not start: " << ORVEN_DEVSIM << ": " << std::strerror(error);
    }
#endif
  }
  ~Simulator() {
#ifdef _WIN32
    process_.kill();
    process_.waitForFinished(30000);
#else
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
#endif
  }
  // How many lines of the simulator's output start with prefix.
  int Lines(const std::string& prefix) const {
    QFile in(log_);
    if (!in.open(QIODevice::ReadOnly)) return 0;
    int n = 0;
    for (const QByteArray& line : in.readAll().split('\n')) n += line.startsWith(prefix.c_str());
    return n;
  }
  Simulator(const Simulator&) = delete;
  Simulator& operator=(const Simulator&) = delete;

 private:
  QTemporaryDir dir_;
  QString log_;
#ifdef _WIN32
  QProcess process_;
#else
  pid_t pid_ = -1;
#endif
};

// Points the journal of writes at a folder of its own while it lives.
class JournalFolder {
 public:
  JournalFolder() : xdg_(qgetenv("XDG_STATE_HOME")), local_(qgetenv("LOCALAPPDATA")) {
    qputenv("XDG_STATE_HOME", dir_.path().toUtf8());
    qputenv("LOCALAPPDATA", QDir::toNativeSeparators(dir_.path()).toUtf8());
  }
  ~JournalFolder() {
    qputenv("XDG_STATE_HOME", xdg_);
    qputenv("LOCALAPPDATA", local_);
  }
  static journal::Contents Read() {
    journal::Contents contents;
    journal::Read(journal::DefaultPath(), contents);
    return contents;
  }

 private:
  QTemporaryDir dir_;
  QByteArray xdg_, local_;
};

}  // namespace

TEST_F(AppTest, WriteToASimulatedDeviceIsConfirmedAndAnIgnoringOneTimesOut) {
  // Device 0 applies sets; device 1 ignores them. Each write leaves a
  // journal entry with the record before, the one written and the outcome.
  JournalFolder journal;
  Simulator sim({"--devices", "2", "--interval-ms", "200", "--mode", "both", "--ignore-sets", "1"});
  ASSERT_TRUE(WaitFor([&] { return f1->ListBox1->Count() == 2; }, 30000)) << "simulator not heard";
  f1->ListBox1->setItemIndex(f1->Devices().IndexOf(0x0012AB34CD5600ull));
  f1->ListBox1Click(f1->ListBox1);
  f1->edtDeviceName->setText(QString::fromUtf8("三号水位站"));
  f1->edtPAddr->setText("10.1.2.3");
  const std::string nameBefore = EntryName(f1->ListBox1->ItemIndex());
  QTest::mouseClick(f1->Button1, Qt::LeftButton);
  ASSERT_TRUE(f2->isVisible());
  // Within the dialog's own 30-second time-out (which would show its text too).
  ASSERT_TRUE(WaitFor([&] { return f2->Label1->isVisible(); }, 28000));
  EXPECT_EQ(f2->Label1->text(), "命令执行成功");
  // The panel was refilled from the confirming announcement.
  EXPECT_EQ(f1->edtDeviceName->text(), QString::fromUtf8("三号水位站"));
  EXPECT_EQ(f1->edtPAddr->text(), "10.1.2.3");
  // The device's entry follows every announcement it takes in. The device
  // announced on both paths just before it applied the set, and the copy of
  // that older announcement on the other path may be taken in after the
  // confirming one (its receiving thread runs on its own), overwriting the
  // entry until the device's next announcements: the entry ends up holding
  // the written record.
  const auto held = [&] { return f1->Devices().Entry(f1->ListBox1->ItemIndex()).Config; };
  EXPECT_TRUE(WaitFor([&] {
    return device::DeviceNameToText(held()) == "三号水位站" && device::IPv4ToText(held().PAddr) == "10.1.2.3";
  })) << device::DeviceNameToText(held()) << " " << device::IPv4ToText(held().PAddr);
  EXPECT_GE(sim.Lines("applied 0012AB34CD5600 ip=10.1.2.3 "), 1);
  ASSERT_TRUE(WaitFor([&] {
    const auto c = JournalFolder::Read();
    return c.entries.size() == 1 && !c.entries[0].outcome.empty();
  })) << "one entry with its outcome in " << journal::DefaultPath();
  {
    const journal::Entry e = JournalFolder::Read().entries.at(0);
    EXPECT_EQ(e.ident, 0x0012AB34CD5600ull);
    EXPECT_EQ(e.program, "orven-setup");
    EXPECT_EQ(e.command, "window");
    EXPECT_EQ(e.outcome, journal::kConfirmed);
    EXPECT_EQ(device::DeviceNameToText(e.before.Config), nameBefore);
    EXPECT_NE(device::IPv4ToText(e.before.Config.PAddr), "10.1.2.3");
    EXPECT_EQ(device::DeviceNameToText(e.after.Config), "三号水位站");
    EXPECT_EQ(device::IPv4ToText(e.after.Config.PAddr), "10.1.2.3");
  }
  QTest::mouseClick(f2->Button1, Qt::LeftButton);
  ASSERT_TRUE(f1->isEnabled());

  f1->ListBox1->setItemIndex(f1->Devices().IndexOf(0x0012AB34CD5601ull));
  f1->ListBox1Click(f1->ListBox1);
  f1->edtDeviceName->setText("never");
  app::Guard([&] { f1->Button1Click(f1->Button1); });
  // Several announcements answered, none applied.
  EXPECT_TRUE(WaitFor([&] { return sim.Lines("ignored-set 0012AB34CD5601 ") >= 2; }))
      << "the ignoring device was sent no configuration-set";
  EXPECT_EQ(sim.Lines("ignored-set 0012AB34CD5600 "), 0);
  EXPECT_FALSE(f2->Label1->isVisible());
  for (int i = 0; i < 30; ++i) f2->Timer1Timer(f2->Timer1);
  EXPECT_EQ(f2->Label1->text(), "命令执行超时");
  EXPECT_NE(device::DeviceNameToText(f1->Devices().Entry(f1->ListBox1->ItemIndex()).Config), "never");
  const auto c = JournalFolder::Read();
  ASSERT_EQ(c.entries.size(), 2u);
  EXPECT_EQ(c.entries[1].ident, 0x0012AB34CD5601ull);
  EXPECT_EQ(device::DeviceNameToText(c.entries[1].after.Config), "never");
  EXPECT_EQ(c.entries[1].outcome, journal::kTimedOut);
}

TEST_F(AppTest, AConfirmationHeardTwiceEndsOnlyItsOwnWriteInTheJournal) {
  // A device on both paths confirms twice, and the technician may start the
  // next write before the window's loop runs again.
  JournalFolder journal;
  Announce(kDevA, Config(1));
  f1->edtDeviceName->setText("first");
  app::Guard([&] { f1->Button1Click(f1->Button1); });
  device::NetConfig written = Config(1);
  device::DeviceNameFromText(written, "first");
  Announce(kDevA, written);
  Announce(kDevA, written);  // the copy from the other path
  ASSERT_EQ(f2->Label1->text(), "命令执行成功");
  f2->Button1Click(f2->Button1);
  f1->edtDeviceName->setText("second");
  app::Guard([&] { f1->Button1Click(f1->Button1); });
  ASSERT_TRUE(QTest::qWaitFor([] { return !JournalFolder::Read().entries.at(0).outcome.empty(); }, 10000));
  QTest::qWait(50);
  const journal::Contents c = JournalFolder::Read();
  ASSERT_EQ(c.entries.size(), 2u);
  EXPECT_EQ(c.entries[0].outcome, journal::kConfirmed);
  EXPECT_EQ(c.entries[1].outcome, "") << "the first write's confirmation ended the second";
  f2->Button1Click(f2->Button1);
}
