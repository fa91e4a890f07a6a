// orven-cli's exit codes with what each means; the help lists this table.
#pragma once

namespace cli {

enum ExitCode : int {
  kExitSuccess = 0,
  kExitUsage = 1,
  kExitRefused = 2,
  kExitMissed = 3,
  kExitNetwork = 4,
  kExitProblem = 5,
  kExitStopped = 130,
};

struct ExitCodeRow {
  ExitCode code;
  const char* meaning;
};

inline constexpr ExitCodeRow kExitCodes[] = {
    {kExitSuccess, "success"},
    {kExitUsage, "usage error (bad option, bad value, bad plan file; nothing sent)"},
    {kExitRefused,
     "refused by a check (the window's rules, or a pre-write check without --force); nothing sent to that device"},
    {kExitMissed, "time-out, or a device not heard"},
    {kExitNetwork, "network error (with the socket error's text)"},
    {kExitProblem, "a check found a problem (doctor: a finding is an error; verify: the site differs from the plan)"},
    {kExitStopped, "stopped by Ctrl+C (what was confirmed is printed)"},
};

}  // namespace cli
