// orven-cli list: listens N seconds and prints every device heard, once, in
// the order first heard.
#include <iostream>
#include <memory>

#include "cli/command.h"
#include "cli/exit_codes.h"
#include "cli/monitor.h"
#include "cli/output.h"

namespace cli {

namespace {

struct ListOptions {
  double seconds = 3;
  std::string format = "table";
};

int RunList(const SessionOptions& options, const ListOptions& list) {
  Session session(options);
  Monitor monitor;
  const bool interrupted = Listen(session, monitor, list.seconds);
  std::vector<Row> rows;
  for (int i = 0; i < monitor.List().Count(); ++i) rows.push_back(monitor.Fields(i));
  if (list.format == "json") WriteJson(std::cout, rows);
  else if (list.format == "csv") WriteCsv(std::cout, DeviceFieldNames(), rows);
  else WriteTable(std::cout, DeviceFieldNames(), rows);
  std::cout.flush();
  return interrupted ? kExitStopped : kExitSuccess;
}

}  // namespace

void SetUpList(CLI::App& app, Common& common) {
  auto options = std::make_shared<ListOptions>();
  CLI::App* list = app.add_subcommand("list", "listen for N seconds and print every device heard, in the order first heard");
  AddSecondsOption(list, options->seconds);
  AddFormatOption(list, options->format, {"table", "json", "csv"});
  AddCommonOptions(list, common);
  OnRun(list, common, [&common, options] { return RunList(common.session, *options); });
}

}  // namespace cli
