// The device fields as the command line shows and takes them: the columns of
// a listed device, and the checked values (from options or a plan's cells)
// of a write. The record's own fields come from device::kFields.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "device/field_table.h"
#include "device/netconfig.h"

namespace cli {

// What a run heard of one device besides its record.
struct Heard {
  std::string sourceAddress;
  std::uint16_t sourcePort = 0;  // of the latest announcement
  bool broadcast = false;        // heard on port 60080
  bool multicast = false;        // heard on the group
  std::uint64_t announcements = 0;
  unsigned adapterIndex = 0;     // the adapter of the latest announcement (0: not told)
  std::string adapter;           // its name (empty: not known)
};

// One output field: its documented name, its text, and whether JSON shows it
// as a number.
struct Field {
  std::string name;
  std::string text;
  bool number = false;
};
using Row = std::vector<Field>;

// A listed device.
struct Listed {
  const std::string& ident;
  const device::DeviceEntry& entry;
  const Heard& heard;
};

// One column of list and watch.
struct Column {
  std::string name;
  std::string values;  // for the help: what it holds, when the name does not say
  bool number = false;  // a number in JSON
  bool heard = false;   // tells of the announcements, not of the record
  std::function<std::string(const Listed&)> text;
};

// The identity, what was heard, then the record's fields in the table's
// order, the two hardware-address bytes shown as one mac column of all six.
const std::vector<Column>& DeviceColumns();
std::vector<std::string> DeviceFieldNames();
Row DeviceFields(const Listed& device);
// The identity and the record's fields only (a record that was not heard).
Row RecordFields(const std::string& ident, const device::DeviceEntry& entry);
std::vector<std::string> Names(const Row& row);

// The changes a write makes, one per row of device::kFields, each already
// checked and in the form device::SetFieldText takes. Unset fields keep the
// device's value.
struct Changes {
  std::array<std::optional<std::string>, device::kFields.size()> values;
  const std::optional<std::string>& operator[](std::string_view key) const;
};

// Checks one value for its field and stores it in 'changes'. Returns an
// empty text when it is good, otherwise what is wrong (naming the field).
std::string SetChange(Changes& changes, const std::string& field, const std::string& value);
// A combination that cannot be written as asked (addresses with auto on).
std::string CheckCombination(const Changes& changes);

// Four decimal parts 0-255 without leading zeros.
bool IsDottedQuad(const std::string& text);

// The identity given by the user: 1 to 16 hexadecimal digits.
bool ParseIdentity(const std::string& text, std::uint64_t& ident);

// The record a write sends: the device's record with the changes applied
// (the addresses cleared under automatic addressing, as the window clears
// them). Returns an empty text, or why the window's rules refuse it (naming
// the field).
std::string BuildPending(const device::DeviceEntry& current, const Changes& changes,
                         device::NetConfig& pending);

}  // namespace cli
