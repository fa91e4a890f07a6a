#include "app/form1.h"

#include <atomic>
#include <utility>

#include <QCloseEvent>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QShowEvent>
#include <QTimer>

#include "app/errors.h"
#include "app/form2.h"
#include "app/gui_handover.h"
#include "device/codepage.h"
#include "device/display.h"
#include "device/fields.h"
#include "device/protocol.h"
#include "engine/rules.h"
#include "net/adapter.h"

namespace app {

TForm1* Form1 = nullptr;
TForm2* Form2 = nullptr;

namespace {

// Calls of the read events over all windows, counted before anything else.
std::atomic<long long> g_readEventCalls{0};

const QString kCaption = QStringLiteral("ORVEN网络设备现场设置程序");

QString Q(const std::string& utf8) { return QString::fromStdString(utf8); }
std::string S(const QString& text) { return text.toStdString(); }

// The window's font: SimSun, 15-pixel characters; where SimSun is missing a
// CJK face with the same metrics stands in.
QFont WindowFont() {
  QFont::insertSubstitutions(QStringLiteral("宋体"),
                             {QStringLiteral("SimSun"), QStringLiteral("NSimSun"),
                              QStringLiteral("WenQuanYi Zen Hei"),
                              QStringLiteral("WenQuanYi Zen Hei Sharp"),
                              QStringLiteral("Noto Sans CJK SC")});
  QFont font(QStringLiteral("宋体"));
  font.setPixelSize(15);
  return font;
}

}  // namespace

TForm1::TForm1(QWidget* owner)
    : QWidget(owner, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                         Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                         Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint) {
  handOver_ = new GuiHandOver(this);
  // Errors raised by an arrow's click of the spin edit reach the default display too.
  widgets::SetExceptionHandler([](std::exception_ptr error) { ShowException(error); });
  BuildLayout();
  WireDispatchTable();

  SetApplicationTitle(windowTitle());
  for (const AddressEdit& a : addressEdits_)
    if (a.field->automatic) SetEditText(a.edit, QString());
}

TForm1::~TForm1() {
  DeactivateEndpoints();
  JournalConfirmed();
  JournalOutcome(journal::kStopped);  // a write still open when the program ends
  // The list view reads the device list, a member of this window, which is
  // gone before the window's children are torn down: the view goes first.
  delete ListBox1;
  ListBox1 = nullptr;
  // No handler runs while the remaining controls are torn down.
  for (QObject* child : findChildren<QObject*>()) disconnect(child, nullptr, this, nullptr);
}

void TForm1::BuildLayout() {
  setWindowTitle(kCaption);
  setFont(WindowFont());
  setBackgroundRole(QPalette::Button);
  setAutoFillBackground(true);
  setFixedSize(548, 434);
  if (const QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - QPoint(548 / 2, 434 / 2));

  Label13 = new TLabel(this, QStringLiteral("ORVEN 现场设置工具  Ver2.0.0.4"), QRect(0, 419, 548, 15), false);
  Label13->setGeometry(0, 419, 548, 15);  // aligned to the bottom edge: full width

  Panel1 = new TPanel(this, QRect(160, 0, 388, 419));
  Panel1->setEnabled(false);
  QWidget* p = Panel1;
  Label1 = new TLabel(p, QStringLiteral("设备识别码:"), QRect(28, 10, 83, 15), true);
  lblIdent = new TLabel(p, QString(), QRect(361, 10, 8, 15), true);
  CheckAuto = new TCheckBox(p, QStringLiteral("自动IP地址："), QRect(27, 40, 230, 17));
  Label3 = new TLabel(p, QStringLiteral("设备IP地址:"), QRect(27, 70, 84, 15), true);
  edtPAddr = NewAddressEdit(p, "ip", QRect(231, 62, 140, 23));
  Label4 = new TLabel(p, QStringLiteral("子网  掩码:"), QRect(27, 100, 84, 15), true);
  edtSubNetMask = NewAddressEdit(p, "mask", QRect(231, 97, 140, 23));
  Label5 = new TLabel(p, QStringLiteral("网关  地址:"), QRect(27, 130, 84, 15), true);
  edtGatePAddr = NewAddressEdit(p, "gateway", QRect(231, 127, 140, 23));
  Label9 = new TLabel(p, QStringLiteral("DNS 服务器1:"), QRect(18, 160, 93, 15), true);
  edtDNS1PAddr = NewAddressEdit(p, "dns1", QRect(231, 157, 140, 23));
  Label10 = new TLabel(p, QStringLiteral("DNS 服务器2:"), QRect(18, 190, 93, 15), true);
  edtDNS2PAddr = NewAddressEdit(p, "dns2", QRect(231, 187, 140, 23));
  Label7 = new TLabel(p, QStringLiteral("硬件  地址:"), QRect(27, 220, 84, 15), false);
  Label11 = new TLabel(p, QStringLiteral("00:04:A3:"), QRect(128, 220, 72, 15), false);
  Label15 = new TLabel(p, QStringLiteral("06"), QRect(202, 220, 16, 15), false);
  Label14 = new TLabel(p, QStringLiteral(":         :"), QRect(221, 220, 88, 15), false);
  edtHAddr1 = new TEdit(p, QRect(231, 217, 42, 23), 2);
  edtHAddr2 = new TEdit(p, QRect(329, 217, 42, 23), 2);
  Label6 = new TLabel(p, QStringLiteral("服务器地址:"), QRect(28, 250, 83, 15), true);
  edtServerPAddr = NewAddressEdit(p, "server", QRect(231, 247, 140, 23));
  Label8 = new TLabel(p, QStringLiteral("服务器端口:"), QRect(28, 280, 83, 15), true);
  EdtServerPort = new TCSpinEdit(p);
  EdtServerPort->setGeometry(231, 277, 140, 24);
  EdtServerPort->setMaxValue(65535);
  EdtServerPort->setMinValue(1);
  EdtServerPort->SetValue(60110);
  Label12 = new TLabel(p, QStringLiteral("默认服务器端口为60110"), QRect(207, 310, 160, 15), true);
  Label2 = new TLabel(p, QStringLiteral("设备  名称:"), QRect(27, 333, 84, 15), true);
  edtDeviceName = new TEdit(p, QRect(114, 333, 260, 23), 0);
  edtDeviceName->setKeepsSelection(true);
  Bevel1 = new TBevel(p, QRect(28, 363, 346, 8), TBevel::Shape::TopLine);
  Button1 = new TButton(p, QStringLiteral("写入配置"), QRect(248, 377, 123, 25));
  Button1->setEnabled(false);
  // Label14's colons stand between the hardware-address parts, behind edtHAddr1.
  // The blanks are as wide as in the design face (8 pixels), so the second
  // colon lands in the gap before edtHAddr2 whatever face stands in.
  Label14->setBlankWidth(8);
  Label14->lower();

  ListBox1 = new TListBox(this, QRect(0, 0, 160, 419), devices_);

  UDPServer = std::make_unique<net::TIdUDPServer>(handOver_->handOver());
  UDPServer->DefaultPort = device::protocol::kBroadcastPort;
  UDPServer->BroadcastEnabled = true;
  UDPServer->BufferSize = 8192;
  IdIPMCastClient1 = std::make_unique<net::TIdIPMCastClient>(handOver_->handOver());
  IdIPMCastClient1->MulticastGroup = device::protocol::kGroup;
  IdIPMCastClient1->DefaultPort = device::protocol::kGroupPort;
  IdIPMCastClient1->BufferSize = 8192;
  UDPClient = std::make_unique<net::TIdUDPClient>();
  UDPClient->Port = device::protocol::kSenderPort;
  UDPClient->BroadcastEnabled = false;
  UDPClient->ReservedPorts.assign(std::begin(device::protocol::kReservedSourcePorts),
                                  std::end(device::protocol::kReservedSourcePorts));

  // Tab order: the list, then the panel's controls in their own order, which
  // puts the address edits after the write button.
  std::vector<QWidget*> order = {ListBox1, CheckAuto, edtHAddr1, edtHAddr2, EdtServerPort, edtDeviceName, Button1};
  for (const AddressEdit& a : addressEdits_) order.push_back(a.edit);
  for (std::size_t i = 0; i + 1 < order.size(); ++i) setTabOrder(order[i], order[i + 1]);
  for (QWidget* w : {static_cast<QWidget*>(Panel1), static_cast<QWidget*>(Label13)})
    w->setFocusPolicy(Qt::NoFocus);
  ListBox1->setFocus();
}

TEdit* TForm1::NewAddressEdit(QWidget* panel, const char* key, const QRect& place) {
  auto* edit = new TEdit(panel, place, 15);
  addressEdits_.push_back({edit, &device::FieldOf(key)});
  return edit;
}

void TForm1::WireDispatchTable() {
  connect(ListBox1, &TListBox::click, this, [this] { Guard([&] { ListBox1Click(ListBox1); }); });
  connect(CheckAuto, &QCheckBox::toggled, this, [this] { Guard([&] { CheckAutoClick(CheckAuto); }); });
  for (const AddressEdit& a : addressEdits_) {
    TEdit* edit = a.edit;
    connect(edit, &QLineEdit::textChanged, this, [this, edit] { Guard([&] { edtPAddrChange(edit); }); });
    connect(edit, &TEdit::exited, this, [this, edit] { Guard([&] { edtPAddrExit(edit); }); });
  }
  for (TEdit* edit : {edtHAddr1, edtHAddr2}) {
    connect(edit, &QLineEdit::textChanged, this, [this, edit] { Guard([&] { edtPAddrChange(edit); }); });
    edit->OnKeyPress = [this, edit](QChar& key) { Guard([&] { edtHAddr1KeyPress(edit, key); }); };
    // A dropped text would pass by the filter: only a paste through the
    // context menu may bring other text in.
    edit->setAcceptDrops(false);
  }
  connect(EdtServerPort, &QLineEdit::textChanged, this,
          [this] { Guard([&] { edtPAddrChange(EdtServerPort); }); });
  connect(edtDeviceName, &QLineEdit::textChanged, this,
          [this] { Guard([&] { edtDeviceNameChange(edtDeviceName); }); });
  connect(edtDeviceName, &TEdit::exited, this, [this] { Guard([&] { edtDeviceNameExit(edtDeviceName); }); });
  connect(Button1, &QPushButton::clicked, this, [this] { Guard([&] { Button1Click(Button1); }); });

  // The read events run on the GUI thread through the hand-over, which
  // carries whatever they throw back to the receiving thread.
  UDPServer->OnUDPRead = [this](net::TIdUDPListenerThread* thread, const net::TIdBytes& data,
                                net::TIdSocketHandle& binding) {
    ++g_readEventCalls;
    UDPServerUDPRead(thread, data, binding);
  };
  IdIPMCastClient1->OnIPMCastRead = [this](net::TIdIPMCastClient* client, const net::TIdBytes& data,
                                           net::TIdSocketHandle& binding) {
    ++g_readEventCalls;
    IdIPMCastClient1IPMCastRead(client, data, binding);
  };
}

long long TForm1::ReadEventCalls() { return g_readEventCalls.load(); }

void TForm1::DeactivateEndpoints() noexcept {
  // Before any control is torn down; from here on no datagram reaches the
  // intake handler.
  shuttingDown_ = true;
  try {
    if (UDPServer) UDPServer->SetActive(false);
  } catch (...) {
  }
  try {
    if (IdIPMCastClient1) IdIPMCastClient1->SetActive(false);
  } catch (...) {
  }
  UDPServer.reset();
  IdIPMCastClient1.reset();
  UDPClient.reset();
}

void TForm1::showEvent(QShowEvent* e) {
  QWidget::showEvent(e);
  if (!e->spontaneous()) Guard([&] { FormShow(this); });
}

void TForm1::closeEvent(QCloseEvent* e) {
  // While the progress dialog stands over it the window is disabled, and a
  // close request from the window manager or the task bar changes nothing:
  // the write goes on.
  if (!isEnabled()) {
    e->ignore();
    return;
  }
  e->accept();
  QCoreApplication::quit();
}

void TForm1::FormShow(QObject*) {
  try {
    UDPServer->SetActive(true);
    IdIPMCastClient1->SetActive(true);
  } catch (const std::exception&) {
    ShowException(std::current_exception());
    QCoreApplication::exit(0);
  } catch (...) {
    QCoreApplication::exit(0);
  }
}

// ---- intake -------------------------------------------------------------

void TForm1::UDPServerUDPRead(net::TIdUDPListenerThread*, const net::TIdBytes& AData,
                              net::TIdSocketHandle& ABinding) {
  IdIPMCastClient1IPMCastRead(this, AData, ABinding);
}

void TForm1::IdIPMCastClient1IPMCastRead(const void* Sender, const net::TIdBytes& AData,
                                         net::TIdSocketHandle& ABinding) {
  if (shuttingDown_) return;
  ++intakeCalls_;
  // The working copy takes the buffer the previous datagram left behind, so
  // a datagram costs no allocation (nor the growth to the packet size while
  // a write is answered); a nested intake would simply make a new one.
  std::vector<std::uint8_t> work = std::move(spareWork_);
  work.assign(AData.begin(), AData.end());
  struct KeepBuffer {
    std::vector<std::uint8_t>& work;
    std::vector<std::uint8_t>& spare;
    ~KeepBuffer() { spare = std::move(work); }
  } keepBuffer{work, spareWork_};
  const engine::IntakeOutcome outcome = engine::Intake(work, devices_, ABinding.PeerAdapter.index);
  switch (outcome.result) {
    case engine::IntakeResult::Dropped:
      return;
    case engine::IntakeResult::NewDevice:
      if (devices_.Count() == 1) {
        ListBox1->setItemIndex(0);
        ListBox1Click(Sender);
      }
      return;
    case engine::IntakeResult::KnownDevice:
      if (outcome.index == ListBox1->ItemIndex()) ConfirmationStep(work, ABinding.PeerPort, ABinding.PeerAdapter);
      return;
  }
}

// A write is open while its progress dialog shows, the panel is disabled
// for it and its time has not run out.
bool TForm1::WriteOpen() const {
  return Form2 && Form2->isVisible() && !Panel1->testAttribute(Qt::WA_ForceDisabled) &&
         Form2->Position() < Form2->ProgressBar1->maximum();
}

// The answer leaves through the adapter the announcement came in on: on a
// laptop with Wi-Fi and a wired port, the system's own route for
// 255.255.255.255 is the Wi-Fi's, not the site LAN's.
void TForm1::ConfirmationStep(std::vector<std::uint8_t>& work, std::uint16_t peerPort,
                              const net::sock::Arrival& peerAdapter) {
  switch (engine::Confirm(WriteOpen(), FPendingConfig, work)) {
    case engine::ConfirmAction::None:
      return;
    case engine::ConfirmAction::Send:
      UDPClient->Broadcast(work, peerPort, "", peerAdapter);
      return;
    case engine::ConfirmAction::Success:
      // The write's entry is ended here, its outcome appended once this
      // datagram's handler has returned (the disk never delays an answer):
      // a copy of the confirming announcement on the other path finds no
      // entry open, and a next write may begin before the append runs.
      if (!journalEntry_.empty()) {
        confirmed_.push_back(std::exchange(journalEntry_, {}));
        QTimer::singleShot(0, this, [this] { Guard([&] { JournalConfirmed(); }); });
      }
      Form2->ProgressBar1->setVisible(false);
      Form2->Label1->setVisible(true);
      Form2->Button1->setVisible(true);
      Form2->Label1->setCaption(QStringLiteral("命令执行成功"));
      Form2->Timer1->stop();
      ListBox1Click(this);
      return;
  }
}

// ---- details panel -------------------------------------------------------

const device::DeviceEntry* TForm1::SelectedEntry() {
  const int index = ListBox1->ItemIndex();
  return index >= 0 && index < devices_.Count() ? &devices_.Entry(index) : nullptr;
}

void TForm1::SetEditText(QLineEdit* edit, const QString& text) {
  // Setting the text an edit already has is no change and fires nothing.
  if (edit->text() != text) edit->setText(text);
}

void TForm1::ListBox1Click(const void*) {
  Panel1->setEnabled(ListBox1->ItemIndex() >= 0);
  FLoading = true;
  // Lowered again on every way out, an exception's included.
  struct LoadingEnds {
    bool& loading;
    ~LoadingEnds() { loading = false; }
  } loadingEnds{FLoading};
  if (const device::DeviceEntry* entry = SelectedEntry()) {
    lblIdent->setCaption(ListBox1->Item(ListBox1->ItemIndex()));
    // The entry stays where it is while handlers run (lines appended meanwhile
    // do not move it), and it may be refreshed by an announcement handled
    // inside a message box: each step reads its field as it is then.
    const device::NetConfig& c = entry->Config;
    CheckAuto->setChecked(device::AutoIPToChecked(c.AutoIP));
    SetEditText(edtServerPAddr, Q(device::IPv4ToText(c.ServerPAddr)));
    SetEditText(EdtServerPort, Q(device::ServerPortToText(c.ServerPort)));
    const auto [fifth, sixth] = device::HAddrToTexts(c.HAddr);
    SetEditText(edtHAddr1, Q(fifth));
    SetEditText(edtHAddr2, Q(sixth));
    SetEditText(edtDeviceName, Q(device::DeviceNameToText(c)));
    Label15->setCaption(Q(device::FourthHAddrByteText(S(lblIdent->caption()), entry->HAddrFormat)));
  } else {
    lblIdent->setCaption(QString());
    for (QLineEdit* edit : {static_cast<QLineEdit*>(edtServerPAddr), static_cast<QLineEdit*>(EdtServerPort),
                            static_cast<QLineEdit*>(edtHAddr1), static_cast<QLineEdit*>(edtHAddr2),
                            static_cast<QLineEdit*>(edtDeviceName)})
      SetEditText(edit, QString());
  }
  CheckAutoClick(this);
  FLoading = false;
  Button1->setEnabled(false);
}

void TForm1::CheckAutoClick(QObject*) {
  std::vector<AddressEdit> group;
  for (const AddressEdit& a : addressEdits_)
    if (a.field->automatic) group.push_back(a);
  for (const AddressEdit& a : group) a.edit->setEnabled(!CheckAuto->isChecked());
  if (!Panel1->testAttribute(Qt::WA_ForceDisabled)) {
    if (CheckAuto->isChecked()) {
      for (const AddressEdit& a : group) SetEditText(a.edit, QString());
    } else if (const device::DeviceEntry* entry = SelectedEntry()) {
      const device::NetConfig shown = entry->Config;
      for (const AddressEdit& a : group) SetEditText(a.edit, Q(device::IPv4ToText(device::AddressOf(shown, *a.field))));
    }
  } else {
    for (const AddressEdit& a : group) SetEditText(a.edit, QString());
    Button1->setEnabled(false);
  }
  Button1->setEnabled(IsConfigChanged());
}

// ---- field editing -------------------------------------------------------

void TForm1::edtHAddr1KeyPress(QObject*, QChar& Key) {
  const char16_t c = Key.unicode();
  if (c == 8 || (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F')) return;
  if (c >= u'a' && c <= u'f') {
    Key = QChar(static_cast<char16_t>(c - u'a' + u'A'));
    return;
  }
  Key = QChar();
}

void TForm1::edtDeviceNameChange(QObject*) {
  Button1->setEnabled(IsConfigChanged());
  const std::string ansi = device::ToAnsi(S(edtDeviceName->text()));
  if (ansi.size() <= device::kDeviceNameBytes) return;
  // Cut at 30 bytes, whatever character that splits; the new text runs this
  // handler again, which re-evaluates the write button.
  const QString cut = Q(device::FromAnsi(std::string_view(ansi).substr(0, device::kDeviceNameBytes)));
  SetEditText(edtDeviceName, cut);
  edtDeviceName->setCursorPosition(static_cast<int>(edtDeviceName->text().size()));
}

void TForm1::edtDeviceNameExit(QObject*) {
  if (engine::DeviceNameAllowed(S(edtDeviceName->text()))) return;
  edtDeviceName->setFocus();
  throw ERangeError(engine::kEmptyDeviceName);
}

void TForm1::edtPAddrExit(QObject* Sender) {
  auto* edit = qobject_cast<QLineEdit*>(Sender);
  if (edit == nullptr) return;
  std::string text = device::ToAnsi(S(edit->text()));
  if (text.empty()) return;
  for (char& c : text)
    if (c == ' ') c = '0';
  SetEditText(edit, Q(device::IPv4ToText(device::IPv4FromText(device::FromAnsi(text)))));
}

void TForm1::edtPAddrChange(QObject*) { Button1->setEnabled(IsConfigChanged()); }

engine::PanelValues TForm1::ReadPanel() {
  engine::PanelValues panel;
  panel.autoChecked = CheckAuto->isChecked();
  panel.serverPAddr = S(edtServerPAddr->text());
  panel.serverPortValue = [this] { return EdtServerPort->Value(); };
  panel.hAddr1 = S(edtHAddr1->text());
  panel.hAddr2 = S(edtHAddr2->text());
  panel.deviceName = S(edtDeviceName->text());
  for (const AddressEdit& a : addressEdits_)
    if (a.field->automatic) panel.addresses.emplace_back(a.field, S(a.edit->text()));
  return panel;
}

bool TForm1::IsConfigChanged() {
  if (FLoading) return false;
  if (lblIdent->caption().isEmpty()) return false;
  const device::NetConfig shown = engine::PanelConfig(ReadPanel());
  const device::DeviceEntry* entry = SelectedEntry();
  return entry != nullptr && !device::SameConfig(shown, entry->Config);
}

// ---- configuration write -------------------------------------------------

void TForm1::BuildPendingConfig() {
  device::ZeroConfig(FPendingConfig);
  const engine::PanelValues panel = ReadPanel();
  if (!panel.autoChecked) {
    engine::FillAddressGroup(FPendingConfig, panel);
    if (!engine::DeviceAddressAllowed(FPendingConfig.PAddr)) {
      edtPAddr->setFocus();
      throw EValidation(engine::kAddressNotAllowed);
    }
  }
  engine::FillCommonFields(FPendingConfig, panel);
}

void TForm1::Button1Click(QObject*) {
  if (Panel1->testAttribute(Qt::WA_ForceDisabled)) return;
  BuildPendingConfig();
  // The journal's entry is on the disk before the first packet of the write,
  // which leaves at the device's next announcement. The write's record keeps
  // the format flag of the entry it replaces.
  if (const device::DeviceEntry* entry = SelectedEntry()) {
    journal::Write write;
    write.ident = devices_.Ident(ListBox1->ItemIndex());
    const unsigned adapter = devices_.Adapter(ListBox1->ItemIndex());
    write.adapter = {net::sock::AdapterName(adapter), adapter};
    write.before = *entry;
    write.after = device::DeviceEntry{FPendingConfig, entry->HAddrFormat};
    journalEntry_ = journal_.Begin(write);
  }
  Form2->SetPosition(0);
  Form2->ProgressBar1->setVisible(true);
  Form2->Timer1->start();
  Form2->Button1->setVisible(false);
  Form2->Label1->setVisible(false);
  Form2->show();
}

void TForm1::JournalConfirmed() {
  for (const std::string& entry : std::exchange(confirmed_, {})) journal_.End(entry, journal::kConfirmed);
}

void TForm1::JournalOutcome(std::string_view outcome) {
  if (journalEntry_.empty()) return;
  journal_.End(journalEntry_, outcome);
  journalEntry_.clear();
}

}  // namespace app
