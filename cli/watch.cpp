// orven-cli watch: one line per new device and per change of a known
// device's configuration, until Ctrl+C.
#include <iostream>
#include <memory>

#include "cli/command.h"
#include "cli/exit_codes.h"
#include "cli/monitor.h"
#include "cli/output.h"
#include "cli/platform.h"

namespace cli {

namespace {

int RunWatch(const SessionOptions& options, bool table) {
  Session session(options);
  Monitor monitor;
  if (table) {
    std::string line = "event  ";
    for (const auto& name : DeviceFieldNames()) line += name + "  ";
    std::cout << line << std::endl;
  }
  while (!Interrupted()) {
    session.Poll(kPollMs, [&](const Datagram& d) {
      const Monitor::Taken taken = monitor.Take(d);
      const bool added = taken.outcome.result == engine::IntakeResult::NewDevice;
      if (!added && !taken.changed) return;
      Row row = monitor.Fields(taken.outcome.index);
      row.insert(row.begin(), Field{"event", added ? "new" : "changed"});
      if (table) {
        std::string line;
        for (const Field& f : row) line += (f.text.empty() ? "-" : f.text) + "  ";
        std::cout << line << '\n';
      } else {
        WriteJsonLine(std::cout, row);
      }
      std::cout.flush();
    });
  }
  return kExitSuccess;
}

}  // namespace

void SetUpWatch(CLI::App& app, Common& common) {
  auto format = std::make_shared<std::string>("jsonl");
  CLI::App* watch = app.add_subcommand("watch", "one line per new device and per changed configuration, until Ctrl+C");
  AddFormatOption(watch, *format, {"jsonl", "table"});
  AddCommonOptions(watch, common);
  OnRun(watch, common, [&common, format] { return RunWatch(common.session, *format == "table"); });
}

}  // namespace cli
