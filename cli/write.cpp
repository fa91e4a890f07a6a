#include "cli/write.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iostream>

#include "cli/checks.h"
#include "cli/exit_codes.h"
#include "cli/output.h"
#include "cli/platform.h"
#include "device/fields.h"
#include "engine/confirm.h"
#include "engine/intake.h"
#include "net/adapter.h"

namespace cli {

namespace {

// Set and apply listen this long before they decide on the first write, so
// that the address check knows the devices around (they announce about once
// a second).
constexpr double kListenFirstSeconds = 1.0;

}  // namespace

Write::Write(const std::vector<WriteJob>& jobs, const WriteSettings& settings)
    : settings_(settings), journal_("orven-cli", settings.command) {
  for (const WriteJob& w : jobs) {
    jobOf_.emplace(w.ident, jobs_.size());
    jobs_.emplace_back().what = w;
    if (w.changes["ip"] || w.changes["auto"] == "on") movingAway_.insert(w.ident);
  }
}

const char* Write::ResultText(Result r) {
  switch (r) {
    case Result::Waiting:
    case Result::NotHeard: return "not heard";
    case Result::Writing:
    case Result::TimedOut: return "timed out";
    case Result::Confirmed: return "confirmed";
    case Result::Refused: return "refused";
    case Result::Stopped: return "stopped";
    case Result::Checked: return "dry run";
  }
  return "";
}

double Write::Elapsed() const { return std::chrono::duration<double>(Clock::now() - start_).count(); }

void Write::Decide(Job& job, int index) {
  const std::string ident = device::IdentityText(job.what.ident);
  std::vector<std::string> problems;
  const device::DeviceEntry& entry = monitor_.List().Entry(index);
  job.format = entry.HAddrFormat;
  job.before = entry;
  if (job.what.expect && !settings_.force && !device::SameConfig(entry.Config, *job.what.expect))
    problems.push_back("the device no longer announces what journal entry " + job.what.undoOf +
                       " wrote (changed since); --force writes the previous configuration back all the same");
  const std::string rule = BuildPending(entry, job.what.changes, job.pending);
  if (!rule.empty())
    problems.push_back(rule);
  else if (!settings_.force && problems.empty())
    problems = PreWriteProblems(job.pending, job.what.ident, monitor_.List(), movingAway_);
  if (rule.empty() && !settings_.dryRun) unjournaled_.push_back(&job - jobs_.data());
  if (!problems.empty()) {
    for (const auto& p : problems) std::cerr << ident << ": refused: " << p << '\n';
    job.result = Result::Refused;
    job.seconds = Elapsed();
    if (!settings_.keepGoing) stopAll_ = true;
    return;
  }
  job.result = settings_.dryRun ? Result::Checked : Result::Writing;
}

void Write::Take(Session& session, const Datagram& d) {
  const Monitor::Taken taken = monitor_.Take(d);
  if (taken.outcome.result == engine::IntakeResult::Dropped || stopAll_) return;
  const auto it = jobOf_.find(monitor_.List().Ident(taken.outcome.index));
  if (it == jobOf_.end()) return;
  Job& job = jobs_[it->second];
  if (job.result == Result::Waiting && listened_) {
    Decide(job, taken.outcome.index);
    JournalBegin();
  }
  // Ctrl+C stops the sending at once, also in the middle of a batch of datagrams.
  if (job.result != Result::Writing || stopAll_ || Interrupted()) return;
  const double elapsed = Elapsed();
  const bool writeOpen = static_cast<int>(elapsed) < settings_.timeoutSeconds;
  switch (engine::Confirm(writeOpen, job.pending, d.bytes)) {
    case engine::ConfirmAction::None: break;
    case engine::ConfirmAction::Send: job.sendError = session.Broadcast(d.bytes, d.sourcePort, d.arrival); break;
    case engine::ConfirmAction::Success:
      job.result = Result::Confirmed;
      job.seconds = elapsed;
      job.confirmedAt = journal::UtcNow();
      break;
  }
}

// On a terminal: confirmed / total and the time, rewritten in place.
void Write::ShowProgress() const {
  const auto confirmed = std::count_if(jobs_.begin(), jobs_.end(), [](const Job& j) { return j.result == Result::Confirmed; });
  std::fprintf(stderr, "\rconfirmed %zu/%zu, %.1f s ", static_cast<std::size_t>(confirmed), jobs_.size(), Elapsed());
  std::fflush(stderr);
}

int Write::Run(Session& session) {
  start_ = Clock::now();
  bool interrupted = false;
  auto lastProgress = Clock::now() - std::chrono::seconds(1);
  for (;;) {
    if (Interrupted()) {
      interrupted = true;
      break;
    }
    const double elapsed = Elapsed();
    if (!listened_ && elapsed >= kListenFirstSeconds) {
      listened_ = true;
      for (Job& job : jobs_) {
        const int index = monitor_.List().IndexOf(job.what.ident);
        if (job.result == Result::Waiting && index >= 0 && !stopAll_) Decide(job, index);
      }
      JournalBegin();
    }
    if (stopAll_ || elapsed >= settings_.timeoutSeconds ||
        std::none_of(jobs_.begin(), jobs_.end(), [](const Job& j) { return Open(j.result); }))
      break;
    if (settings_.progress && Clock::now() - lastProgress >= std::chrono::milliseconds(250)) {
      lastProgress = Clock::now();
      ShowProgress();
    }
    const double left = std::min(settings_.timeoutSeconds - elapsed,
                                 kListenFirstSeconds > elapsed ? kListenFirstSeconds - elapsed : 1.0);
    session.Poll(static_cast<int>(std::ceil(std::min(left * 1000, double{kPollMs}))),
                 [&](const Datagram& d) { Take(session, d); });
  }
  if (settings_.progress) {
    ShowProgress();
    std::fputs("\n", stderr);
  }
  Finish(interrupted);
  JournalEnd();
  return Report(interrupted);
}

// One append for all writes decided together, on the disk before their first packets.
void Write::JournalBegin() {
  if (unjournaled_.empty()) return;
  std::vector<journal::Write> writes;
  for (const std::size_t i : unjournaled_) {
    const Job& job = jobs_[i];
    journal::Write& write = writes.emplace_back();
    write.ident = job.what.ident;
    const int line = monitor_.List().IndexOf(job.what.ident);
    const unsigned adapter = line >= 0 ? monitor_.List().Adapter(line) : 0;
    write.adapter = {net::sock::AdapterName(adapter), adapter};
    write.before = *job.before;
    write.after = device::DeviceEntry{job.pending, job.format};
    write.undoOf = job.what.undoOf;
  }
  const std::vector<std::string> ids = journal_.Begin(writes);
  std::vector<journal::Journal::Ending> refused;
  for (std::size_t k = 0; k < ids.size(); ++k) {
    Job& job = jobs_[unjournaled_[k]];
    job.journalId = ids[k];
    if (job.result == Result::Refused) refused.push_back({job.journalId, journal::kRefused, {}});
  }
  unjournaled_.clear();
  if (!refused.empty()) journal_.End(refused);
  if (ids.front().empty() && !journalWarned_) {
    // Once per run; the write goes on.
    std::cerr << "orven-cli: warning: the journal cannot be written (" << journal_.Problem() << "); writing all the same\n";
    journalWarned_ = true;
  }
}

void Write::JournalEnd() {
  std::vector<journal::Journal::Ending> endings;
  for (const Job& job : jobs_) {
    if (job.journalId.empty() || job.result == Result::Refused) continue;
    const bool confirmed = job.result == Result::Confirmed;
    endings.push_back({job.journalId,
                       confirmed                          ? journal::kConfirmed
                       : job.result == Result::Stopped    ? journal::kStopped
                                                          : journal::kTimedOut,
                       confirmed ? job.confirmedAt : std::string()});
  }
  if (!endings.empty()) journal_.End(endings);
}

void Write::Finish(bool interrupted) {
  for (Job& job : jobs_) {
    if (!Open(job.result)) continue;
    job.seconds = Elapsed();
    if (interrupted || stopAll_) job.result = Result::Stopped;
    else job.result = job.result == Result::Writing ? Result::TimedOut : Result::NotHeard;
  }
}

std::vector<Outcome> Write::Outcomes() const {
  std::vector<Outcome> outcomes;
  for (const Job& job : jobs_) {
    Outcome& o = outcomes.emplace_back();
    o.ident = job.what.ident;
    o.result = ResultText(job.result);
    o.seconds = job.seconds;
    o.before = job.before;
    // A device stopped before its write was decided: as it was heard.
    if (const int index = monitor_.List().IndexOf(job.what.ident); !o.before && index >= 0)
      o.before = monitor_.List().Entry(index);
    if (job.result == Result::Confirmed) {
      o.after = device::DeviceEntry{job.pending, job.format};
      o.confirmedAt = job.confirmedAt;
    }
  }
  return outcomes;
}

int Write::Report(bool interrupted) const {
  std::vector<Row> rows;
  std::vector<Row> records;
  char seconds[32];
  bool refused = false, missed = false, networkError = false;
  for (const Job& job : jobs_) {
    const std::string ident = device::IdentityText(job.what.ident);
    std::snprintf(seconds, sizeof seconds, "%.1f", job.seconds);
    rows.push_back({{"identity", ident}, {"result", ResultText(job.result)}, {"seconds", seconds}});
    refused |= job.result == Result::Refused;
    missed |= job.result == Result::TimedOut || job.result == Result::NotHeard;
    if (job.result != Result::Confirmed && !job.sendError.empty()) {
      std::cerr << ident << ": " << job.sendError << '\n';
      networkError = true;
    }
    if (job.result == Result::Checked) records.push_back(RecordFields(ident, device::DeviceEntry{job.pending, job.format}));
  }
  if (settings_.dryRun && !records.empty()) {
    std::cout << "would write (nothing sent):\n";
    WriteTable(std::cout, Names(records.front()), records);
    std::cout << '\n';
  }
  WriteTable(std::cout, {"identity", "result", "seconds"}, rows);
  std::cout.flush();
  if (refused && !settings_.force)
    std::cerr << "orven-cli: refused by a check; nothing was sent to the refused devices"
              << (settings_.keepGoing ? "" : " and the write stopped") << " (--force writes despite the pre-write checks)\n";
  if (interrupted) return kExitStopped;
  if (refused) return kExitRefused;
  if (networkError) return kExitNetwork;
  if (missed) return kExitMissed;
  return kExitSuccess;
}

}  // namespace cli
