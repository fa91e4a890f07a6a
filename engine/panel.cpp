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
  config.PAddr = device::IPv4FromText(panel.pAddr);
  config.SubNetMask = device::IPv4FromText(panel.subNetMask);
  config.GatePAddr = device::IPv4FromText(panel.gatePAddr);
  config.DNS1PAddr = device::IPv4FromText(panel.dns1PAddr);
  config.DNS2PAddr = device::IPv4FromText(panel.dns2PAddr);
}

device::NetConfig PanelConfig(const PanelValues& panel) {
  device::NetConfig config;
  device::ZeroConfig(config);
  FillCommonFields(config, panel);
  if (!panel.autoChecked) FillAddressGroup(config, panel);
  return config;
}

}  // namespace engine
