#include "cli/commands.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <unordered_map>
#include <unordered_set>

#include "cli/checks.h"
#include "cli/output.h"
#include "cli/platform.h"
#include "device/fields.h"
#include "engine/confirm.h"
#include "engine/intake.h"

namespace cli {

namespace {

using Clock = std::chrono::steady_clock;

// Set and apply listen this long before they decide on the first write, so
// that the address check knows the devices around (they announce about once
// a second).
constexpr double kListenFirstSeconds = 1.0;
constexpr int kPollMs = 100;  // how soon Ctrl+C and the clock are noticed

double Since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

std::vector<std::string> Names(const Row& row) {
  std::vector<std::string> names;
  for (const Field& f : row) names.push_back(f.name);
  return names;
}

const std::vector<std::string>& DeviceFieldNames() {
  static const std::vector<std::string> names = [] {
    engine::DeviceList one;
    one.Append(0, device::DeviceEntry{});
    return Names(DeviceFields(one, 0, Heard{}));
  }();
  return names;
}

// The devices heard in this run: the engine's device list and what the
// run heard of each besides its record.
class Monitor {
 public:
  struct Taken {
    engine::IntakeOutcome outcome;
    bool changed = false;  // a known device announced another record than before
  };

  Taken Take(const Datagram& d) {
    Taken taken;
    taken.outcome = engine::Intake(d.bytes, list_);
    const int index = taken.outcome.index;
    if (taken.outcome.result == engine::IntakeResult::Dropped) return taken;
    if (taken.outcome.result == engine::IntakeResult::NewDevice) {
      heard_.emplace_back();
      last_.push_back(list_.Entry(index).Config);
    } else if (!device::SameConfig(last_[static_cast<std::size_t>(index)], list_.Entry(index).Config)) {
      taken.changed = true;
      last_[static_cast<std::size_t>(index)] = list_.Entry(index).Config;
    }
    Heard& h = heard_[static_cast<std::size_t>(index)];
    h.sourceAddress = d.sourceAddress;
    h.sourcePort = d.sourcePort;
    (d.via == Via::Multicast ? h.multicast : h.broadcast) = true;
    ++h.announcements;
    return taken;
  }

  const engine::DeviceList& List() const { return list_; }
  Row Fields(int index) const { return DeviceFields(list_, index, heard_[static_cast<std::size_t>(index)]); }

 private:
  engine::DeviceList list_;
  std::vector<Heard> heard_;
  std::vector<device::NetConfig> last_;
};

}  // namespace

int RunList(const SessionOptions& options, double seconds, ListFormat format) {
  Session session(options);
  Monitor monitor;
  const auto start = Clock::now();
  bool interrupted = false;
  for (double left = seconds; left > 0; left = seconds - Since(start)) {
    if ((interrupted = Interrupted())) break;
    session.Poll(static_cast<int>(std::ceil(std::min(left * 1000, double{kPollMs}))),
                 [&](const Datagram& d) { monitor.Take(d); });
  }
  std::vector<Row> rows;
  for (int i = 0; i < monitor.List().Count(); ++i) rows.push_back(monitor.Fields(i));
  switch (format) {
    case ListFormat::Table: WriteTable(std::cout, DeviceFieldNames(), rows); break;
    case ListFormat::Json: WriteJson(std::cout, rows); break;
    case ListFormat::Csv: WriteCsv(std::cout, DeviceFieldNames(), rows); break;
  }
  std::cout.flush();
  return interrupted ? 130 : 0;
}

int RunWatch(const SessionOptions& options, WatchFormat format) {
  Session session(options);
  Monitor monitor;
  if (format == WatchFormat::Table) {
    std::vector<std::string> header = {"event"};
    for (const auto& name : DeviceFieldNames()) header.push_back(name);
    std::string line;
    for (const auto& name : header) line += name + "  ";
    std::cout << line << std::endl;
  }
  while (!Interrupted()) {
    session.Poll(kPollMs, [&](const Datagram& d) {
      const Monitor::Taken taken = monitor.Take(d);
      const bool added = taken.outcome.result == engine::IntakeResult::NewDevice;
      if (!added && !taken.changed) return;
      Row row = monitor.Fields(taken.outcome.index);
      row.insert(row.begin(), Field{"event", added ? "new" : "changed"});
      if (format == WatchFormat::JsonLines) {
        WriteJsonLine(std::cout, row);
      } else {
        std::string line;
        for (const Field& f : row) line += (f.text.empty() ? "-" : f.text) + "  ";
        std::cout << line << '\n';
      }
      std::cout.flush();
    });
  }
  return 0;
}

namespace {

enum class Result { Waiting, Writing, Confirmed, TimedOut, NotHeard, Refused, Stopped, Checked };

const char* ResultText(Result r) {
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

struct Job {
  WriteJob what;
  Result result = Result::Waiting;
  device::NetConfig pending{};
  std::uint8_t format = 0;
  double seconds = 0;
  std::string sendError;  // the last send's error, empty after a good send
};

bool Open(Result r) { return r == Result::Waiting || r == Result::Writing; }

}  // namespace

int RunWrites(const SessionOptions& options, const std::vector<WriteJob>& what, const WriteSettings& settings) {
  Session session(options);
  Monitor monitor;
  std::vector<Job> jobs;
  std::unordered_map<std::uint64_t, std::size_t> jobOf;
  std::unordered_set<std::uint64_t> movingAway;  // devices that give their address up
  for (const WriteJob& w : what) {
    jobOf.emplace(w.ident, jobs.size());
    Job job;
    job.what = w;
    jobs.push_back(job);
    if (w.changes.ip || w.changes.autoIP.value_or(false)) movingAway.insert(w.ident);
  }
  const auto start = Clock::now();
  bool listened = false;
  bool stopAll = false;

  // Builds the device's record by the window's rules, then the pre-write checks.
  const auto decide = [&](Job& job, int index) {
    const std::string ident = device::IdentityText(job.what.ident);
    std::vector<std::string> problems;
    const device::DeviceEntry& entry = monitor.List().Entry(index);
    job.format = entry.HAddrFormat;
    if (std::string p = BuildPending(entry, job.what.changes, job.pending); !p.empty())
      problems.push_back(p);
    else if (!settings.force)
      problems = PreWriteProblems(job.pending, job.what.ident, monitor.List(), movingAway);
    if (!problems.empty()) {
      for (const auto& p : problems) std::cerr << ident << ": refused: " << p << '\n';
      job.result = Result::Refused;
      job.seconds = Since(start);
      if (!settings.keepGoing) stopAll = true;
      return;
    }
    job.result = settings.dryRun ? Result::Checked : Result::Writing;
  };

  const auto handle = [&](const Datagram& d) {
    const Monitor::Taken taken = monitor.Take(d);
    if (taken.outcome.result == engine::IntakeResult::Dropped || stopAll) return;
    const auto it = jobOf.find(monitor.List().Ident(taken.outcome.index));
    if (it == jobOf.end()) return;
    Job& job = jobs[it->second];
    if (job.result == Result::Waiting && listened) decide(job, taken.outcome.index);
    // Ctrl+C stops the sending at once, also in the middle of a batch of datagrams.
    if (job.result != Result::Writing || stopAll || Interrupted()) return;
    const double elapsed = Since(start);
    const bool writeOpen = static_cast<int>(elapsed) < settings.timeoutSeconds;
    switch (engine::Confirm(writeOpen, job.pending, d.bytes)) {
      case engine::ConfirmAction::None: break;
      case engine::ConfirmAction::Send: job.sendError = session.Broadcast(d.bytes, d.sourcePort); break;
      case engine::ConfirmAction::Success:
        job.result = Result::Confirmed;
        job.seconds = elapsed;
        break;
    }
  };

  // On a terminal: confirmed / total and the time, rewritten in place.
  const auto showProgress = [&](double elapsed) {
    const auto confirmed = std::count_if(jobs.begin(), jobs.end(), [](const Job& j) { return j.result == Result::Confirmed; });
    std::fprintf(stderr, "\rconfirmed %zu/%zu, %.1f s ", static_cast<std::size_t>(confirmed), jobs.size(), elapsed);
    std::fflush(stderr);
  };
  bool interrupted = false;
  auto lastProgress = Clock::now() - std::chrono::seconds(1);
  for (;;) {
    if (Interrupted()) {
      interrupted = true;
      break;
    }
    const double elapsed = Since(start);
    if (!listened && elapsed >= kListenFirstSeconds) {
      listened = true;
      for (Job& job : jobs) {
        const int index = monitor.List().IndexOf(job.what.ident);
        if (job.result == Result::Waiting && index >= 0 && !stopAll) decide(job, index);
      }
    }
    if (stopAll || elapsed >= settings.timeoutSeconds ||
        std::none_of(jobs.begin(), jobs.end(), [](const Job& j) { return Open(j.result); }))
      break;
    if (settings.progress && Clock::now() - lastProgress >= std::chrono::milliseconds(250)) {
      lastProgress = Clock::now();
      showProgress(elapsed);
    }
    const double left = std::min(settings.timeoutSeconds - elapsed, kListenFirstSeconds > elapsed ? kListenFirstSeconds - elapsed : 1.0);
    session.Poll(static_cast<int>(std::ceil(std::min(left * 1000, double{kPollMs}))), handle);
  }
  if (settings.progress) {
    showProgress(Since(start));
    std::fputs("\n", stderr);
  }

  // What is still open ends here: stopped by Ctrl+C or by a refusal, or by the clock.
  for (Job& job : jobs) {
    if (!Open(job.result)) continue;
    job.seconds = Since(start);
    if (interrupted || stopAll) job.result = Result::Stopped;
    else job.result = job.result == Result::Writing ? Result::TimedOut : Result::NotHeard;
  }

  std::vector<Row> rows;
  std::vector<Row> records;
  engine::DeviceList written;
  char seconds[32];
  int code = 0;
  bool refused = false, missed = false, networkError = false;
  for (const Job& job : jobs) {
    std::snprintf(seconds, sizeof seconds, "%.1f", job.seconds);
    rows.push_back({{"identity", device::IdentityText(job.what.ident)}, {"result", ResultText(job.result)}, {"seconds", seconds}});
    refused |= job.result == Result::Refused;
    missed |= job.result == Result::TimedOut || job.result == Result::NotHeard;
    if (job.result != Result::Confirmed && !job.sendError.empty()) {
      std::cerr << device::IdentityText(job.what.ident) << ": " << job.sendError << '\n';
      networkError = true;
    }
    if (job.result == Result::Checked) {
      written.Append(job.what.ident, device::DeviceEntry{job.pending, job.format});
      Row record = DeviceFields(written, written.Count() - 1, Heard{});
      record.erase(record.begin() + 1, record.begin() + 6);  // nothing heard of a record not sent
      records.push_back(record);
    }
  }
  if (settings.dryRun && !records.empty()) {
    std::cout << "would write (nothing sent):\n";
    WriteTable(std::cout, Names(records.front()), records);
    std::cout << '\n';
  }
  WriteTable(std::cout, {"identity", "result", "seconds"}, rows);
  std::cout.flush();
  if (refused && !settings.force)
    std::cerr << "orven-cli: refused by a check; nothing was sent to the refused devices"
              << (settings.keepGoing ? "" : " and the write stopped") << " (--force writes despite the pre-write checks)\n";
  if (interrupted) code = 130;
  else if (refused) code = 2;
  else if (networkError) code = 4;
  else if (missed) code = 3;
  return code;
}

}  // namespace cli
