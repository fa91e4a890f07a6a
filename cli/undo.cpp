// orven-cli undo: writes an entry's previous configuration back through the
// write of set and apply, provided the device still announces what that
// entry wrote. The undo is journaled like any write, so it can be undone.
#include <algorithm>
#include <cctype>
#include <iostream>
#include <memory>

#include "cli/command.h"
#include "cli/exit_codes.h"
#include "cli/report.h"
#include "cli/write.h"
#include "device/fields.h"
#include "journal/journal.h"

namespace cli {

namespace {

struct UndoOptions {
  std::string entry;
  bool last = false;
  std::string device;
  WriteSettings settings;
};

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

// The entry named by the options. --last and --device take the newest one
// that sent something (a refused write changed nothing).
const journal::Entry& Chosen(const journal::Contents& contents, const UndoOptions& options) {
  const auto& entries = contents.entries;
  if (!options.entry.empty()) {
    const auto it = std::find_if(entries.begin(), entries.end(),
                                 [&](const journal::Entry& e) { return Lower(e.id) == Lower(options.entry); });
    if (it == entries.end()) throw Failure(kExitUsage, "no journal entry " + options.entry + " (orven-cli history lists them)");
    if (it->outcome == journal::kRefused)
      throw Failure(kExitUsage, "entry " + it->id + " was refused by a check: it sent nothing, so there is nothing to undo");
    return *it;
  }
  std::uint64_t device = 0;
  if (!options.device.empty() && !ParseIdentity(options.device, device))
    throw Failure(kExitUsage, "--device: '" + options.device + "' is not 1 to 16 hexadecimal digits");
  for (auto it = entries.rbegin(); it != entries.rend(); ++it)
    if (it->outcome != journal::kRefused && (options.device.empty() || it->ident == device)) return *it;
  throw Failure(kExitUsage, options.device.empty() ? "the journal holds no write to undo"
                                                   : "the journal holds no write to " + options.device);
}

int RunUndo(const SessionOptions& session, const UndoOptions& options) {
  if (!options.entry.empty() + options.last + !options.device.empty() != 1)
    throw Failure(kExitUsage, "name one entry: ENTRY, --last or --device IDENT");
  const std::string path = journal::DefaultPath();
  journal::Contents contents;
  if (std::string problem = journal::Read(path, contents); !problem.empty())
    throw Failure(kExitUsage, "the journal cannot be read: " + problem);
  for (const std::string& w : contents.warnings) std::cerr << "orven-cli: " << path << ": " << w << '\n';
  const journal::Entry& entry = Chosen(contents, options);

  // The previous value of every field the entry changed, as apply's undo file has it.
  Outcome outcome;
  outcome.ident = entry.ident;
  outcome.before = entry.before;
  outcome.after = entry.after;
  std::vector<std::string> skipped;
  const std::vector<PlanRow> rows = UndoRows({outcome}, skipped);
  for (const std::string& s : skipped) std::cerr << "orven-cli: cannot restore " << s << '\n';
  const std::string ident = device::IdentityText(entry.ident);
  std::cerr << "orven-cli: undoing entry " << entry.id << " (" << entry.time << ", " << entry.program << " "
            << entry.command << ") on " << ident << ": "
            << ChangesText(ChangedFields(entry.after.Config, entry.before.Config)) << '\n';
  if (rows.empty()) {
    std::cerr << "orven-cli: entry " << entry.id << " changed nothing that can be written back; nothing sent\n";
    return kExitSuccess;
  }
  WriteJob job;
  job.ident = entry.ident;
  job.changes = rows.front().changes;
  job.expect = entry.after.Config;
  job.undoOf = entry.id;
  Session network(session);
  return Write({job}, options.settings).Run(network);
}

}  // namespace

void SetUpUndo(CLI::App& app, Common& common) {
  auto options = std::make_shared<UndoOptions>();
  options->settings.command = "undo";
  CLI::App* undo = app.add_subcommand(
      "undo", "write a journal entry's previous configuration back, if the device still announces what it wrote");
  undo->add_option("ENTRY", options->entry, "the entry (as history shows it)");
  undo->add_flag("--last", options->last, "the newest entry");
  undo->add_option("--device", options->device, "the newest entry of this device (its identity, hexadecimal)");
  undo->add_option("--timeout", options->settings.timeoutSeconds, "seconds until the write counts as timed out (default 30)")
      ->check(CLI::Range(1, 3600));
  undo->add_flag("--dry-run", options->settings.dryRun, "decide and show the record, send nothing");
  undo->add_flag("--force", options->settings.force,
                 "write even when the device announces something else now, and despite the pre-write checks");
  AddCommonOptions(undo, common);
  OnRun(undo, common, [&common, options] { return RunUndo(common.session, *options); });
}

}  // namespace cli
