// orven-devsim: simulated devices for the setup tool, one UDP socket for all.
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "options.h"
#include "simulator.h"

namespace {

volatile std::sig_atomic_t g_stop = 0;

extern "C" void onStopSignal(int) { g_stop = 1; }

void installSignalHandlers() {
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = onStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no SA_RESTART: poll returns at once with EINTR
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  // A closed stdout (e.g. piped into head) must not kill the simulator.
  std::signal(SIGPIPE, SIG_IGN);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  std::string error;
  const auto options = devsim::parseOptions(args, error);
  if (!options) {
    std::fprintf(stderr, "orven-devsim: %s\n", error.c_str());
    return 2;
  }
  if (options->help) {
    std::fputs(devsim::helpText().c_str(), stdout);
    return 0;
  }
  installSignalHandlers();
  devsim::Counters counters;
  if (!devsim::runSimulator(*options, g_stop, counters, error)) {
    std::fprintf(stderr, "orven-devsim: %s\n", error.c_str());
    return 1;
  }
  std::printf("%s\n", devsim::summaryLine(counters).c_str());
  std::fflush(stdout);
  return 0;
}
