// orven-cli history: the journal's entries, newest first, each with what its
// write changed. Reads the journal only; sends nothing.
#include <iostream>
#include <memory>
#include <regex>

#include <nlohmann/json.hpp>

#include "cli/command.h"
#include "cli/exit_codes.h"
#include "cli/output.h"
#include "cli/report.h"
#include "device/field_table.h"
#include "device/fields.h"
#include "journal/journal.h"

namespace cli {

namespace {

struct HistoryOptions {
  std::string device;
  std::string since;
  std::string format = "table";
};

// A date (2026-01-31) or a UTC time (2026-01-31T09:05Z, 2026-01-31T09:05:00Z)
// in the journal's form, or empty when it is neither.
std::string SinceTime(const std::string& text) {
  static const std::regex form(R"((\d{4}-\d{2}-\d{2})(?:T(\d{2}:\d{2})(:\d{2})?Z)?)");
  std::smatch m;
  if (!std::regex_match(text, m, form)) return "";
  if (!m[2].matched) return m[1].str() + "T00:00:00Z";
  return m[1].str() + "T" + m[2].str() + (m[3].matched ? m[3].str() : ":00") + "Z";
}

std::string AdapterText(const journal::Adapter& adapter) {
  if (adapter.name.empty() && adapter.index == 0) return "";
  return adapter.name + (adapter.index ? " (" + std::to_string(adapter.index) + ")" : "");
}

std::string ByText(const journal::Entry& e) { return e.program + (e.command.empty() ? "" : " " + e.command); }

std::string OutcomeText(const journal::Entry& e) { return e.outcome.empty() ? "no outcome" : e.outcome; }

nlohmann::ordered_json RecordJson(const std::string& ident, const device::DeviceEntry& entry) {
  nlohmann::ordered_json object = nlohmann::ordered_json::object();
  const Row fields = RecordFields(ident, entry);
  for (std::size_t f = 1; f < fields.size(); ++f) object[fields[f].name] = fields[f].text;  // after the identity
  return object;
}

int RunHistory(const HistoryOptions& options) {
  std::uint64_t device = 0;
  if (!options.device.empty() && !ParseIdentity(options.device, device))
    throw Failure(kExitUsage, "--device: '" + options.device + "' is not 1 to 16 hexadecimal digits");
  const std::string since = options.since.empty() ? "" : SinceTime(options.since);
  if (!options.since.empty() && since.empty())
    throw Failure(kExitUsage, "--since: '" + options.since + "' is not a date (2026-01-31) or a UTC time (2026-01-31T09:05Z)");

  const std::string path = journal::DefaultPath();
  journal::Contents contents;
  if (std::string problem = journal::Read(path, contents); !problem.empty())
    throw Failure(kExitUsage, "the journal cannot be read: " + problem);
  for (const std::string& w : contents.warnings) std::cerr << "orven-cli: " << path << ": " << w << '\n';

  std::vector<const journal::Entry*> shown;
  for (auto it = contents.entries.rbegin(); it != contents.entries.rend(); ++it)
    if ((options.device.empty() || it->ident == device) && (since.empty() || it->time >= since)) shown.push_back(&*it);

  if (options.format == "json") {
    nlohmann::ordered_json array = nlohmann::ordered_json::array();
    for (const journal::Entry* e : shown) {
      const std::string ident = device::IdentityText(e->ident);
      nlohmann::ordered_json changes = nlohmann::ordered_json::array();
      for (const Change& c : ChangedFields(e->before.Config, e->after.Config))
        changes.push_back({{"field", c.field}, {"before", c.before}, {"after", c.after}});
      array.push_back({{"entry", e->id},
                       {"time", e->time},
                       {"identity", ident},
                       {"program", e->program},
                       {"version", e->version},
                       {"command", e->command},
                       {"workstation", e->workstation},
                       {"adapter", {{"name", e->adapter.name}, {"index", e->adapter.index}}},
                       {"undo_of", e->undoOf.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(e->undoOf)},
                       {"outcome", e->outcome.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(e->outcome)},
                       {"outcome_time", e->outcomeTime.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(e->outcomeTime)},
                       {"changes", changes},
                       {"before", RecordJson(ident, e->before)},
                       {"after", RecordJson(ident, e->after)}});
    }
    std::cout << array.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << '\n';
    return kExitSuccess;
  }

  std::vector<Row> rows;
  for (const journal::Entry* e : shown) {
    const std::string changes = ChangesText(ChangedFields(e->before.Config, e->after.Config));
    if (options.format == "csv")
      rows.push_back({{"entry", e->id}, {"time", e->time}, {"identity", device::IdentityText(e->ident)},
                      {"program", e->program}, {"version", e->version}, {"command", e->command},
                      {"workstation", e->workstation}, {"adapter", AdapterText(e->adapter)}, {"undo_of", e->undoOf},
                      {"outcome", e->outcome}, {"outcome_time", e->outcomeTime}, {"changes", changes}});
    else
      rows.push_back({{"entry", e->id}, {"time", e->time}, {"identity", device::IdentityText(e->ident)},
                      {"by", ByText(*e)}, {"outcome", OutcomeText(*e)}, {"changes", changes}});
  }
  if (options.format == "csv") {
    WriteCsv(std::cout, {"entry", "time", "identity", "program", "version", "command", "workstation", "adapter",
                         "undo_of", "outcome", "outcome_time", "changes"}, rows);
  } else {
    WriteTable(std::cout, {"entry", "time", "identity", "by", "outcome", "changes"}, rows);
    if (contents.entries.empty()) std::cerr << "orven-cli: no writes in the journal " << path << '\n';
  }
  return kExitSuccess;
}

}  // namespace

void SetUpHistory(CLI::App& app, Common& common) {
  auto options = std::make_shared<HistoryOptions>();
  CLI::App* history = app.add_subcommand(
      "history", "the journal of writes, newest first, with each changed field before and after; sends nothing");
  history->add_option("--device", options->device, "only this device's entries (its identity, hexadecimal)");
  history->add_option("--since", options->since, "only entries from this UTC date or time on (2026-01-31, 2026-01-31T09:05Z)");
  AddFormatOption(history, options->format, {"table", "json", "csv"});
  OnRun(history, common, [options] { return RunHistory(*options); });
}

}  // namespace cli
