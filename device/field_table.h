// The record's fields as one table: one row per field the technician sets,
// with its key (as orven-cli's options, plans and listings name it), its
// kind, its place in the record and its help text. Everything that walks the
// fields one by one (orven-cli's options, plan and output columns, the
// window's address edits) walks this table, so a new field is one row here.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "device/netconfig.h"

namespace device {

enum class FieldKind {
  Switch,        // one byte; nonzero is on
  Address,       // IPv4, network byte order; 0 is not set
  Port,          // 16 bits, little-endian
  HardwareByte,  // one byte of the hardware address
  Name,          // the device name in the ANSI code page
};

struct Field {
  const char* key;
  FieldKind kind;
  std::size_t offset;  // where the field lies in the record
  bool automatic;      // an address the device takes for itself under automatic addressing
  const char* help;
};

// In the order the listings show them. HAddr holds the sixth hardware-address
// byte first, then the fifth.
inline constexpr std::array kFields = {
    Field{"auto", FieldKind::Switch, offsetof(NetConfig, AutoIP), false, "automatic addressing: on or off"},
    Field{"ip", FieldKind::Address, offsetof(NetConfig, PAddr), true, "device address"},
    Field{"mask", FieldKind::Address, offsetof(NetConfig, SubNetMask), true, "subnet mask"},
    Field{"gateway", FieldKind::Address, offsetof(NetConfig, GatePAddr), true, "gateway"},
    Field{"dns1", FieldKind::Address, offsetof(NetConfig, DNS1PAddr), true, "first DNS server"},
    Field{"dns2", FieldKind::Address, offsetof(NetConfig, DNS2PAddr), true, "second DNS server"},
    Field{"server", FieldKind::Address, offsetof(NetConfig, ServerPAddr), false, "central server's address"},
    Field{"port", FieldKind::Port, offsetof(NetConfig, ServerPort), false, "central server's port (1-65535)"},
    Field{"mac5", FieldKind::HardwareByte, offsetof(NetConfig, HAddr) + 1, false,
          "fifth hardware-address byte (hexadecimal)"},
    Field{"mac6", FieldKind::HardwareByte, offsetof(NetConfig, HAddr), false,
          "sixth hardware-address byte (hexadecimal)"},
    Field{"name", FieldKind::Name, offsetof(NetConfig, DeviceName), false,
          "device name (at most 30 bytes in code page 936; longer is refused, not cut)"},
};

// The row of a key; nullptr for a key no row has.
const Field* FindField(std::string_view key);
// The row of a key the program itself names (it must exist).
const Field& FieldOf(std::string_view key);

// The field's value as text: an address as its dotted quad ("" when not
// set), a port in decimal, a hardware byte as two upper-case hexadecimal
// digits, a name converted from the ANSI code page, a switch "on" or "off".
std::string FieldText(const NetConfig& config, const Field& field);
// Stores a text of the form FieldText gives (checked by the caller); a name
// is converted to the ANSI code page and cut at 30 bytes.
void SetFieldText(NetConfig& config, const Field& field, std::string_view text);

std::uint32_t AddressOf(const NetConfig& config, const Field& field);
void SetAddress(NetConfig& config, const Field& field, std::uint32_t networkOrder);

}  // namespace device
