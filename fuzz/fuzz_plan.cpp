// orven-cli's plan reader (cli/plan.*) with arbitrary file contents. A plan
// comes from the user's spreadsheet, so whatever the bytes, the reader either
// gives rows or refuses the file with exit code 1 and messages that name a
// line of the file; it never crashes, hangs or throws anything else.
//
// Checked besides: UTF-8 is judged as utfcpp judges it (an independent
// reader); every message line is UTF-8 text without control characters that
// starts with the file name and a line number within the file; the rows given come in file order with
// distinct identities; a leading byte-order mark changes nothing.
#include <utf8cpp/utf8.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "cli/plan.h"
#include "cli/session.h"
#include "fuzz/fuzz_common.h"

namespace {

const std::string kFile = "plan.csv";
const std::string kMark = "\xEF\xBB\xBF";

struct Outcome {
  bool refused = false;
  std::string message;
  std::vector<std::pair<int, std::uint64_t>> rows;  // line, identity
};

Outcome Read(const std::string& text) {
  Outcome outcome;
  try {
    for (const cli::PlanRow& row : cli::ParsePlan(text, kFile)) outcome.rows.emplace_back(row.line, row.ident);
  } catch (const cli::Failure& failure) {
    FUZZ_CHECK(failure.ExitCode() == 1);
    outcome.refused = true;
    outcome.message = failure.what();
  }
  // Anything else thrown escapes and is a finding.
  return outcome;
}

// Every line of the message: "plan.csv: line N: ..." with N a line of the
// text (one past the last for a missing row).
void CheckMessage(const std::string& message, int lines) {
  FUZZ_CHECK(!message.empty());
  FUZZ_CHECK(utf8::is_valid(message.begin(), message.end()));
  std::size_t start = 0;
  while (start <= message.size()) {
    const std::size_t end = std::min(message.find('\n', start), message.size());
    const std::string line = message.substr(start, end - start);
    const std::string prefix = kFile + ": ";
    FUZZ_CHECK(line.compare(0, prefix.size(), prefix) == 0);
    // No control character of the file reaches the terminal.
    for (std::size_t i = 0; i < line.size(); ++i) {
      const auto b = static_cast<unsigned char>(line[i]);
      FUZZ_CHECK(b >= 0x20 && b != 0x7F);
      FUZZ_CHECK(!(b == 0xC2 && i + 1 < line.size() && static_cast<unsigned char>(line[i + 1]) < 0xA0));
    }
    const std::string rest = line.substr(prefix.size());
    if (rest.rfind("... and ", 0) != 0) {
      FUZZ_CHECK(rest.rfind("line ", 0) == 0);
      const int n = std::atoi(rest.c_str() + 5);
      FUZZ_CHECK(n >= 1 && n <= lines + 1);
    }
    start = end + 1;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const int lines = 1 + static_cast<int>(std::count(text.begin(), text.end(), '\n'));
  const Outcome outcome = Read(text);

  const std::string body = text.rfind(kMark, 0) == 0 ? text.substr(kMark.size()) : text;
  const auto invalid = utf8::find_invalid(body.begin(), body.end());
  const std::string badText = ": not UTF-8 text";
  const bool saysNotUtf8 = outcome.refused && outcome.message.find('\n') == std::string::npos &&
                           outcome.message.size() >= badText.size() &&
                           outcome.message.compare(outcome.message.size() - badText.size(), badText.size(), badText) == 0;
  if (invalid != body.end()) {
    const int at = 1 + static_cast<int>(std::count(body.begin(), invalid, '\n'));
    FUZZ_CHECK(outcome.message == kFile + ": line " + std::to_string(at) + badText);
  } else {
    FUZZ_CHECK(!saysNotUtf8);
  }

  if (outcome.refused) {
    CheckMessage(outcome.message, lines);
  } else {
    FUZZ_CHECK(!outcome.rows.empty());
    std::set<std::uint64_t> identities;
    int previous = 1;  // the header's line at least
    for (const auto& [line, ident] : outcome.rows) {
      FUZZ_CHECK(line > previous && line <= lines);
      previous = line;
      FUZZ_CHECK(identities.insert(ident).second);
    }
  }

  if (text.rfind(kMark, 0) != 0) {
    const Outcome marked = Read(kMark + text);
    FUZZ_CHECK(marked.refused == outcome.refused);
    FUZZ_CHECK(marked.message == outcome.message);
    FUZZ_CHECK(marked.rows == outcome.rows);
  }
  return 0;
}
