#include "cli/fields.h"

#include <cctype>

#include "device/codepage.h"
#include "device/fields.h"
#include "device/display.h"
#include "engine/panel.h"
#include "engine/rules.h"

namespace cli {

namespace {

// Four decimal parts 0-255 without leading zeros: the platform's parser
// would read "010" as octal and "1.2" as 1.0.0.2, which the technician did
// not mean.
bool IsDottedQuad(const std::string& text) {
  int parts = 0;
  std::size_t i = 0;
  while (true) {
    const std::size_t start = i;
    int value = 0;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) {
      value = value * 10 + (text[i] - '0');
      if (value > 255) return false;
      ++i;
    }
    const std::size_t digits = i - start;
    if (digits == 0 || (digits > 1 && text[start] == '0')) return false;
    ++parts;
    if (i == text.size()) return parts == 4;
    if (text[i] != '.' || parts == 4) return false;
    ++i;
  }
}

bool IsHexDigits(const std::string& text, std::size_t most) {
  if (text.empty() || text.size() > most) return false;
  for (char c : text)
    if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
  return true;
}

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

}  // namespace

std::vector<Field> DeviceFields(const engine::DeviceList& list, int index, const Heard& heard) {
  const device::DeviceEntry& entry = list.Entry(index);
  const device::NetConfig& c = entry.Config;
  const std::string ident = list.Text(index);
  const auto [fifth, sixth] = device::HAddrToTexts(c.HAddr);
  const char* via = heard.broadcast && heard.multicast ? "both" : heard.multicast ? "multicast" : "broadcast";
  return {
      {"identity", ident},
      {"source_address", heard.sourceAddress},
      {"source_port", std::to_string(heard.sourcePort), true},
      {"heard_via", via},
      {"announcements", std::to_string(heard.announcements), true},
      {"format_flag", std::to_string(entry.HAddrFormat), true},
      {"auto", device::AutoIPToChecked(c.AutoIP) ? "on" : "off"},
      {"ip", device::IPv4ToText(c.PAddr)},
      {"mask", device::IPv4ToText(c.SubNetMask)},
      {"gateway", device::IPv4ToText(c.GatePAddr)},
      {"dns1", device::IPv4ToText(c.DNS1PAddr)},
      {"dns2", device::IPv4ToText(c.DNS2PAddr)},
      {"server", device::IPv4ToText(c.ServerPAddr)},
      {"port", device::ServerPortToText(c.ServerPort)},
      {"mac", "00:04:A3:" + device::FourthHAddrByteText(ident, entry.HAddrFormat) + ":" + fifth + ":" + sixth},
      {"name", device::DeviceNameToText(c)},
  };
}

const std::vector<std::string>& ChangeNames() {
  static const std::vector<std::string> names = {"ip",   "mask", "gateway", "dns1", "dns2", "server",
                                                 "port", "mac5", "mac6",    "name", "auto"};
  return names;
}

std::string SetChange(Changes& changes, const std::string& field, const std::string& value) {
  std::optional<std::string>* address = field == "ip"        ? &changes.ip
                                        : field == "mask"    ? &changes.mask
                                        : field == "gateway" ? &changes.gateway
                                        : field == "dns1"    ? &changes.dns1
                                        : field == "dns2"    ? &changes.dns2
                                        : field == "server"  ? &changes.server
                                                             : nullptr;
  if (address != nullptr) {
    if (!IsDottedQuad(value)) return field + ": '" + value + "' is not an IPv4 address like 192.168.1.10";
    *address = value;
    return {};
  }
  if (field == "port") {
    const bool digits = !value.empty() && value.size() <= 5 &&
                        value.find_first_not_of("0123456789") == std::string::npos;
    if (!digits || std::stoi(value) < 1 || std::stoi(value) > 65535)
      return "port: '" + value + "' is not a port number from 1 to 65535";
    changes.port = std::to_string(std::stoi(value));
    return {};
  }
  if (field == "mac5" || field == "mac6") {
    if (!IsHexDigits(value, 2)) return field + ": '" + value + "' is not one or two hexadecimal digits";
    (field == "mac5" ? changes.mac5 : changes.mac6) = Upper(value);
    return {};
  }
  if (field == "name") {
    if (!engine::DeviceNameAllowed(value)) return std::string("name: ") + engine::kEmptyDeviceName;
    const std::string ansi = device::ToAnsi(value);
    if (device::FromAnsi(ansi) != value)
      return "name: '" + value + "' holds characters that code page 936 cannot carry";
    if (ansi.size() > device::kDeviceNameBytes)
      return "name: '" + value + "' is " + std::to_string(ansi.size()) + " bytes in code page 936; at most " +
             std::to_string(device::kDeviceNameBytes) + " fit";
    changes.name = value;
    return {};
  }
  if (field == "auto") {
    if (value != "on" && value != "off") return "auto: '" + value + "' is neither on nor off";
    changes.autoIP = value == "on";
    return {};
  }
  return "unknown field '" + field + "'";
}

std::string CheckCombination(const Changes& changes) {
  if (changes.autoIP.value_or(false)) {
    const std::pair<const char*, const std::optional<std::string>*> addresses[] = {
        {"ip", &changes.ip}, {"mask", &changes.mask}, {"gateway", &changes.gateway},
        {"dns1", &changes.dns1}, {"dns2", &changes.dns2}};
    for (const auto& [name, value] : addresses)
      if (value->has_value())
        return std::string(name) + ": automatic addressing leaves the addresses unset, so " + name +
               " cannot be given with auto on";
  }
  return {};
}

bool ParseIdentity(const std::string& text, std::uint64_t& ident) {
  if (!IsHexDigits(text, 16)) return false;
  ident = std::stoull(text, nullptr, 16);
  return true;
}

std::string BuildPending(const device::DeviceEntry& current, const Changes& changes,
                         device::NetConfig& pending) {
  // The panel as the window fills it from the device's record, then the
  // changes typed over it.
  const device::NetConfig& c = current.Config;
  const auto [fifth, sixth] = device::HAddrToTexts(c.HAddr);
  engine::PanelValues panel;
  panel.autoChecked = changes.autoIP.value_or(device::AutoIPToChecked(c.AutoIP));
  panel.serverPAddr = changes.server.value_or(device::IPv4ToText(c.ServerPAddr));
  const std::int32_t port = changes.port ? device::StrToInt(*changes.port) : c.ServerPort;
  panel.serverPortValue = [port] { return port; };
  panel.hAddr1 = changes.mac5.value_or(fifth);
  panel.hAddr2 = changes.mac6.value_or(sixth);
  panel.deviceName = changes.name.value_or(device::DeviceNameToText(c));
  panel.pAddr = changes.ip.value_or(device::IPv4ToText(c.PAddr));
  panel.subNetMask = changes.mask.value_or(device::IPv4ToText(c.SubNetMask));
  panel.gatePAddr = changes.gateway.value_or(device::IPv4ToText(c.GatePAddr));
  panel.dns1PAddr = changes.dns1.value_or(device::IPv4ToText(c.DNS1PAddr));
  panel.dns2PAddr = changes.dns2.value_or(device::IPv4ToText(c.DNS2PAddr));
  pending = engine::PanelConfig(panel);
  if (!panel.autoChecked && !engine::DeviceAddressAllowed(pending.PAddr))
    return std::string("ip: ") + engine::kAddressNotAllowed + " (" + (panel.pAddr.empty() ? std::string("empty") : panel.pAddr) + ")";
  return {};
}

}  // namespace cli
