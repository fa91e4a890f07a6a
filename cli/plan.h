// A commissioning plan: CSV (RFC 4180, UTF-8) with a header row naming the
// columns, an `identity` column and any of the write's fields (the keys of
// device::kFields) in any order; one row per device, an empty cell keeping
// the device's value.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cli/fields.h"

namespace cli {

struct PlanRow {
  int line = 0;  // where the row begins in the file
  std::uint64_t ident = 0;
  Changes changes;
};

// Reads and checks the whole plan. Throws Failure (exit 1) listing every
// problem with its line number: not UTF-8, not CSV, empty, unknown or
// repeated column, bad value, name too long, repeated identity, two rows
// giving one IP address (unless 'sharedAddresses').
std::vector<PlanRow> ReadPlan(const std::string& path, bool sharedAddresses = false);
std::vector<PlanRow> ParsePlan(const std::string& text, const std::string& fileName, bool sharedAddresses = false);

// The plan as ReadPlan reads it: a header of `identity` and every field some
// row sets (in the table's order), then one row per device.
std::string PlanText(const std::vector<PlanRow>& rows);

}  // namespace cli
