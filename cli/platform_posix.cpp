#include <unistd.h>

#include <csignal>
#include <cstdlib>

#include "cli/platform.h"

namespace cli {

namespace {
volatile std::sig_atomic_t g_interrupted = 0;
extern "C" void OnInterrupt(int) { g_interrupted = 1; }
}  // namespace

std::vector<std::string> Utf8Arguments(int argc, char** argv) { return {argv, argv + argc}; }
void PrepareConsole() {}
bool ErrorIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }
bool UserLanguageIsChinese() {
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"})
    if (const char* value = std::getenv(name); value != nullptr && *value != '\0')
      return std::string(value).rfind("zh", 0) == 0;
  return false;
}
void CatchInterrupt() { std::signal(SIGINT, OnInterrupt); }
bool Interrupted() { return g_interrupted != 0; }

}  // namespace cli
