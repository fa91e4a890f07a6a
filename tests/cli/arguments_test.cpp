// The arguments as CLI11 gets them from orven-cli and orven-devsim: what it
// did not expect is named in the order typed.
#include <gtest/gtest.h>

#include "cli/parse_arguments.h"

namespace {

std::string Unexpected(CLI::App& app, const std::vector<std::string>& args) {
  try {
    cli::ParseArguments(app, args);
  } catch (const CLI::ExtrasError& e) {
    return e.what();
  }
  return "(no error)";
}

TEST(ParseArguments, NamesUnexpectedArgumentsInTheOrderTyped) {
  CLI::App app;
  int seconds = 0;
  CLI::App* list = app.add_subcommand("list");
  list->add_option("--seconds", seconds);
  EXPECT_EQ(Unexpected(app, {"list", "a", "b", "--seconds", "2", "c"}),
            "The following arguments were not expected: a b c");
  EXPECT_EQ(seconds, 2) << "the options around them are taken";

  CLI::App plain;  // no subcommand, as orven-devsim
  bool quiet = false;
  plain.add_flag("--quiet", quiet);
  EXPECT_EQ(Unexpected(plain, {"x", "--quiet", "y"}), "The following arguments were not expected: x y");
  CLI::App one;
  EXPECT_EQ(Unexpected(one, {"x"}), "The following argument was not expected: x");
}

}  // namespace
