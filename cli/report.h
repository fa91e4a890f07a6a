// What apply leaves behind: the report (one row per plan row with every
// field before and after) and the undo file (a plan writing the previous
// values back).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cli/plan.h"
#include "device/netconfig.h"

namespace cli {

// How the write of one plan row ended.
struct Outcome {
  std::uint64_t ident = 0;
  std::string result;  // as the result table shows it
  double seconds = 0;
  std::optional<device::DeviceEntry> before;  // the record heard before the write
  std::optional<device::DeviceEntry> after;   // the record confirmed
  std::string confirmedAt;                    // when it was confirmed (UTC, ISO 8601)
};

// One field a write changed, as orven-cli shows fields.
struct Change {
  std::string field;
  std::string before;
  std::string after;
};
// The record's fields (device::kFields) that differ between the two records.
std::vector<Change> ChangedFields(const device::NetConfig& before, const device::NetConfig& after);
// "ip 192.168.1.100 → 10.30.0.10, name A → B"; "no change" when none.
std::string ChangesText(const std::vector<Change>& changes);

// CSV (RFC 4180, UTF-8): identity, result, seconds, <field>_before and
// <field>_after for every record field of list, confirmed_at.
std::string ReportText(const std::vector<Outcome>& outcomes);

// For each confirmed device, the previous value of every field that the write
// changed (under automatic addressing only the switch: the addresses were
// the device's own). A value a plan cannot hold (an empty name) is left out
// and named in 'skipped'.
std::vector<PlanRow> UndoRows(const std::vector<Outcome>& outcomes, std::vector<std::string>& skipped);

}  // namespace cli
