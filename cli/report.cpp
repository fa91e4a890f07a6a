#include "cli/report.h"

#include <algorithm>
#include <cstdio>
#include <sstream>

#include "cli/output.h"
#include "device/field_table.h"
#include "device/fields.h"

namespace cli {

std::vector<Change> ChangedFields(const device::NetConfig& before, const device::NetConfig& after) {
  std::vector<Change> changes;
  for (const device::Field& field : device::kFields) {
    std::string was = device::FieldText(before, field), is = device::FieldText(after, field);
    if (was != is) changes.push_back({field.key, std::move(was), std::move(is)});
  }
  return changes;
}

std::string ChangesText(const std::vector<Change>& changes) {
  std::string text;
  for (const Change& c : changes)
    text += (text.empty() ? "" : ", ") + c.field + " " + (c.before.empty() ? "(none)" : c.before) + " \u2192 " +
            (c.after.empty() ? "(none)" : c.after);
  return text.empty() ? "no change" : text;
}

std::string ReportText(const std::vector<Outcome>& outcomes) {
  const std::vector<std::string> recordFields = Names(RecordFields("", device::DeviceEntry{}));
  std::vector<std::string> header{"identity", "result", "seconds"};
  for (std::size_t f = 1; f < recordFields.size(); ++f) {  // after the identity
    header.push_back(recordFields[f] + "_before");
    header.push_back(recordFields[f] + "_after");
  }
  header.push_back("confirmed_at");

  std::vector<Row> rows;
  char seconds[32];
  for (const Outcome& o : outcomes) {
    const std::string ident = device::IdentityText(o.ident);
    std::snprintf(seconds, sizeof seconds, "%.1f", o.seconds);
    Row row{{"identity", ident}, {"result", o.result}, {"seconds", seconds}};
    const Row before = o.before ? RecordFields(ident, *o.before) : Row{};
    const Row after = o.after ? RecordFields(ident, *o.after) : Row{};
    for (std::size_t f = 1; f < recordFields.size(); ++f) {
      row.push_back({recordFields[f] + "_before", o.before ? before[f].text : ""});
      row.push_back({recordFields[f] + "_after", o.after ? after[f].text : ""});
    }
    row.push_back({"confirmed_at", o.confirmedAt});
    rows.push_back(std::move(row));
  }
  std::ostringstream out;
  WriteCsv(out, header, rows);
  return out.str();
}

std::vector<PlanRow> UndoRows(const std::vector<Outcome>& outcomes, std::vector<std::string>& skipped) {
  std::vector<PlanRow> rows;
  for (const Outcome& o : outcomes) {
    if (!o.before || !o.after) continue;
    const device::NetConfig& was = o.before->Config;
    const bool wasAutomatic = device::AutoIPToChecked(was.AutoIP);
    PlanRow row;
    row.ident = o.ident;
    for (const device::Field& field : device::kFields) {
      const std::string previous = device::FieldText(was, field);
      if (previous == device::FieldText(o.after->Config, field) || (wasAutomatic && field.automatic)) continue;
      // An empty cell keeps a value; 0.0.0.0 clears an address.
      const std::string value = previous.empty() && field.kind == device::FieldKind::Address ? "0.0.0.0" : previous;
      if (std::string problem = SetChange(row.changes, field.key, value); !problem.empty())
        skipped.push_back(device::IdentityText(o.ident) + ": " + problem);
    }
    if (std::any_of(row.changes.values.begin(), row.changes.values.end(), [](const auto& v) { return v.has_value(); }))
      rows.push_back(std::move(row));
  }
  return rows;
}

}  // namespace cli
