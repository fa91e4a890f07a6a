// orven-cli: the device list as data, scripted writes and batch commissioning,
// on the same record conversions, rules and confirmation as the window.
#include <CLI/CLI.hpp>

#include <iostream>

#include "cli/commands.h"
#include "cli/doctor.h"
#include "cli/plan.h"
#include "cli/platform.h"

namespace {

constexpr const char* kFooter = R"(
Exit codes:
  0    success
  1    usage error (bad option, bad value, bad plan file; nothing sent)
  2    refused by a check (the window's rules, or a pre-write check without --force); nothing sent to that device
  3    time-out, or a device not heard
  4    network error (with the socket error's text)
  5    doctor: at least one finding is an error
  130  stopped by Ctrl+C (what was confirmed is printed)

Fields of list and watch (JSON names, CSV header, table header):
  identity, source_address, source_port, heard_via (broadcast|multicast|both),
  announcements, format_flag, auto (on|off), ip, mask, gateway, dns1, dns2,
  server, port, mac (all six bytes, the fourth derived as the window shows it), name.
  An address that is not set is an empty text.

Plan columns for apply: identity plus any of ip, mask, gateway, dns1, dns2,
server, port, mac5, mac6, name, auto; an empty cell keeps the device's value.

Pre-write checks (refused unless --force): mask not contiguous; gateway outside
the device's subnet; device address equal to its subnet's network or broadcast
address; device address already announced by another device heard in this run.
set and apply listen one second before the first write so that they know the
devices around.)";

struct Common {
  cli::SessionOptions session;
};

void AddCommon(CLI::App* command, Common& common) {
  command->add_option("--interface", common.session.interfaceName,
                      "hear and send through this network adapter only (its name or one of its IPv4 addresses)");
  command->add_option("--pcap", common.session.pcapPath,
                      "write every datagram received and sent to FILE (pcap format, opens in Wireshark)");
}

}  // namespace

int main(int argc, char** argv) {
  cli::PrepareConsole();
  const std::vector<std::string> args = cli::Utf8Arguments(argc, argv);

  CLI::App app{"orven-cli: lists, watches and writes ORVEN field devices (UDP 60080, group 230.1.1.100:60081)",
               "orven-cli"};
  app.footer(kFooter);
  app.require_subcommand(1);
  // Paths such as /tmp/plan.csv are arguments, not Windows-style options.
  app.allow_windows_style_options(false);
  Common common;

  double seconds = 3;
  std::string listFormat = "table";
  CLI::App* list = app.add_subcommand("list", "listen for N seconds and print every device heard, in the order first heard");
  list->add_option("--seconds", seconds, "how long to listen (default 3)")->check(CLI::Range(0.1, 86400.0));
  list->add_option("--format", listFormat, "table, json or csv (default table)")
      ->check(CLI::IsMember({"table", "json", "csv"}));
  AddCommon(list, common);

  std::string watchFormat = "jsonl";
  CLI::App* watch = app.add_subcommand("watch", "one line per new device and per changed configuration, until Ctrl+C");
  watch->add_option("--format", watchFormat, "jsonl or table (default jsonl)")->check(CLI::IsMember({"jsonl", "table"}));
  AddCommon(watch, common);

  cli::WriteSettings settings;
  std::string ident;
  std::map<std::string, std::string> values;
  CLI::App* set = app.add_subcommand(
      "set", "wait for the device's announcement, apply the options to its configuration and write it until confirmed");
  set->add_option("IDENT", ident, "the device's identity (hexadecimal)")->required();
  const std::pair<const char*, const char*> fields[] = {
      {"ip", "device address"},      {"mask", "subnet mask"},        {"gateway", "gateway"},
      {"dns1", "first DNS server"},  {"dns2", "second DNS server"},  {"server", "central server's address"},
      {"port", "central server's port (1-65535)"}, {"mac5", "fifth hardware-address byte (hexadecimal)"},
      {"mac6", "sixth hardware-address byte (hexadecimal)"},
      {"name", "device name (at most 30 bytes in code page 936; longer is refused, not cut)"},
      {"auto", "automatic addressing: on or off"}};
  for (const auto& [name, help] : fields) {
    set->add_option_function<std::string>(std::string("--") + name,
                                          [&values, name = std::string(name)](const std::string& v) { values[name] = v; },
                                          help);
  }
  set->add_option("--timeout", settings.timeoutSeconds, "seconds until the write counts as timed out (default 30)")
      ->check(CLI::Range(1, 3600));
  set->add_flag("--dry-run", settings.dryRun, "decide and show the record, send nothing");
  set->add_flag("--force", settings.force, "write despite the pre-write checks");
  AddCommon(set, common);

  std::string planPath;
  CLI::App* apply = app.add_subcommand("apply", "write a plan (CSV, one row per device) to all its devices at once");
  apply->add_option("PLAN", planPath, "the plan file")->required();
  apply->add_option("--timeout", settings.timeoutSeconds, "seconds until the writes count as timed out (default 30)")
      ->check(CLI::Range(1, 3600));
  apply->add_flag("--keep-going", settings.keepGoing, "a device refused by a check does not stop the others");
  apply->add_flag("--dry-run", settings.dryRun, "check the plan against the devices and show the records, send nothing");
  apply->add_flag("--force", settings.force, "write despite the pre-write checks");
  AddCommon(apply, common);

  int doctorExit = 0;
  CLI::App* doctor = cli::SetupDoctor(app, doctorExit);

  try {
    std::vector<std::string> reversed(args.rbegin(), args.rend() - 1);
    app.parse(reversed);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);
    return code == 0 ? 0 : 1;
  }
  if (doctor->parsed()) return doctorExit;  // its callback ran it

  cli::CatchInterrupt();
  try {
    if (list->parsed()) {
      const auto format = listFormat == "json" ? cli::ListFormat::Json
                          : listFormat == "csv" ? cli::ListFormat::Csv
                                                : cli::ListFormat::Table;
      return cli::RunList(common.session, seconds, format);
    }
    if (watch->parsed())
      return cli::RunWatch(common.session, watchFormat == "table" ? cli::WatchFormat::Table : cli::WatchFormat::JsonLines);
    std::vector<cli::WriteJob> jobs;
    if (set->parsed()) {
      cli::WriteJob job;
      if (!cli::ParseIdentity(ident, job.ident))
        throw cli::Failure(1, "IDENT: '" + ident + "' is not 1 to 16 hexadecimal digits");
      for (const auto& [name, value] : values)
        if (std::string p = cli::SetChange(job.changes, name, value); !p.empty()) throw cli::Failure(1, "--" + p);
      if (std::string p = cli::CheckCombination(job.changes); !p.empty()) throw cli::Failure(1, "--" + p);
      jobs.push_back(job);
    } else {
      for (const cli::PlanRow& row : cli::ReadPlan(planPath)) jobs.push_back({row.ident, row.changes});
      settings.progress = cli::ErrorIsTerminal();
    }
    return cli::RunWrites(common.session, jobs, settings);
  } catch (const cli::Failure& failure) {
    std::cerr << "orven-cli: " << failure.what() << '\n';
    return failure.ExitCode();
  } catch (const std::exception& e) {
    std::cerr << "orven-cli: " << e.what() << '\n';
    return 4;
  }
}
