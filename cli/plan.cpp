#include "cli/plan.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>

#include <utf8.h>

#include "cli/exit_codes.h"
#include "cli/output.h"
#include "cli/session.h"
#include "device/field_table.h"
#include "device/fields.h"

namespace cli {

namespace {

constexpr std::size_t kMostProblemsShown = 20;

struct Record {
  int line = 0;
  std::vector<std::string> cells;
};

// A problem as it goes to the terminal: cell texts from the file are quoted
// in it, and a control character in one (a line break in a quoted cell, an
// escape sequence) is shown as an escape instead of acting on the terminal
// or breaking the one-line-per-problem layout. The C1 controls (U+0080 to
// U+009F) count too.
std::string Printable(const std::string& problem) {
  std::string shown;
  for (std::size_t i = 0; i < problem.size(); ++i) {
    const auto b = static_cast<unsigned char>(problem[i]);
    const auto next = i + 1 < problem.size() ? static_cast<unsigned char>(problem[i + 1]) : 0;
    const bool c1 = b == 0xC2 && next >= 0x80 && next < 0xA0;
    if (b >= 0x20 && b != 0x7F && !c1) {
      shown += problem[i];
      continue;
    }
    char escape[8];
    if (c1) {
      std::snprintf(escape, sizeof escape, "\\u%04X", next);
      ++i;
    } else {
      std::snprintf(escape, sizeof escape, "\\x%02X", b);
    }
    shown += b == '\n' ? "\\n" : b == '\t' ? "\\t" : b == '\r' ? "\\r" : escape;
  }
  return shown;
}

int LineAt(const std::string& s, std::size_t offset) {
  return 1 + static_cast<int>(std::count(s.begin(), s.begin() + static_cast<std::ptrdiff_t>(offset), '\n'));
}

std::string Trim(const std::string& s) {
  const std::size_t a = s.find_first_not_of(" \t");
  if (a == std::string::npos) return {};
  return s.substr(a, s.find_last_not_of(" \t") - a + 1);
}

// RFC 4180: cells separated by commas, records by CRLF or LF, a cell in
// double quotes may hold commas, line breaks and doubled quotes.
std::vector<Record> SplitCsv(const std::string& s, std::string& problem) {
  std::vector<Record> records;
  Record record{1, {}};
  std::string cell;
  int line = 1;
  std::size_t i = 0;
  bool cellStarted = false;
  const auto endRecord = [&] {
    record.cells.push_back(cell);
    cell.clear();
    cellStarted = false;
    // A line with nothing on it is no record.
    if (!(record.cells.size() == 1 && record.cells[0].empty())) records.push_back(record);
    record = Record{line, {}};
  };
  while (i < s.size()) {
    const char c = s[i];
    if (c == '"' && !cellStarted) {
      const int opened = line;
      ++i;
      while (true) {
        if (i >= s.size()) {
          problem = "line " + std::to_string(opened) + ": a quoted cell is not closed";
          return {};
        }
        if (s[i] == '"') {
          if (i + 1 < s.size() && s[i + 1] == '"') {
            cell += '"';
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        if (s[i] == '\n') ++line;
        cell += s[i++];
      }
      cellStarted = true;
      if (i < s.size() && s[i] != ',' && s[i] != '\n' && !(s[i] == '\r' && i + 1 < s.size() && s[i + 1] == '\n')) {
        problem = "line " + std::to_string(line) + ": text after the closing quote of a cell";
        return {};
      }
      continue;
    }
    if (c == ',') {
      record.cells.push_back(cell);
      cell.clear();
      cellStarted = false;
      ++i;
    } else if (c == '\n' || (c == '\r' && i + 1 < s.size() && s[i + 1] == '\n')) {
      i += c == '\r' ? 2 : 1;
      ++line;
      endRecord();
    } else if (c == '"') {
      problem = "line " + std::to_string(line) + ": a quote inside a cell that does not begin with one";
      return {};
    } else if (c == '\0' || c == '\r') {
      problem = "line " + std::to_string(line) + ": not CSV text (a " + (c == '\0' ? "zero byte" : "lone carriage return") + ")";
      return {};
    } else {
      cell += c;
      cellStarted = true;
      ++i;
    }
  }
  if (cellStarted || !record.cells.empty()) endRecord();
  return records;
}

}  // namespace

std::vector<PlanRow> ParsePlan(const std::string& content, const std::string& fileName, bool sharedAddresses) {
  std::string text = content;
  if (text.rfind("\xEF\xBB\xBF", 0) == 0) text.erase(0, 3);  // the mark spreadsheets put first
  const auto fail = [&](const std::string& problem) { return Failure(kExitUsage, fileName + ": " + problem); };
  if (const auto bad = utf8::find_invalid(text.begin(), text.end()); bad != text.end())
    throw fail("line " + std::to_string(LineAt(text, static_cast<std::size_t>(bad - text.begin()))) +
               ": not UTF-8 text");
  std::string problem;
  const std::vector<Record> records = SplitCsv(text, problem);
  if (!problem.empty()) throw fail(problem);
  if (records.empty()) throw fail("line 1: the file is empty; it needs a header row and one row per device");

  // The header.
  const Record& header = records.front();
  std::vector<std::string> columns;
  std::vector<std::string> problems;
  std::string known = "identity";
  for (const device::Field& field : device::kFields) known += std::string(", ") + field.key;
  for (const std::string& raw : header.cells) {
    const std::string name = Trim(raw);
    if (name != "identity" && device::FindField(name) == nullptr)
      problems.push_back("line " + std::to_string(header.line) + ": unknown column '" + name + "' (columns: " + known + ")");
    else if (std::find(columns.begin(), columns.end(), name) != columns.end())
      problems.push_back("line " + std::to_string(header.line) + ": column '" + name + "' appears twice");
    columns.push_back(name);
  }
  const auto identityColumn = std::find(columns.begin(), columns.end(), "identity");
  if (identityColumn == columns.end())
    problems.push_back("line " + std::to_string(header.line) + ": no 'identity' column");
  if (records.size() == 1)
    problems.push_back("line " + std::to_string(header.line + 1) + ": no device rows after the header");
  if (!problems.empty() && (identityColumn == columns.end() || records.size() == 1)) {
    std::string all;
    for (const auto& p : problems) all += (all.empty() ? "" : "\n" + fileName + ": ") + Printable(p);
    throw fail(all);
  }

  std::vector<PlanRow> rows;
  std::map<std::uint64_t, int> identLines;
  std::map<std::string, int> ipLines;
  for (std::size_t r = 1; r < records.size(); ++r) {
    const Record& record = records[r];
    const std::string at = "line " + std::to_string(record.line) + ": ";
    if (record.cells.size() != columns.size()) {
      problems.push_back(at + std::to_string(record.cells.size()) + " cells, but the header names " +
                         std::to_string(columns.size()) + " columns");
      continue;
    }
    PlanRow row;
    row.line = record.line;
    bool good = true;
    for (std::size_t c = 0; c < columns.size(); ++c) {
      const std::string& column = columns[c];
      const std::string value = column == "name" ? record.cells[c] : Trim(record.cells[c]);
      if (column == "identity") {
        if (!ParseIdentity(value, row.ident)) {
          problems.push_back(at + "identity '" + value + "' is not 1 to 16 hexadecimal digits");
          good = false;
        }
        continue;
      }
      if (value.empty()) continue;  // keeps the device's value
      if (std::string p = SetChange(row.changes, column, value); !p.empty()) {
        problems.push_back(at + p);
        good = false;
      }
    }
    if (!good) continue;
    if (std::string p = CheckCombination(row.changes); !p.empty()) {
      problems.push_back(at + p);
      continue;
    }
    if (const auto [it, added] = identLines.emplace(row.ident, row.line); !added) {
      problems.push_back(at + "identity " + device::IdentityText(row.ident) + " is already given on line " +
                         std::to_string(it->second));
      continue;
    }
    if (const auto& ip = row.changes["ip"]; ip && !sharedAddresses) {
      if (const auto [it, added] = ipLines.emplace(*ip, row.line); !added) {
        problems.push_back(at + "ip " + *ip + " is already given on line " + std::to_string(it->second));
        continue;
      }
    }
    rows.push_back(row);
  }
  if (!problems.empty()) {
    std::string all;
    for (std::size_t i = 0; i < problems.size() && i < kMostProblemsShown; ++i)
      all += (i ? "\n" + fileName + ": " : "") + Printable(problems[i]);
    if (problems.size() > kMostProblemsShown)
      all += "\n" + fileName + ": ... and " + std::to_string(problems.size() - kMostProblemsShown) + " more";
    throw fail(all);
  }
  return rows;
}

std::vector<PlanRow> ReadPlan(const std::string& path, bool sharedAddresses) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw Failure(kExitUsage, path + ": cannot be read");
  std::ostringstream content;
  content << in.rdbuf();
  return ParsePlan(content.str(), path, sharedAddresses);
}

std::string PlanText(const std::vector<PlanRow>& rows) {
  std::vector<std::size_t> used;
  for (std::size_t f = 0; f < device::kFields.size(); ++f)
    if (std::any_of(rows.begin(), rows.end(), [f](const PlanRow& r) { return r.changes.values[f].has_value(); }))
      used.push_back(f);
  std::vector<std::string> header{"identity"};
  for (std::size_t f : used) header.push_back(device::kFields[f].key);
  std::vector<Row> cells;
  for (const PlanRow& r : rows) {
    Row& row = cells.emplace_back(Row{{"identity", device::IdentityText(r.ident)}});
    for (std::size_t f : used) row.push_back({device::kFields[f].key, r.changes.values[f].value_or("")});
  }
  std::ostringstream out;
  WriteCsv(out, header, cells);
  return out.str();
}

}  // namespace cli
