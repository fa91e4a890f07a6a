#include "cli/fields.h"

#include <cctype>
#include <utility>

#include "device/codepage.h"
#include "device/fields.h"
#include "device/display.h"
#include "engine/panel.h"
#include "engine/rules.h"

namespace cli {

// No leading zeros: the platform's parser would read "010" as octal and
// "1.2" as 1.0.0.2, which the technician did not mean.
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

namespace {

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

std::size_t RowOf(const device::Field& field) { return static_cast<std::size_t>(&field - device::kFields.data()); }

// The value in the form the record conversions take, or what is wrong with it.
std::string Checked(const device::Field& field, const std::string& value, std::string& problem) {
  const std::string key = field.key;
  switch (field.kind) {
    case device::FieldKind::Address:
      if (!IsDottedQuad(value)) problem = key + ": '" + value + "' is not an IPv4 address like 192.168.1.10";
      return value;
    case device::FieldKind::Port: {
      const bool digits = !value.empty() && value.size() <= 5 &&
                          value.find_first_not_of("0123456789") == std::string::npos;
      if (!digits || std::stoi(value) < 1 || std::stoi(value) > 65535) {
        problem = key + ": '" + value + "' is not a port number from 1 to 65535";
        return value;
      }
      return std::to_string(std::stoi(value));
    }
    case device::FieldKind::HardwareByte:
      if (!IsHexDigits(value, 2)) problem = key + ": '" + value + "' is not one or two hexadecimal digits";
      return Upper(value);
    case device::FieldKind::Name: {
      if (!engine::DeviceNameAllowed(value)) {
        problem = key + ": " + engine::kEmptyDeviceName;
        return value;
      }
      const std::string ansi = device::ToAnsi(value);
      if (device::FromAnsi(ansi) != value)
        problem = key + ": '" + value + "' holds characters that code page 936 cannot carry";
      else if (ansi.size() > device::kDeviceNameBytes)
        problem = key + ": '" + value + "' is " + std::to_string(ansi.size()) + " bytes in code page 936; at most " +
                  std::to_string(device::kDeviceNameBytes) + " fit";
      return value;
    }
    case device::FieldKind::Switch:
      if (value != "on" && value != "off") problem = key + ": '" + value + "' is neither on nor off";
      return value;
  }
  return value;
}

std::string MacText(const Listed& d) {
  std::string mac = "00:04:A3:" + device::FourthHAddrByteText(d.ident, d.entry.HAddrFormat);
  for (const device::Field& field : device::kFields)
    if (field.kind == device::FieldKind::HardwareByte) mac += ":" + device::FieldText(d.entry.Config, field);
  return mac;
}

}  // namespace

const std::vector<Column>& DeviceColumns() {
  static const std::vector<Column> columns = [] {
    std::vector<Column> c = {
        {"identity", "", false, false, [](const Listed& d) { return d.ident; }},
        {"source_address", "", false, true, [](const Listed& d) { return d.heard.sourceAddress; }},
        {"source_port", "", true, true, [](const Listed& d) { return std::to_string(d.heard.sourcePort); }},
        {"heard_via", "broadcast|multicast|both", false, true,
         [](const Listed& d) -> std::string {
           return d.heard.broadcast && d.heard.multicast ? "both" : d.heard.multicast ? "multicast" : "broadcast";
         }},
        {"adapter", "", false, true, [](const Listed& d) { return d.heard.adapter; }},
        {"adapter_index", "", true, true,
         [](const Listed& d) { return std::to_string(d.heard.adapterIndex); }},
        {"announcements", "", true, true, [](const Listed& d) { return std::to_string(d.heard.announcements); }},
        {"format_flag", "", true, true, [](const Listed& d) { return std::to_string(d.entry.HAddrFormat); }},
    };
    bool mac = false;
    for (const device::Field& field : device::kFields) {
      if (field.kind == device::FieldKind::HardwareByte) {
        if (!std::exchange(mac, true))
          c.push_back({"mac", "all six bytes, the fourth derived as the window shows it", false, false, MacText});
        continue;
      }
      c.push_back({field.key, field.kind == device::FieldKind::Switch ? "on|off" : "", false, false,
                   [&field](const Listed& d) { return device::FieldText(d.entry.Config, field); }});
    }
    return c;
  }();
  return columns;
}

std::vector<std::string> DeviceFieldNames() {
  std::vector<std::string> names;
  for (const Column& column : DeviceColumns()) names.push_back(column.name);
  return names;
}

Row DeviceFields(const Listed& device) {
  Row row;
  for (const Column& column : DeviceColumns()) row.push_back({column.name, column.text(device), column.number});
  return row;
}

Row RecordFields(const std::string& ident, const device::DeviceEntry& entry) {
  const Heard nothing;
  const Listed device{ident, entry, nothing};
  Row row;
  for (const Column& column : DeviceColumns())
    if (!column.heard) row.push_back({column.name, column.text(device), column.number});
  return row;
}

std::vector<std::string> Names(const Row& row) {
  std::vector<std::string> names;
  for (const Field& f : row) names.push_back(f.name);
  return names;
}

const std::optional<std::string>& Changes::operator[](std::string_view key) const {
  return values[RowOf(device::FieldOf(key))];
}

std::string SetChange(Changes& changes, const std::string& key, const std::string& value) {
  const device::Field* field = device::FindField(key);
  if (field == nullptr) return "unknown field '" + key + "'";
  std::string problem;
  std::string checked = Checked(*field, value, problem);
  if (problem.empty()) changes.values[RowOf(*field)] = std::move(checked);
  return problem;
}

std::string CheckCombination(const Changes& changes) {
  if (changes["auto"] != "on") return {};
  for (const device::Field& field : device::kFields)
    if (field.automatic && changes.values[RowOf(field)])
      return std::string(field.key) + ": automatic addressing leaves the addresses unset, so " + field.key +
             " cannot be given with auto on";
  return {};
}

bool ParseIdentity(const std::string& text, std::uint64_t& ident) {
  if (!IsHexDigits(text, 16)) return false;
  ident = std::stoull(text, nullptr, 16);
  return true;
}

std::string BuildPending(const device::DeviceEntry& current, const Changes& changes,
                         device::NetConfig& pending) {
  pending = current.Config;
  for (const device::Field& field : device::kFields)
    if (const auto& value = changes.values[RowOf(field)]) device::SetFieldText(pending, field, *value);
  if (device::AutoIPToChecked(pending.AutoIP)) {
    for (const device::Field& field : device::kFields)
      if (field.automatic) device::SetAddress(pending, field, 0);
    return {};
  }
  if (!engine::DeviceAddressAllowed(pending.PAddr)) {
    const std::string ip = changes["ip"].value_or(device::IPv4ToText(current.Config.PAddr));
    return std::string("ip: ") + engine::kAddressNotAllowed + " (" + (ip.empty() ? std::string("empty") : ip) + ")";
  }
  return {};
}

}  // namespace cli
