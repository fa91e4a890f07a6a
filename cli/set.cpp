// orven-cli set: waits for one device, applies the options to its announced
// configuration and writes it until the device announces it.
#include <map>
#include <memory>

#include "cli/command.h"
#include "cli/exit_codes.h"
#include "cli/write.h"
#include "device/field_table.h"

namespace cli {

namespace {

struct SetOptions {
  std::string ident;
  std::map<std::string, std::string> values;  // by field key, as given
  WriteSettings settings;
};

int RunSet(const SessionOptions& options, const SetOptions& set) {
  WriteJob job;
  if (!ParseIdentity(set.ident, job.ident))
    throw Failure(kExitUsage, "IDENT: '" + set.ident + "' is not 1 to 16 hexadecimal digits");
  for (const auto& [key, value] : set.values)
    if (std::string p = SetChange(job.changes, key, value); !p.empty()) throw Failure(kExitUsage, "--" + p);
  if (std::string p = CheckCombination(job.changes); !p.empty()) throw Failure(kExitUsage, "--" + p);
  Session session(options);
  return Write({job}, set.settings).Run(session);
}

}  // namespace

void SetUpSet(CLI::App& app, Common& common) {
  auto options = std::make_shared<SetOptions>();
  options->settings.command = "set";
  CLI::App* set = app.add_subcommand(
      "set", "wait for the device's announcement, apply the options to its configuration and write it until confirmed");
  set->add_option("IDENT", options->ident, "the device's identity (hexadecimal)")->required();
  for (const device::Field& field : device::kFields) {
    set->add_option_function<std::string>(
        std::string("--") + field.key,
        [options, key = std::string(field.key)](const std::string& v) { options->values[key] = v; }, field.help);
  }
  set->add_option("--timeout", options->settings.timeoutSeconds, "seconds until the write counts as timed out (default 30)")
      ->check(CLI::Range(1, 3600));
  set->add_flag("--dry-run", options->settings.dryRun, "decide and show the record, send nothing");
  set->add_flag("--force", options->settings.force, "write despite the pre-write checks");
  AddCommonOptions(set, common);
  OnRun(set, common, [&common, options] { return RunSet(common.session, *options); });
}

}  // namespace cli
