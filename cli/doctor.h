// orven-cli doctor: listens on every adapter for a while, asks the system
// about its adapters, routes, ports and firewall, and says why devices may
// not be heard or not be reached. It sends nothing.
#pragma once

#include <string>

namespace cli {

struct DoctorOptions {
  double seconds = 5;
  std::string format = "text";  // text or json
};

// Runs the doctor: 0 when no finding is an error, 5 when one is (the
// subcommand itself is set up by SetUpDoctor, cli/command.h).
int RunDoctor(const DoctorOptions& options);

}  // namespace cli
