// orven-cli: the device list as data, scripted writes and batch commissioning,
// on the same record conversions, rules and confirmation as the window.
#include <CLI/CLI.hpp>

#include <iostream>

#include "cli/command.h"
#include "cli/exit_codes.h"
#include "cli/parse_arguments.h"
#include "cli/platform.h"

int main(int argc, char** argv) {
  cli::PrepareConsole();
  const std::vector<std::string> args = cli::Utf8Arguments(argc, argv);
  CLI::App app;
  cli::Common common;
  cli::SetUpProgram(app, common);
  try {
    // The subcommand's callback runs inside the parse.
    cli::ParseArguments(app, std::vector<std::string>(args.begin() + (args.empty() ? 0 : 1), args.end()));
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? cli::kExitSuccess : cli::kExitUsage;
  } catch (const cli::Failure& failure) {
    std::cerr << "orven-cli: " << failure.what() << '\n';
    return failure.ExitCode();
  } catch (const std::exception& e) {
    std::cerr << "orven-cli: " << e.what() << '\n';
    return cli::kExitNetwork;
  }
  return common.exitCode;
}
