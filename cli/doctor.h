// orven-cli doctor: listens on every adapter for a while, asks the system
// about its adapters, routes, ports and firewall, and says why devices may
// not be heard or not be reached. It sends nothing.
#pragma once

#include <CLI/CLI.hpp>

#include <string>

namespace cli {

struct DoctorOptions {
  double seconds = 5;
  std::string format = "text";  // text or json
};

// Declares the subcommand on 'app'; when it is given, its callback runs the
// doctor and stores the exit code in 'exitCode': 0 when no finding is an
// error, 5 when one is, 1/4/130 as for the other commands.
CLI::App* SetupDoctor(CLI::App& app, int& exitCode);

int RunDoctor(const DoctorOptions& options);

}  // namespace cli
