// orven-cli's help lists the exit codes and the fields from their tables; the
// README and the manual page quote those lists and must not drift from them.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>

#include "cli/command.h"
#include "cli/exit_codes.h"
#include "device/field_table.h"

namespace {

std::string Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The help's paragraph that begins with 'start'.
std::string Paragraph(const std::string& help, const std::string& start) {
  const std::size_t at = help.find(start);
  if (at == std::string::npos) return {};
  return help.substr(at, help.find("\n\n", at) - at);
}

std::string Indented(const std::string& text, const std::string& indent) {
  std::string out;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) out += (out.empty() ? "" : "\n") + indent + line;
  return out;
}

TEST(Help, ExitCodesAndFieldsAreTheOnesTheReadmeAndManualPageQuote) {
  CLI::App app;
  cli::Common common;
  cli::SetUpProgram(app, common);
  const std::string help = app.help();
  const std::string exitCodes = Paragraph(help, "Exit codes:");
  const std::string fields = Paragraph(help, "Fields of list and watch");
  const std::string plan = Paragraph(help, "Plan columns for apply:");
  for (const cli::ExitCodeRow& row : cli::kExitCodes)
    EXPECT_NE(exitCodes.find("  " + std::to_string(row.code) + " "), std::string::npos) << exitCodes;
  for (const device::Field& field : device::kFields)
    EXPECT_TRUE(std::regex_search(plan, std::regex(std::string("\\b") + field.key + "[,;]"))) << plan;
  EXPECT_NE(fields.find("mac (all six bytes"), std::string::npos) << fields;

  // The README quotes each list as a block indented by four blanks.
  const std::string readme = Read(ORVEN_SOURCE_DIR "/README.md");
  ASSERT_FALSE(readme.empty());
  for (const std::string& quoted : {exitCodes, fields, plan})
    EXPECT_NE(readme.find(Indented(quoted, "    ")), std::string::npos) << "README.md lacks:\n" << quoted;

  // The manual page: the two lists verbatim, the exit codes as tagged paragraphs.
  std::string manual = Read(ORVEN_SOURCE_DIR "/packaging/orven-cli.1");
  ASSERT_FALSE(manual.empty());
  manual = std::regex_replace(manual, std::regex(R"(\\-)"), "-");
  for (const std::string& quoted : {fields, plan})
    EXPECT_NE(manual.find(quoted), std::string::npos) << "orven-cli.1 lacks:\n" << quoted;
  std::string tagged;
  const std::regex entry(R"(\.TP\n\.B (\d+)\n([^\n]*)\n)");
  for (std::sregex_iterator it(manual.begin(), manual.end(), entry), end; it != end; ++it)
    tagged += "\n  " + (*it)[1].str() + std::string(5 - (*it)[1].length(), ' ') + (*it)[2].str();
  EXPECT_EQ("Exit codes:" + tagged, exitCodes);
}

}  // namespace
