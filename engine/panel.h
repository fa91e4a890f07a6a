// The panel's texts turned into a record, through the record conversions of
// device/fields.h.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "device/field_table.h"
#include "device/netconfig.h"

namespace engine {

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
// The record the panel shows, for the change check: zeroed, the common
// fields, then the addresses unless automatic addressing is checked.
device::NetConfig PanelConfig(const PanelValues& panel);

}  // namespace engine
