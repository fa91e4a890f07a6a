// The write of set and apply: every device written side by side, each
// confirmed by its own announcements, as the window writes one.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "cli/fields.h"
#include "cli/monitor.h"
#include "cli/report.h"
#include "cli/session.h"
#include "journal/journal.h"

namespace cli {

// One device to write.
struct WriteJob {
  std::uint64_t ident = 0;
  Changes changes;
  // An undo: the record the device must still announce (else it is refused
  // unless --force), and the journal entry it undoes.
  std::optional<device::NetConfig> expect;
  std::string undoOf;
};

struct WriteSettings {
  int timeoutSeconds = 30;
  bool force = false;      // write despite the pre-write checks
  bool dryRun = false;     // decide and show, send nothing
  bool keepGoing = false;  // a refused device does not stop the others
  bool progress = false;   // a progress line on standard error
  std::string command;     // the subcommand, as the journal names it
};

class Write {
 public:
  Write(const std::vector<WriteJob>& jobs, const WriteSettings& settings);

  // Listens, decides and writes until every job has ended, the time-out or
  // Ctrl+C; prints the final table (identity, result, seconds) and returns
  // the exit code.
  int Run(Session& session);

  // How each job ended, in the jobs' order (after Run).
  std::vector<Outcome> Outcomes() const;

 private:
  enum class Result { Waiting, Writing, Confirmed, TimedOut, NotHeard, Refused, Stopped, Checked };
  struct Job {
    WriteJob what;
    Result result = Result::Waiting;
    device::NetConfig pending{};
    std::uint8_t format = 0;
    double seconds = 0;
    std::string sendError;  // the last send's error, empty after a good send
    std::optional<device::DeviceEntry> before;  // as heard when the write was decided
    std::string confirmedAt;
    std::string journalId;  // its entry in the journal, if written
  };
  using Clock = std::chrono::steady_clock;

  static const char* ResultText(Result r);
  static bool Open(Result r) { return r == Result::Waiting || r == Result::Writing; }
  double Elapsed() const;

  // Builds the device's record by the window's rules, then the pre-write checks.
  void Decide(Job& job, int index);
  // One datagram: the device list, a decision once heard, the confirmation step.
  void Take(Session& session, const Datagram& d);
  // What is still open ends: stopped, timed out or not heard.
  void Finish(bool interrupted);
  // The dry run's records, the final table and the exit code.
  int Report(bool interrupted) const;
  void ShowProgress() const;
  // The journal's entries of the writes decided since the last call.
  void JournalBegin();
  // The outcome of every write the journal holds.
  void JournalEnd();

  WriteSettings settings_;
  Monitor monitor_;
  std::vector<Job> jobs_;
  std::unordered_map<std::uint64_t, std::size_t> jobOf_;
  std::unordered_set<std::uint64_t> movingAway_;  // devices that give their address up
  Clock::time_point start_;
  bool listened_ = false;
  bool stopAll_ = false;
  journal::Journal journal_;
  std::vector<std::size_t> unjournaled_;  // jobs decided, not yet journaled
  bool journalWarned_ = false;
};

}  // namespace cli
