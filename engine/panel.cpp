#include "engine/panel.h"

#include "device/fields.h"

namespace engine {

void FillCommonFields(device::NetConfig& config, const PanelValues& panel) {
  config.AutoIP = device::AutoIPFromChecked(panel.autoChecked);
  if (!panel.serverPAddr.empty()) config.ServerPAddr = device::IPv4FromText(panel.serverPAddr);
  config.ServerPort = device::ServerPortFromValue(panel.serverPortValue ? panel.serverPortValue() : 0);
  config.HAddr = device::HAddrFromTexts(panel.hAddr1, panel.hAddr2);
  device::DeviceNameFromText(config, panel.deviceName);
}

void FillAddressGroup(device::NetConfig& config, const PanelValues& panel) {
  for (const auto& [field, text] : panel.addresses) device::SetAddress(config, *field, device::IPv4FromText(text));
}

device::NetConfig PanelConfig(const PanelValues& panel) {
  device::NetConfig config;
  device::ZeroConfig(config);
  FillCommonFields(config, panel);
  if (!panel.autoChecked) FillAddressGroup(config, panel);
  return config;
}

}  // namespace engine
