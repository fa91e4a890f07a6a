#include "engine/intake.h"

#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "device/fields.h"
#include "device/protocol.h"

namespace engine {

namespace proto = device::protocol;

namespace {

// The record the library points at, or null when those 60 bytes would not
// lie wholly inside the datagram: nothing is ever read outside it, whatever
// the library answers.
device::NetConfig* AnnouncedConfig(std::vector<std::uint8_t>& work) {
  device::NetConfig* config = proto::ReadNetConfigration(work.data());
  const auto begin = reinterpret_cast<std::uintptr_t>(work.data());
  const auto at = reinterpret_cast<std::uintptr_t>(config);
  if (at < begin || at - begin > work.size() || work.size() - (at - begin) < device::kNetConfigSize)
    return nullptr;
  return config;
}

}  // namespace

IntakeOutcome Intake(std::vector<std::uint8_t>& work, DeviceList& list) {
  if (work.empty()) return {};
  const std::int32_t kind = proto::PreparePackage(work.data(), static_cast<std::int32_t>(work.size()));
  if (kind != proto::kAnnouncement && kind != proto::kAnnouncementAfterWrite) return {};

  const std::uint64_t ident = proto::GetDeviceIdent(work.data());
  const int index = list.IndexOf(ident);
  const device::NetConfig* announced = AnnouncedConfig(work);
  if (announced == nullptr) return {};
  if (index < 0) {
    // HAddrFormat is byte 2 of the buffer; a datagram too short to hold it
    // makes no entry.
    if (work.size() < 3) return {};
    device::DeviceEntry entry;
    device::CopyConfig(entry.Config, announced);
    entry.HAddrFormat = work[2];
    return {IntakeResult::NewDevice, list.Append(ident, entry)};
  }
  device::CopyConfig(list.Entry(index).Config, announced);
  return {IntakeResult::KnownDevice, index};
}

ConfirmAction Confirm(const ConfirmGate& gate, const device::NetConfig& pending,
                      std::vector<std::uint8_t>& work) {
  if (!gate.dialogVisible || !gate.panelEnabled || !(gate.position < gate.maximum))
    return ConfirmAction::None;
  const device::NetConfig* announced = AnnouncedConfig(work);
  if (announced == nullptr) return ConfirmAction::None;
  if (device::SameConfig(pending, announced)) return ConfirmAction::Success;

  work.resize(proto::kSendBufferSize, 0);
  // The address is asked for again: the buffer may have moved.
  device::NetConfig* target = AnnouncedConfig(work);
  if (target == nullptr) return ConfirmAction::None;
  std::memcpy(target, &pending, device::kNetConfigSize);
  const std::int32_t length = proto::SendNetConfigration(work.data());
  if (length < 1 || static_cast<std::size_t>(length) > proto::kSendBufferSize)
    throw std::runtime_error("configuration-set packet length out of range");
  work.resize(static_cast<std::size_t>(length));
  return ConfirmAction::Send;
}

std::string FourthHAddrByteText(const std::string& identText, std::uint8_t hAddrFormat) {
  char text[3];
  if (hAddrFormat == 1) {
    // The identity text is at most 16 hexadecimal digits, so this cannot fail.
    std::uint64_t value = 0;
    for (char c : identText) {
      const int digit = (c >= '0' && c <= '9') ? c - '0'
                        : (c >= 'A' && c <= 'F') ? c - 'A' + 10
                        : (c >= 'a' && c <= 'f') ? c - 'a' + 10
                                                 : 0;
      value = (value << 4) | static_cast<std::uint64_t>(digit);
    }
    std::uint8_t low[7];
    for (int i = 0; i < 7; ++i) low[i] = static_cast<std::uint8_t>(value >> (8 * i));
    std::snprintf(text, sizeof text, "%02X", device::ByteSum(low, 7));
    return text;
  }
  if (identText.size() >= 2 && (identText[0] == 'F' || identText[0] == 'f') &&
      (identText[1] == 'F' || identText[1] == 'f'))
    return identText.size() > 8 ? identText.substr(8, 2) : std::string();
  return "06";
}

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

bool DeviceAddressAllowed(std::uint32_t pAddrNetworkOrder) {
  // Network byte order: the first number of the dotted text is the lowest byte in memory.
  std::uint8_t bytes[4];
  std::memcpy(bytes, &pAddrNetworkOrder, 4);
  const int first = bytes[0];
  return (first >= 1 && first <= 126) || (first >= 128 && first <= 223);
}

device::NetConfig PanelConfig(const PanelValues& panel) {
  device::NetConfig config;
  device::ZeroConfig(config);
  FillCommonFields(config, panel);
  if (!panel.autoChecked) FillAddressGroup(config, panel);
  return config;
}

}  // namespace engine
