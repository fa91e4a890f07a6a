// orven-cli apply: checks a whole plan, then writes all its devices side by
// side; leaves a report and an undo file when asked.
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>

#include "cli/command.h"
#include "cli/exit_codes.h"
#include "cli/output.h"
#include "cli/plan.h"
#include "cli/platform.h"
#include "cli/write.h"

namespace cli {

namespace {

struct ApplyOptions {
  std::string planPath;
  std::string reportPath;
  std::string undoPath;
  WriteSettings settings;
};

// --force lets rows share an address (the undo of a factory state gives every
// device the one address it came with); says which.
void TellSharedAddresses(const std::vector<PlanRow>& rows) {
  std::map<std::string, std::string> lines;
  std::map<std::string, int> count;
  for (const PlanRow& row : rows)
    if (const auto& ip = row.changes["ip"]) {
      lines[*ip] += (lines[*ip].empty() ? "" : ", ") + std::to_string(row.line);
      ++count[*ip];
    }
  for (const auto& [ip, n] : count)
    if (n > 1)
      std::cerr << "orven-cli: --force: ip " << ip << " is given to " << n << " rows (lines " << lines[ip]
                << "); written all the same\n";
}

// Finds out before anything is sent whether the file can be written.
void CheckWritable(const std::string& path) {
  if (path.empty()) return;
  // A folder of that name lets the probe beside it through, but never the
  // rename onto it at the end.
  if (std::error_code e; std::filesystem::is_directory(path, e))
    throw Failure(kExitUsage, path + ": is a folder, cannot be written; nothing sent");
  const std::string probe = path + ".tmp";
  const bool good = static_cast<bool>(std::ofstream(probe, std::ios::binary | std::ios::trunc));
  std::error_code ignored;
  std::filesystem::remove(probe, ignored);
  if (!good) throw Failure(kExitUsage, path + ": cannot be written; nothing sent");
}

int RunApply(const SessionOptions& options, ApplyOptions apply) {
  const std::vector<PlanRow> rows = ReadPlan(apply.planPath, apply.settings.force);
  CheckWritable(apply.reportPath);
  CheckWritable(apply.undoPath);
  if (apply.settings.force) TellSharedAddresses(rows);
  std::vector<WriteJob> jobs;
  for (const PlanRow& row : rows) jobs.push_back({row.ident, row.changes, {}, {}});
  apply.settings.progress = ErrorIsTerminal();
  Session session(options);
  Write write(jobs, apply.settings);
  int code = write.Run(session);

  const std::vector<Outcome> outcomes = write.Outcomes();
  std::vector<std::string> problems;
  if (!apply.reportPath.empty()) problems.push_back(WriteFileAtomically(apply.reportPath, ReportText(outcomes)));
  if (!apply.undoPath.empty()) {
    std::vector<std::string> skipped;
    const std::vector<PlanRow> undo = UndoRows(outcomes, skipped);
    for (const std::string& s : skipped) std::cerr << "orven-cli: the undo file cannot restore " << s << '\n';
    if (undo.empty()) std::cerr << "orven-cli: no device was changed, so the undo file holds no rows\n";
    problems.push_back(WriteFileAtomically(apply.undoPath, PlanText(undo)));
  }
  for (const std::string& p : problems)
    if (!p.empty()) {
      std::cerr << "orven-cli: " << p << '\n';
      if (code == kExitSuccess) code = kExitUsage;
    }
  return code;
}

}  // namespace

void SetUpApply(CLI::App& app, Common& common) {
  auto options = std::make_shared<ApplyOptions>();
  options->settings.command = "apply";
  CLI::App* apply = app.add_subcommand("apply", "write a plan (CSV, one row per device) to all its devices at once");
  apply->add_option("PLAN", options->planPath, "the plan file")->required();
  apply->add_option("--timeout", options->settings.timeoutSeconds, "seconds until the writes count as timed out (default 30)")
      ->check(CLI::Range(1, 3600));
  apply->add_flag("--keep-going", options->settings.keepGoing, "a device refused by a check does not stop the others");
  apply->add_flag("--dry-run", options->settings.dryRun, "check the plan against the devices and show the records, send nothing");
  apply->add_flag("--force", options->settings.force,
                  "write despite the pre-write checks, and let rows give one address to several devices");
  apply->add_option("--report", options->reportPath,
                    "write a report (CSV): every row's result and every field before and after, also when stopped");
  apply->add_option("--undo", options->undoPath,
                    "write a plan that restores the previous values of what was changed on the confirmed devices");
  AddCommonOptions(apply, common);
  OnRun(apply, common, [&common, options] { return RunApply(common.session, *options); });
}

}  // namespace cli
