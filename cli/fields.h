// The device fields as the command line shows and takes them: the record
// conversions of the details panel for output, and the checked option
// values (from the command line or a plan's cells) for a write.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "device/netconfig.h"
#include "engine/device_list.h"

namespace cli {

// What a run heard of one device besides its record.
struct Heard {
  std::string sourceAddress;
  std::uint16_t sourcePort = 0;  // of the latest announcement
  bool broadcast = false;        // heard on port 60080
  bool multicast = false;        // heard on the group
  std::uint64_t announcements = 0;
};

// One output field: its documented name, its text, and whether JSON shows it
// as a number.
struct Field {
  std::string name;
  std::string text;
  bool number = false;
};

// The fields of a listed device, in output order: identity, source_address,
// source_port, heard_via, announcements, format_flag, auto, ip, mask,
// gateway, dns1, dns2, server, port, mac, name.
std::vector<Field> DeviceFields(const engine::DeviceList& list, int index, const Heard& heard);

// The changes a write makes, each already checked for its form. Unset
// fields keep the device's value.
struct Changes {
  std::optional<std::string> ip, mask, gateway, dns1, dns2, server;
  std::optional<std::string> port;        // decimal 1-65535
  std::optional<std::string> mac5, mac6;  // one or two hexadecimal digits
  std::optional<std::string> name;        // UTF-8, 1-30 bytes in code page 936
  std::optional<bool> autoIP;
};

// The names of the fields a write takes, as option names without the dashes
// and as plan columns: ip mask gateway dns1 dns2 server port mac5 mac6 name auto.
const std::vector<std::string>& ChangeNames();

// Checks one value for its field and stores it in 'changes'. Returns an
// empty text when it is good, otherwise what is wrong (naming the field).
std::string SetChange(Changes& changes, const std::string& field, const std::string& value);
// A combination that cannot be written as asked (addresses with --auto on).
std::string CheckCombination(const Changes& changes);

// The identity given by the user: 1 to 16 hexadecimal digits.
bool ParseIdentity(const std::string& text, std::uint64_t& ident);

// The record a write sends: the device's record read as the panel shows it,
// the changes applied, then built by the window's rules. Returns an empty
// text, or why the window's rules refuse it (naming the field).
std::string BuildPending(const device::DeviceEntry& current, const Changes& changes,
                         device::NetConfig& pending);

}  // namespace cli
