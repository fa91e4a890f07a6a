// The little the command line needs from the platform besides sockets:
// platform_posix.cpp and platform_win32.cpp implement it.
#pragma once

#include <string>
#include <vector>

namespace cli {

// The arguments as UTF-8 (Windows passes them in the ANSI code page).
std::vector<std::string> Utf8Arguments(int argc, char** argv);
// Lets the console show UTF-8 output.
void PrepareConsole();
// True when standard error is a terminal (the progress line goes there).
bool ErrorIsTerminal();
// True when the user's language is Chinese (LC_ALL, LC_MESSAGES or LANG
// beginning "zh"; on Windows the user's interface language).
bool UserLanguageIsChinese();

// Ctrl+C: after CatchInterrupt(), Interrupted() turns true at the first one.
void CatchInterrupt();
bool Interrupted();

}  // namespace cli
