// A running main window and progress dialog on the offscreen platform, with
// helpers to feed announcements, watch message boxes and catch broadcasts.
// Runs inside the private network namespace: showing the window activates
// the real endpoints.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <functional>
#include <optional>
#include <vector>

#include "app/errors.h"
#include "app/form1.h"
#include "app/form2.h"
#include "device/fields.h"
#include "net/socket.h"
#include "orvenapi3/orvenapi3.h"
#include "modal_watchdog.h"
#include "packets.h"

namespace apptest {

inline device::NetConfig Config(int n = 1) {
  device::NetConfig c;
  device::ZeroConfig(c);
  c.ServerPAddr = device::IPv4FromText("192.168.1.10");
  c.ServerPort = 60110;
  c.HAddr = static_cast<std::uint16_t>(0x1A00 + n);
  device::DeviceNameFromText(c, "泵站" + std::to_string(n));
  c.PAddr = device::IPv4FromText("192.168.1." + std::to_string(100 + n));
  c.SubNetMask = device::IPv4FromText("255.255.255.0");
  c.GatePAddr = device::IPv4FromText("192.168.1.1");
  c.DNS1PAddr = device::IPv4FromText("192.168.1.1");
  return c;
}

inline net::TIdBytes Packet(unsigned long long ident, const device::NetConfig& c, unsigned char kind = 0xFF,
                            unsigned char flag = 0) {
  return Announcement(ident, c, kind, flag);
}

// What a message box showed.
struct Box {
  QString text;
  QString title;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QString ownerTitle;
};

// Runs action; every modal message box that opens meanwhile is recorded and
// closed with OK.
inline std::vector<Box> CatchBoxes(const std::function<void()>& action) {
  orventest::ExpectModalBoxes expecting;
  std::vector<Box> boxes;
  QTimer closer;
  closer.setInterval(10);
  QObject::connect(&closer, &QTimer::timeout, [&] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      Box b{box->text(), box->windowTitle(), box->icon(),
            box->parentWidget() ? box->parentWidget()->windowTitle() : QString()};
      boxes.push_back(b);
      if (auto* ok = box->button(QMessageBox::Ok)) ok->click(); else box->close();
    }
  });
  closer.start();
  action();
  QTest::qWait(30);
  closer.stop();
  return boxes;
}

// Creates the two windows and shows the main one from inside the
// application's own loop, as the program does. Returns the loop's exit code
// (99 when nothing ended it within a minute, a bound far beyond any loaded
// machine's start-up) and the message boxes shown. The
// windows are left in app::Form1 and app::Form2.
inline std::pair<int, std::vector<Box>> RunStartup() {
  app::Form1 = new app::TForm1();
  app::Form2 = new app::TForm2();
  int code = 99;
  auto boxes = CatchBoxes([&] {
    QTimer::singleShot(0, [] { app::Form1->show(); });
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(99); });
    guard.start(60000);
    code = QCoreApplication::exec();
  });
  return {code, boxes};
}

inline void DeleteWindows() {
  delete app::Form2;
  delete app::Form1;
  app::Form1 = nullptr;
  app::Form2 = nullptr;
}

// A socket bound to 0.0.0.0:port (or a system-chosen port) that plays a
// device: it sends announcements and receives what the tool broadcasts.
// (On the endpoints' own socket layer, so it is the same on every platform.)
class Peer {
 public:
  explicit Peer(std::uint16_t port = 0) {
    namespace sock = net::sock;
    handle_ = sock::Open(sock::Family::IPv4);
    sock::SetOption(handle_, sock::Option::Broadcast, 1);
    if (!sock::Bind(handle_, sock::AnyAddress(sock::Family::IPv4, port))) ADD_FAILURE() << "peer bind failed";
    sock::Address local;
    sock::LocalAddress(handle_, local);
    port_ = sock::AddressPort(local);
  }
  ~Peer() { net::sock::Close(handle_); }
  Peer(const Peer&) = delete;
  Peer& operator=(const Peer&) = delete;

  std::uint16_t port() const { return port_; }

  void SendTo(const char* ip, std::uint16_t port, const net::TIdBytes& data) {
    net::sock::SendTo(handle_, data.data(), data.size(),
                      net::sock::IPv4Address(net::sock::InetAddr(ip), port));
  }

  // Datagrams received within the time, while the GUI loop keeps running.
  struct Received {
    net::TIdBytes data;
    std::string fromIP;
    std::uint16_t fromPort;
  };
  // With stopAt, returns as soon as that many have arrived.
  std::vector<Received> Collect(int ms, std::size_t stopAt = SIZE_MAX) {
    namespace sock = net::sock;
    std::vector<Received> out;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (out.size() < stopAt && std::chrono::steady_clock::now() < end) {
      QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
      bool readable = false;
      if (sock::WaitReadable(&handle_, &readable, 1, 5) <= 0) continue;
      net::TIdBytes buf(9000);
      std::size_t length = 0;
      sock::Address from;
      if (sock::Receive(handle_, buf.data(), buf.size(), length, from) != sock::Received::Datagram) continue;
      buf.resize(length);
      Received r{buf, {}, sock::AddressPort(from)};
      sock::AddressText(from, r.fromIP);
      out.push_back(std::move(r));
    }
    return out;
  }
  // Only the configuration-set packets among them.
  std::vector<Received> CollectSets(int ms) {
    std::vector<Received> sets;
    for (auto& r : Collect(ms))
      if (PreparePackage(r.data.data(), static_cast<int>(r.data.size())) == 0x5A) sets.push_back(r);
    return sets;
  }

 private:
  net::sock::Handle handle_ = net::sock::kNone;
  std::uint16_t port_ = 0;
};

class AppTest : public ::testing::Test {
 protected:
  void SetUp() override {
    app::Form1 = new app::TForm1();
    app::Form2 = new app::TForm2();
    f1 = app::Form1;
    f2 = app::Form2;
    f1->show();
    f1->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(f1));
    QApplication::setActiveWindow(f1);
    QTest::qWait(10);
  }
  void TearDown() override {
    delete app::Form2;
    delete app::Form1;
    app::Form1 = nullptr;
    app::Form2 = nullptr;
  }

  // Hands a datagram to the intake as the multicast receiver would.
  void Feed(const net::TIdBytes& data, std::uint16_t peerPort = 5000) {
    net::TIdSocketHandle binding;
    binding.PeerIP = "127.0.0.1";
    binding.PeerPort = peerPort;
    f1->IdIPMCastClient1IPMCastRead(nullptr, data, binding);
  }
  void Announce(unsigned long long ident, const device::NetConfig& c, unsigned char kind = 0xFF,
                unsigned char flag = 0, std::uint16_t peerPort = 5000) {
    Feed(Packet(ident, c, kind, flag), peerPort);
  }

  // Focus moves as the user's Tab would, so leave handlers run.
  void Focus(QWidget* w) {
    w->setFocus(Qt::TabFocusReason);
    QTest::qWait(1);
  }
  void TypeInto(QLineEdit* edit, const QString& text, bool clearFirst = true) {
    Focus(edit);
    if (clearFirst) {
      edit->selectAll();
      QTest::keyClick(edit, Qt::Key_Backspace);
    }
    TypeText(edit, text);
  }
  // Types each character as a key press carrying it (any script).
  static void TypeText(QWidget* w, const QString& text) {
    for (QChar c : text) {
      QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
      QApplication::sendEvent(w, &press);
      QKeyEvent release(QEvent::KeyRelease, 0, Qt::NoModifier, QString(c));
      QApplication::sendEvent(w, &release);
    }
  }
  void Leave(QWidget* to = nullptr) { Focus(to ? to : static_cast<QWidget*>(f1->ListBox1)); }

  std::string EntryName(int i) { return device::DeviceNameToText(f1->Devices().Entry(i).Config); }

  app::TForm1* f1 = nullptr;
  app::TForm2* f2 = nullptr;
};

constexpr unsigned long long kDevA = 0x0012AB34CD5601ull;
constexpr unsigned long long kDevB = 0x0012AB34CD5602ull;

}  // namespace apptest
