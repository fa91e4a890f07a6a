#include "device/field_table.h"

#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "device/fields.h"

namespace device {

namespace {

const unsigned char* At(const NetConfig& config, const Field& field) {
  return reinterpret_cast<const unsigned char*>(&config) + field.offset;
}
unsigned char* At(NetConfig& config, const Field& field) {
  return reinterpret_cast<unsigned char*>(&config) + field.offset;
}

}  // namespace

const Field* FindField(std::string_view key) {
  for (const Field& field : kFields)
    if (key == field.key) return &field;
  return nullptr;
}

const Field& FieldOf(std::string_view key) {
  if (const Field* field = FindField(key)) return *field;
  throw std::logic_error("no record field '" + std::string(key) + "'");
}

std::uint32_t AddressOf(const NetConfig& config, const Field& field) {
  std::uint32_t value;
  std::memcpy(&value, At(config, field), sizeof value);
  return value;
}

void SetAddress(NetConfig& config, const Field& field, std::uint32_t networkOrder) {
  std::memcpy(At(config, field), &networkOrder, sizeof networkOrder);
}

std::string FieldText(const NetConfig& config, const Field& field) {
  switch (field.kind) {
    case FieldKind::Switch: return AutoIPToChecked(*At(config, field)) ? "on" : "off";
    case FieldKind::Address: return IPv4ToText(AddressOf(config, field));
    case FieldKind::Port: {
      std::uint16_t port;
      std::memcpy(&port, At(config, field), sizeof port);
      return ServerPortToText(port);
    }
    case FieldKind::HardwareByte: {
      char text[3];
      std::snprintf(text, sizeof text, "%02X", static_cast<unsigned>(*At(config, field)));
      return text;
    }
    case FieldKind::Name: return DeviceNameToText(config);
  }
  return {};
}

void SetFieldText(NetConfig& config, const Field& field, std::string_view text) {
  switch (field.kind) {
    case FieldKind::Switch: *At(config, field) = AutoIPFromChecked(text == "on"); return;
    case FieldKind::Address: SetAddress(config, field, IPv4FromText(text)); return;
    case FieldKind::Port: {
      const std::uint16_t port = ServerPortFromValue(StrToInt(text));
      std::memcpy(At(config, field), &port, sizeof port);
      return;
    }
    case FieldKind::HardwareByte: *At(config, field) = static_cast<unsigned char>(HexEditValue(text)); return;
    case FieldKind::Name: DeviceNameFromText(config, text); return;
  }
}

}  // namespace device
