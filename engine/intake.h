// Decisions of the packet intake and of the write-and-confirm loop, as plain
// functions over plain values. The main window carries them out.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "device/field_table.h"
#include "device/netconfig.h"
#include "engine/device_list.h"

namespace engine {

enum class IntakeResult {
  Dropped,      // not an announcement (or too short to make an entry): nothing changed
  NewDevice,    // a line was appended
  KnownDevice,  // the device's stored record was refreshed
};

struct IntakeOutcome {
  IntakeResult result = IntakeResult::Dropped;
  int index = -1;  // the device's line, for NewDevice and KnownDevice
};

// One datagram: `work` must hold the handler's private copy of it. Asks the
// device library whether it is an announcement (kinds 255 and 252), keys the
// device by its identity and appends or refreshes its line. A new device's
// HAddrFormat is byte 2 of the buffer; a known device's is left alone.
IntakeOutcome Intake(std::vector<std::uint8_t>& work, DeviceList& list);

// What the confirmation step needs to know of the progress dialog and panel.
struct ConfirmGate {
  bool dialogVisible = false;
  bool panelEnabled = false;
  int position = 0;
  int maximum = 0;
};

enum class ConfirmAction {
  None,     // gate shut: nothing to do
  Send,     // `work` now holds the configuration-set packet to broadcast
  Success,  // the device announced exactly the pending record
};

// The confirmation step for an announcement of the selected device. On Send
// the buffer has been grown to 1500 bytes (zeros after the datagram), the
// pending record written where the library points, turned into a
// configuration-set packet and cut to the length the library returned.
// Throws std::runtime_error when the library returns a length outside
// 1..1500 (nothing is sent then).
ConfirmAction Confirm(const ConfirmGate& gate, const device::NetConfig& pending,
                      std::vector<std::uint8_t>& work);

// The fourth hardware-address byte shown beside the editable two: for
// HAddrFormat 1 the byte sum of the identity's seven low bytes, else for
// identities beginning "FF" their 9th and 10th characters, else "06".
std::string FourthHAddrByteText(const std::string& identText, std::uint8_t hAddrFormat);

// The panel's contents as the record conversions read them.
struct PanelValues {
  bool autoChecked = false;
  std::string serverPAddr;
  std::function<std::int32_t()> serverPortValue;  // read when needed (reading may repair the text)
  std::string hAddr1, hAddr2;
  std::string deviceName;
  // The texts of the address group's edits, each with the record field it
  // sets (the fields of device::kFields marked automatic).
  std::vector<std::pair<const device::Field*, std::string>> addresses;
};

// AutoIP, ServerPAddr, ServerPort, HAddr and DeviceName from the panel, in
// that order (HAddr may raise device::EConvertError).
void FillCommonFields(device::NetConfig& config, const PanelValues& panel);
// The address group from the panel; empty edits leave 0.
void FillAddressGroup(device::NetConfig& config, const PanelValues& panel);
// The device address a write may set: first byte 1-126 or 128-223.
bool DeviceAddressAllowed(std::uint32_t pAddrNetworkOrder);
// What a write says when the device address is not allowed.
inline constexpr const char* kAddressNotAllowed = "不允许设置此IP地址";
// A device name may not be empty (a blank is a name).
constexpr bool DeviceNameAllowed(std::string_view text) { return !text.empty(); }
inline constexpr const char* kEmptyDeviceName = "设备名称不能为空。";
// The record the panel shows, for the change check: zeroed, the common
// fields, then the addresses unless automatic addressing is checked.
device::NetConfig PanelConfig(const PanelValues& panel);

}  // namespace engine
