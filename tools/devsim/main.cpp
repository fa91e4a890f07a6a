// orven-devsim: simulated devices for the setup tool, one UDP socket for all.
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/platform.h"
#include "network_check.h"
#include "options.h"
#include "simulator.h"

namespace {

volatile std::sig_atomic_t g_stop = 0;

extern "C" void onStopSignal(int) { g_stop = 1; }

// Ctrl+C (and on Windows Ctrl+Break) or a termination request stop the
// simulator after its current pass (at most 100 ms), with the summary line.
void installSignalHandlers() {
  std::signal(SIGINT, onStopSignal);
  std::signal(SIGTERM, onStopSignal);
#ifdef SIGBREAK
  std::signal(SIGBREAK, onStopSignal);
#endif
#ifdef SIGPIPE
  // A closed stdout (e.g. piped into head) must not kill the simulator.
  std::signal(SIGPIPE, SIG_IGN);
#endif
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  int exitCode = 0;
  const auto options = devsim::parseOptions(args, exitCode);
  if (!options) return exitCode;
  // Before any socket is opened: nowhere but off every network unless allowed.
  if (!options->realNetwork) {
    const devsim::NetworkCheck check = devsim::CheckNetwork();
    if (!check.clear()) {
      cli::PrepareConsole();  // the Chinese text on a Windows console
      std::fputs(devsim::RefusalText(check, cli::UserLanguageIsChinese()).c_str(), stderr);
      return devsim::kExitRealNetwork;
    }
  }
  installSignalHandlers();
  std::string error;
  devsim::Counters counters;
  if (!devsim::runSimulator(*options, g_stop, counters, error)) {
    std::fprintf(stderr, "orven-devsim: %s\n", error.c_str());
    return 1;
  }
  std::printf("%s\n", devsim::summaryLine(counters).c_str());
  std::fflush(stdout);
  return 0;
}
