#include "journal/journal.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <random>
#include <unordered_map>
#include <unordered_set>

#include <nlohmann/json.hpp>

#include "device/field_table.h"
#include "device/fields.h"
#include "journal/store.h"

#ifndef ORVEN_VERSION
#define ORVEN_VERSION ""
#endif

namespace journal {

namespace {

using Json = nlohmann::ordered_json;

constexpr std::string_view kFileName = "journal.jsonl";
// No entry comes near this; a longer line is not one of ours.
constexpr std::size_t kLongestLine = 1 << 20;

std::string NewId() {
  static std::mt19937_64 random = [] {
    std::random_device device;
    const auto now = static_cast<std::uint64_t>(std::chrono::system_clock::now().time_since_epoch().count());
    std::seed_seq seed{device(), device(), static_cast<unsigned>(now), static_cast<unsigned>(now >> 32)};
    return std::mt19937_64(seed);
  }();
  char text[16];
  std::snprintf(text, sizeof text, "%012llx", static_cast<unsigned long long>(random() & 0xFFFFFFFFFFFFull));
  return text;
}

std::string Hex(const void* data, std::size_t size) {
  static const char digits[] = "0123456789ABCDEF";
  std::string text;
  for (std::size_t i = 0; i < size; ++i) {
    const auto byte = static_cast<const unsigned char*>(data)[i];
    text += digits[byte >> 4];
    text += digits[byte & 15];
  }
  return text;
}

int Nibble(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool FromHex(const std::string& text, void* data, std::size_t size) {
  if (text.size() != 2 * size) return false;
  for (std::size_t i = 0; i < size; ++i) {
    const int high = Nibble(text[2 * i]), low = Nibble(text[2 * i + 1]);
    if (high < 0 || low < 0) return false;
    static_cast<unsigned char*>(data)[i] = static_cast<unsigned char>(high * 16 + low);
  }
  return true;
}

// Every field as orven-cli shows it, for other tools, then the record's
// bytes, which are what a reader takes.
Json RecordJson(const device::DeviceEntry& entry) {
  Json record = Json::object();
  for (const device::Field& field : device::kFields) record[field.key] = device::FieldText(entry.Config, field);
  record["format_flag"] = entry.HAddrFormat;
  record["record"] = Hex(&entry.Config, sizeof entry.Config);
  return record;
}

std::string Text(const Json& object, const char* key) {
  const auto it = object.find(key);
  return it != object.end() && it->is_string() ? it->get<std::string>() : std::string();
}

bool RecordFromJson(const Json& object, const char* key, device::DeviceEntry& entry) {
  const auto it = object.find(key);
  if (it == object.end() || !it->is_object()) return false;
  if (!FromHex(Text(*it, "record"), &entry.Config, sizeof entry.Config)) return false;
  const auto flag = it->find("format_flag");
  entry.HAddrFormat = flag != it->end() && flag->is_number_unsigned() && flag->get<unsigned>() <= 255
                          ? static_cast<std::uint8_t>(flag->get<unsigned>())
                          : 0;
  return true;
}

bool ParseIdent(const std::string& text, std::uint64_t& ident) {
  if (text.empty() || text.size() > 16) return false;
  ident = 0;
  for (char c : text) {
    const int n = Nibble(c);
    if (n < 0) return false;
    ident = ident << 4 | static_cast<unsigned>(n);
  }
  return true;
}

std::string Dump(const Json& json) { return json.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n"; }

// The lines of a text, each with whether a newline ended it.
template <typename Visit>
void ForEachLine(std::string_view text, Visit visit) {
  std::size_t number = 0;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    const bool ended = end != std::string_view::npos;
    text.remove_prefix(ended ? end + 1 : text.size());
    ++number;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    visit(number, line, ended);
  }
}

Json ParseLine(std::string_view line) {
  if (line.size() > kLongestLine) return Json(Json::value_t::discarded);
  return Json::parse(line.begin(), line.end(), nullptr, false);
}

// The date and time 'days' before an ISO 8601 time (same time of day).
std::string DaysBefore(const std::string& time, int days) {
  int y = 0;
  unsigned m = 0, d = 0;
  if (time.size() < 10 || std::sscanf(time.c_str(), "%4d-%2u-%2u", &y, &m, &d) != 3) return "";
  const std::chrono::year_month_day date{std::chrono::sys_days{std::chrono::year{y} / m / d} - std::chrono::days{days}};
  char text[16];
  std::snprintf(text, sizeof text, "%04d-%02u-%02u", static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
                static_cast<unsigned>(date.day()));
  return text + time.substr(10);
}

}  // namespace

std::string UtcNow() {
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
#ifdef _WIN32
  gmtime_s(&utc, &now);
#else
  gmtime_r(&now, &utc);
#endif
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

std::string PathIn(const std::string& folder) { return store::Join(folder, kFileName); }

std::string DefaultPath() {
  const std::string folder = store::DefaultFolder();
  return folder.empty() ? "" : PathIn(folder);
}

Journal::Journal(std::string program, std::string command, std::string folder)
    : program_(std::move(program)), command_(std::move(command)), folder_(std::move(folder)),
      workstation_(store::WorkstationName()) {}

bool Journal::Append(const std::string& line, bool mayTrim) {
  unsigned long long size = 0;
  // The platform's place is looked up at each write: it follows the environment.
  const std::string folder = folder_.empty() ? store::DefaultFolder() : folder_;
  path_ = folder.empty() ? "" : PathIn(folder);
  problem_ = store::MakeFolder(folder);
  if (problem_.empty()) problem_ = store::AppendDurably(path_, line, size);
  if (problem_.empty() && mayTrim) TrimIfLarge(size);
  return problem_.empty();
}

std::string Journal::Begin(const Write& write) { return Begin(std::vector<Write>{write}).front(); }

std::vector<std::string> Journal::Begin(const std::vector<Write>& writes) {
  std::vector<std::string> ids;
  std::string lines;
  const std::string now = UtcNow();
  for (const Write& write : writes) {
    ids.push_back(NewId());
    Json line = Json::object();
    line["entry"] = ids.back();
    line["time"] = now;
    line["program"] = program_;
    line["version"] = ORVEN_VERSION;
    line["command"] = command_;
    line["workstation"] = workstation_;
    line["adapter"] = Json{{"name", write.adapter.name}, {"index", write.adapter.index}};
    line["identity"] = device::IdentityText(write.ident);
    if (!write.undoOf.empty()) line["undo_of"] = write.undoOf;
    line["before"] = RecordJson(write.before);
    line["after"] = RecordJson(write.after);
    lines += Dump(line);
  }
  // The trim waits for an outcome: it never delays a write.
  if (!writes.empty() && !Append(lines, false)) ids.assign(writes.size(), std::string());
  return ids;
}

bool Journal::End(const std::string& id, std::string_view outcome, const std::string& time) {
  return End(std::vector<Ending>{{id, outcome, time}});
}

bool Journal::End(const std::vector<Ending>& endings) {
  std::string lines;
  const std::string now = UtcNow();
  for (const Ending& ending : endings) {
    if (ending.id.empty()) continue;
    Json line = Json::object();
    line["outcome_of"] = ending.id;
    line["outcome"] = std::string(ending.outcome);
    line["time"] = ending.time.empty() ? now : ending.time;
    lines += Dump(line);
  }
  return !lines.empty() && Append(lines, true);
}

void Journal::TrimIfLarge(unsigned long long size) {
  if (trimChecked_ || size < kTrimAboveBytes) return;
  trimChecked_ = true;  // once per run: a journal of young entries stays as it is
  std::string text;
  bool missing = false;
  if (!store::ReadAll(path_, text, missing).empty() || missing) return;
  const std::string kept = Trimmed(text, UtcNow());
  if (kept.size() != text.size()) store::ReplaceDurably(path_, kept);
}

Contents Parse(std::string_view text) {
  Contents contents;
  std::unordered_map<std::string, std::size_t> byId;
  ForEachLine(text, [&](std::size_t number, std::string_view line, bool ended) {
    if (line.empty()) return;
    const std::string where = "line " + std::to_string(number) + ": ";
    const Json json = ParseLine(line);
    if (!json.is_object()) {
      contents.warnings.push_back(where + (ended ? "not a journal entry; skipped"
                                                 : "the last entry is cut off (torn while written); skipped"));
      return;
    }
    if (const std::string of = Text(json, "outcome_of"); !of.empty()) {
      const auto it = byId.find(of);
      if (it == byId.end()) {
        contents.warnings.push_back(where + "an outcome of entry " + of + ", which the journal does not hold; skipped");
        return;
      }
      Entry& entry = contents.entries[it->second];
      entry.outcome = Text(json, "outcome");
      entry.outcomeTime = Text(json, "time");
      return;
    }
    Entry entry;
    entry.id = Text(json, "entry");
    entry.time = Text(json, "time");
    if (entry.id.empty() || entry.time.empty() || !ParseIdent(Text(json, "identity"), entry.ident) ||
        !RecordFromJson(json, "before", entry.before) || !RecordFromJson(json, "after", entry.after)) {
      contents.warnings.push_back(where + "not a complete journal entry; skipped");
      return;
    }
    entry.program = Text(json, "program");
    entry.version = Text(json, "version");
    entry.command = Text(json, "command");
    entry.workstation = Text(json, "workstation");
    entry.undoOf = Text(json, "undo_of");
    if (const auto adapter = json.find("adapter"); adapter != json.end() && adapter->is_object()) {
      entry.adapter.name = Text(*adapter, "name");
      const auto index = adapter->find("index");
      if (index != adapter->end() && index->is_number_unsigned() && index->get<std::uint64_t>() <= 0xFFFFFFFFu)
        entry.adapter.index = index->get<unsigned>();
    }
    if (byId.count(entry.id)) {
      contents.warnings.push_back(where + "a second entry " + entry.id + "; skipped");
      return;
    }
    byId.emplace(entry.id, contents.entries.size());
    contents.entries.push_back(std::move(entry));
  });
  return contents;
}

std::string Read(const std::string& path, Contents& contents) {
  contents = {};
  if (path.empty()) return "no folder for the journal";
  std::string text;
  bool missing = false;
  if (std::string problem = store::ReadAll(path, text, missing); !problem.empty()) return problem;
  contents = Parse(text);
  return "";
}

std::string Trimmed(std::string_view text, const std::string& now) {
  struct Line {
    std::string_view text;
    std::string id;    // of an entry
    std::string of;    // of an outcome
    std::string time;  // of an entry
  };
  std::vector<Line> lines;
  std::size_t entries = 0;
  ForEachLine(text, [&](std::size_t, std::string_view line, bool) {
    const Json json = ParseLine(line);
    if (!json.is_object()) return;  // torn lines go
    Line& kept = lines.emplace_back();
    kept.text = line;
    kept.id = Text(json, "entry");
    kept.of = Text(json, "outcome_of");
    kept.time = Text(json, "time");
    if (!kept.id.empty()) ++entries;
  });
  const std::string cutoff = DaysBefore(now, kKeepDays);
  std::unordered_set<std::string> dropped;
  std::size_t seen = 0;
  for (const Line& line : lines) {
    if (line.id.empty()) continue;
    // The oldest first: beyond the newest kKeepEntries and older than the cut-off.
    if (entries - seen > kKeepEntries && !cutoff.empty() && line.time < cutoff) dropped.insert(line.id);
    ++seen;
  }
  if (dropped.empty()) return std::string(text);
  std::string kept;
  for (const Line& line : lines)
    if (!dropped.count(line.id.empty() ? line.of : line.id)) kept.append(line.text).append("\n");
  return kept;
}

}  // namespace journal
