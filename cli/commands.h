// The four commands. Each returns the program's exit code:
//   0 success, 1 usage error, 2 refused by a check, 3 time-out or device not
//   heard, 4 network error, 130 stopped by Ctrl+C.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cli/fields.h"
#include "cli/session.h"

namespace cli {

enum class ListFormat { Table, Json, Csv };
enum class WatchFormat { JsonLines, Table };

int RunList(const SessionOptions& session, double seconds, ListFormat format);
int RunWatch(const SessionOptions& session, WatchFormat format);

// One device to write.
struct WriteJob {
  std::uint64_t ident = 0;
  Changes changes;
};

struct WriteSettings {
  int timeoutSeconds = 30;
  bool force = false;     // write despite the pre-write checks
  bool dryRun = false;    // decide and show, send nothing
  bool keepGoing = false; // a refused device does not stop the others
  bool progress = false;  // a progress line on standard error
};

// Writes every job side by side, each confirmed by its own announcements,
// and prints the final table (identity, result, seconds).
int RunWrites(const SessionOptions& session, const std::vector<WriteJob>& jobs, const WriteSettings& settings);

}  // namespace cli
