#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <windows.h>
#include <shellapi.h>

#include <csignal>

#include "cli/platform.h"

namespace cli {

namespace {
volatile std::sig_atomic_t g_interrupted = 0;
extern "C" void OnInterrupt(int) {
  g_interrupted = 1;
  std::signal(SIGINT, OnInterrupt);  // the handler is reset before each call
}
}  // namespace

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
  int count = 0;
  LPWSTR* wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (wide == nullptr) return {argv, argv + argc};
  std::vector<std::string> args;
  for (int i = 0; i < count; ++i) {
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
    std::string arg(n > 0 ? static_cast<std::size_t>(n) : 1, '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, arg.data(), n, nullptr, nullptr);
    arg.resize(arg.size() - 1);
    args.push_back(arg);
  }
  ::LocalFree(wide);
  return args;
}

void PrepareConsole() {
  ::SetConsoleOutputCP(CP_UTF8);
  // CSV ends its records with CRLF itself; text mode would make that CR CR LF,
  // which no CSV reader (nor apply) takes as one record end.
  ::_setmode(::_fileno(stdout), _O_BINARY);
}
bool ErrorIsTerminal() { return ::_isatty(::_fileno(stderr)) != 0; }
bool UserLanguageIsChinese() { return PRIMARYLANGID(::GetUserDefaultUILanguage()) == LANG_CHINESE; }
void CatchInterrupt() { std::signal(SIGINT, OnInterrupt); }
bool Interrupted() { return g_interrupted != 0; }

}  // namespace cli
