#include "cli/command.h"

#include <cstdio>
#include <string_view>
#include <vector>

#include "cli/exit_codes.h"
#include "cli/fields.h"
#include "cli/platform.h"

namespace cli {

namespace {

constexpr std::size_t kHelpWidth = 78;

// Words joined by blanks, broken into lines of at most kHelpWidth columns.
std::string Wrapped(const std::string& indent, const std::vector<std::string>& words) {
  std::string text, line = indent;
  for (const std::string& word : words) {
    if (line.size() > indent.size() && line.size() + 1 + word.size() > kHelpWidth) {
      text += line + "\n";
      line = indent;
    }
    line += (line.size() > indent.size() ? " " : "") + word;
  }
  return text + line + "\n";
}

std::vector<std::string> Words(const std::string& text) {
  std::vector<std::string> words;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = std::min(text.find(' ', at), text.size());
    if (end > at) words.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  return words;
}

std::string Footer() {
  std::string text = "\nExit codes:\n";
  for (const ExitCodeRow& row : kExitCodes) {
    std::string code = std::to_string(row.code);
    text += "  " + code + std::string(5 - code.size(), ' ') + row.meaning + "\n";
  }

  text += "\nFields of list and watch (JSON names, CSV header, table header):\n";
  std::vector<std::string> words;
  const auto& columns = DeviceColumns();
  for (std::size_t i = 0; i < columns.size(); ++i) {
    std::string entry = columns[i].name + (columns[i].values.empty() ? "" : " (" + columns[i].values + ")");
    entry += i + 1 < columns.size() ? "," : ".";
    for (const std::string& word : Words(entry)) words.push_back(word);
  }
  text += Wrapped("  ", words) + "  An address that is not set is an empty text.\n";

  words = Words("Plan columns for apply: identity plus any of");
  for (std::size_t i = 0; i < device::kFields.size(); ++i)
    words.push_back(std::string(device::kFields[i].key) + (i + 1 < device::kFields.size() ? "," : ";"));
  for (const std::string& word : Words("an empty cell keeps the device's value.")) words.push_back(word);
  text += "\n" + Wrapped("", words);

  return text + R"(
Pre-write checks (refused unless --force): mask not contiguous; gateway outside
the device's subnet; device address equal to its subnet's network or broadcast
address; device address already announced by another device heard in this run.
set and apply listen one second before the first write so that they know the
devices around.)";
}

}  // namespace

void AddCommonOptions(CLI::App* command, Common& common) {
  command->add_option("--interface", common.session.interfaceName,
                      "hear and send through this network adapter only (its name or one of its IPv4 addresses)");
  command->add_option("--pcap", common.session.pcapPath,
                      "write every datagram received and sent to FILE (pcap format, opens in Wireshark)");
}

void AddSecondsOption(CLI::App* command, double& seconds) {
  char text[64];
  std::snprintf(text, sizeof text, "how long to listen (default %g)", seconds);
  command->add_option("--seconds", seconds, text)->check(CLI::Range(0.1, 86400.0));
}

void AddFormatOption(CLI::App* command, std::string& format, const std::vector<std::string>& formats) {
  std::string text;
  for (std::size_t i = 0; i < formats.size(); ++i)
    text += (i == 0 ? "" : i + 1 < formats.size() ? ", " : " or ") + formats[i];
  command->add_option("--format", format, text + " (default " + format + ")")->check(CLI::IsMember(formats));
}

void OnRun(CLI::App* command, Common& common, std::function<int()> run) {
  command->callback([&common, run = std::move(run)] {
    CatchInterrupt();
    common.exitCode = run();
  });
}

void SetUpProgram(CLI::App& app, Common& common) {
  app.description("orven-cli: lists, watches and writes ORVEN field devices (UDP 60080, group 230.1.1.100:60081)");
  app.name("orven-cli");
  app.footer(Footer());
  app.require_subcommand(1);
  // Paths such as /tmp/plan.csv are arguments, not Windows-style options.
  app.allow_windows_style_options(false);
  SetUpList(app, common);
  SetUpWatch(app, common);
  SetUpSet(app, common);
  SetUpApply(app, common);
  SetUpPlan(app, common);
  SetUpVerify(app, common);
  SetUpDoctor(app, common);
  SetUpHistory(app, common);
  SetUpUndo(app, common);
}

}  // namespace cli
