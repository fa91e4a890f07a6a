// How orven-cli is put together: one setup function per subcommand (in a
// file of its own) adds the subcommand with its options and a callback that
// runs it; SetUpProgram assembles them.
#pragma once

#include <CLI/CLI.hpp>

#include <functional>
#include <string>
#include <vector>

#include "cli/session.h"

namespace cli {

// What every subcommand shares.
struct Common {
  SessionOptions session;
  int exitCode = 0;  // what the subcommand that ran returned
};

// --interface and --pcap.
void AddCommonOptions(CLI::App* command, Common& common);
// --seconds: how long to listen; 'seconds' holds the default.
void AddSecondsOption(CLI::App* command, double& seconds);
// --format: one of 'formats'; 'format' holds the default.
void AddFormatOption(CLI::App* command, std::string& format, const std::vector<std::string>& formats);
// The subcommand's callback: Ctrl+C is caught, then 'run' runs and its exit
// code becomes the program's.
void OnRun(CLI::App* command, Common& common, std::function<int()> run);

void SetUpList(CLI::App& app, Common& common);
void SetUpWatch(CLI::App& app, Common& common);
void SetUpSet(CLI::App& app, Common& common);
void SetUpApply(CLI::App& app, Common& common);
void SetUpPlan(CLI::App& app, Common& common);
void SetUpVerify(CLI::App& app, Common& common);
void SetUpDoctor(CLI::App& app, Common& common);
void SetUpHistory(CLI::App& app, Common& common);
void SetUpUndo(CLI::App& app, Common& common);

// The program: its description, every subcommand, the help's footer.
void SetUpProgram(CLI::App& app, Common& common);

}  // namespace cli
