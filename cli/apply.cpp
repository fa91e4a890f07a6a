// orven-cli apply: checks a whole plan, then writes all its devices side by
// side.
#include <memory>

#include "cli/command.h"
#include "cli/plan.h"
#include "cli/platform.h"
#include "cli/write.h"

namespace cli {

namespace {

struct ApplyOptions {
  std::string planPath;
  WriteSettings settings;
};

int RunApply(const SessionOptions& options, ApplyOptions apply) {
  std::vector<WriteJob> jobs;
  for (const PlanRow& row : ReadPlan(apply.planPath)) jobs.push_back({row.ident, row.changes});
  apply.settings.progress = ErrorIsTerminal();
  Session session(options);
  return Write(jobs, apply.settings).Run(session);
}

}  // namespace

void SetUpApply(CLI::App& app, Common& common) {
  auto options = std::make_shared<ApplyOptions>();
  CLI::App* apply = app.add_subcommand("apply", "write a plan (CSV, one row per device) to all its devices at once");
  apply->add_option("PLAN", options->planPath, "the plan file")->required();
  apply->add_option("--timeout", options->settings.timeoutSeconds, "seconds until the writes count as timed out (default 30)")
      ->check(CLI::Range(1, 3600));
  apply->add_flag("--keep-going", options->settings.keepGoing, "a device refused by a check does not stop the others");
  apply->add_flag("--dry-run", options->settings.dryRun, "check the plan against the devices and show the records, send nothing");
  apply->add_flag("--force", options->settings.force, "write despite the pre-write checks");
  AddCommonOptions(apply, common);
  OnRun(apply, common, [&common, options] { return RunApply(common.session, *options); });
}

}  // namespace cli
