// The arguments handed to CLI11 as its parse() takes them (last first: it
// takes each from the back), for orven-cli and orven-devsim alike.
#pragma once

#include <CLI/CLI.hpp>

#include <string>
#include <vector>

namespace cli {

namespace detail {

// The arguments no option and no subcommand took, in the order given.
inline std::vector<std::string> Unexpected(const CLI::App& app) {
  std::vector<std::string> extras = app.remaining();
  for (const CLI::App* sub : app.get_subcommands()) {
    const std::vector<std::string> more = Unexpected(*sub);
    extras.insert(extras.end(), more.begin(), more.end());
  }
  return extras;
}

}  // namespace detail

// Parses 'args' (the arguments after the program's name) and throws what
// CLI11 throws, except that the message of an ExtrasError names the
// unexpected arguments in the order they were given: CLI11 2.1's own
// message names them last first.
inline void ParseArguments(CLI::App& app, const std::vector<std::string>& args) {
  std::vector<std::string> reversed(args.rbegin(), args.rend());
  try {
    app.parse(reversed);
  } catch (const CLI::ExtrasError&) {
    const std::vector<std::string> extras = detail::Unexpected(app);
    if (extras.empty()) throw;
    std::string text = extras.size() > 1 ? "The following arguments were not expected:"
                                         : "The following argument was not expected:";
    for (const std::string& extra : extras) text += " " + extra;
    throw CLI::ExtrasError(text, CLI::ExitCodes::ExtrasError);
  }
}

}  // namespace cli
