// The main window: the device list on the left, the details panel on the
// right, the banner along the bottom, and the three network endpoints.
#pragma once

#include <QWidget>

#include <memory>
#include <vector>

#include "app/controls.h"
#include "device/field_table.h"
#include "device/netconfig.h"
#include "engine/device_list.h"
#include "engine/confirm.h"
#include "engine/intake.h"
#include "engine/panel.h"
#include "journal/journal.h"
#include "net/udp.h"
#include "widgets/cspin_edit.h"

namespace app {

class GuiHandOver;

class TForm1 : public QWidget {
  Q_OBJECT
 public:
  explicit TForm1(QWidget* owner = nullptr);
  ~TForm1() override;

  // Components, in declaration order.
  std::unique_ptr<net::TIdUDPServer> UDPServer;
  TListBox* ListBox1 = nullptr;
  TPanel* Panel1 = nullptr;
  TLabel* Label1 = nullptr;
  TLabel* Label2 = nullptr;
  TLabel* Label3 = nullptr;
  TLabel* Label4 = nullptr;
  TLabel* Label5 = nullptr;
  TLabel* Label6 = nullptr;
  TLabel* Label7 = nullptr;
  TLabel* Label8 = nullptr;
  TLabel* lblIdent = nullptr;
  TLabel* Label9 = nullptr;
  TCheckBox* CheckAuto = nullptr;
  TCSpinEdit* EdtServerPort = nullptr;
  TEdit* edtDeviceName = nullptr;
  TEdit* edtHAddr1 = nullptr;
  TEdit* edtHAddr2 = nullptr;
  TLabel* Label10 = nullptr;
  TLabel* Label11 = nullptr;
  TBevel* Bevel1 = nullptr;
  TButton* Button1 = nullptr;
  TLabel* Label12 = nullptr;
  TLabel* Label13 = nullptr;
  std::unique_ptr<net::TIdIPMCastClient> IdIPMCastClient1;
  std::unique_ptr<net::TIdUDPClient> UDPClient;
  TEdit* edtPAddr = nullptr;
  TEdit* edtSubNetMask = nullptr;
  TEdit* edtGatePAddr = nullptr;
  TEdit* edtDNS1PAddr = nullptr;
  TEdit* edtDNS2PAddr = nullptr;
  TEdit* edtServerPAddr = nullptr;
  TLabel* Label14 = nullptr;
  TLabel* Label15 = nullptr;

  // Event handlers.
  void UDPServerUDPRead(net::TIdUDPListenerThread* AThread, const net::TIdBytes& AData,
                        net::TIdSocketHandle& ABinding);
  // Sender: the object that raised the event; for the intake and the panel
  // fill that may be a network component, which is no QObject.
  void ListBox1Click(const void* Sender);
  void edtHAddr1KeyPress(QObject* Sender, QChar& Key);
  void CheckAutoClick(QObject* Sender);
  void edtDeviceNameChange(QObject* Sender);
  void edtDeviceNameExit(QObject* Sender);
  void Button1Click(QObject* Sender);
  void FormShow(QObject* Sender);
  void IdIPMCastClient1IPMCastRead(const void* Sender, const net::TIdBytes& AData,
                                   net::TIdSocketHandle& ABinding);
  void edtPAddrExit(QObject* Sender);
  void edtPAddrChange(QObject* Sender);

  device::NetConfig FPendingConfig{};
  bool FLoading = false;

  bool IsConfigChanged();
  void BuildPendingConfig();

  // The device list behind ListBox1.
  engine::DeviceList& Devices() { return devices_; }
  const device::DeviceEntry* SelectedEntry();
  // Intake handler calls so far (diagnostics and tests).
  long long IntakeCalls() const { return intakeCalls_; }
  // Calls of the two read events over all windows, counted as they are
  // entered. None comes once shutdown has begun (the endpoints guarantee it,
  // and the intake handler would refuse one).
  static long long ReadEventCalls();
  GuiHandOver& HandOverObject() { return *handOver_; }
  // Appends the outcome of the write journaled at the press of the write
  // button (once; nothing when none is open or the journal failed).
  void JournalOutcome(std::string_view outcome);

 protected:
  void showEvent(QShowEvent* e) override;
  void closeEvent(QCloseEvent* e) override;

 private:
  void BuildLayout();
  void WireDispatchTable();
  void DeactivateEndpoints() noexcept;
  engine::PanelValues ReadPanel();
  bool WriteOpen() const;
  void ConfirmationStep(std::vector<std::uint8_t>& work, std::uint16_t peerPort, const net::sock::Arrival& peerAdapter);
  void SetEditText(QLineEdit* edit, const QString& text);
  void JournalConfirmed();  // appends the outcome of the writes confirmed since
  // An address edit at 'place' on the panel, showing the record field 'key'.
  TEdit* NewAddressEdit(QWidget* panel, const char* key, const QRect& place);

  // Each address edit with the record field it shows, in tab order. Those
  // whose field is automatic form the address group, which automatic
  // addressing clears and disables.
  struct AddressEdit {
    TEdit* edit;
    const device::Field* field;
  };
  std::vector<AddressEdit> addressEdits_;

  engine::DeviceList devices_;
  // The intake's working buffer between datagrams (its content is dead).
  std::vector<std::uint8_t> spareWork_;
  GuiHandOver* handOver_ = nullptr;
  long long intakeCalls_ = 0;
  bool shuttingDown_ = false;
  // Every write leaves an entry in the user's journal; the window never
  // reads it, and one that cannot be written changes nothing here.
  journal::Journal journal_{"orven-setup", "window"};
  std::string journalEntry_;           // the open write's entry
  std::vector<std::string> confirmed_;  // entries confirmed, their outcome not yet appended
};

// The two windows, created at start-up.
extern TForm1* Form1;
class TForm2;
extern TForm2* Form2;

}  // namespace app
