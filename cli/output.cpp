#include "cli/output.h"

#include <nlohmann/json.hpp>
#include <utf8.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace cli {

namespace {

nlohmann::ordered_json JsonObject(const Row& row) {
  nlohmann::ordered_json object = nlohmann::ordered_json::object();
  for (const Field& f : row) {
    if (f.number)
      object[f.name] = std::stoull(f.text);
    else
      object[f.name] = f.text;
  }
  return object;
}

std::string CsvCell(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

// East Asian wide and full-width ranges.
bool Wide(char32_t c) {
  return (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF) || (c >= 0xAC00 && c <= 0xD7A3) ||
         (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
         (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x20000 && c <= 0x3FFFD);
}

}  // namespace

std::size_t DisplayWidth(const std::string& utf8) {
  std::size_t width = 0;
  for (auto it = utf8.begin(); it != utf8.end();) {
    char32_t c = '?';
    try {
      c = utf8::next(it, utf8.end());
    } catch (const utf8::exception&) {
      ++it;  // not UTF-8 (our texts always are): one column a byte
    }
    width += Wide(c) ? 2 : 1;
  }
  return width;
}

void WriteTable(std::ostream& out, const std::vector<std::string>& header, const std::vector<Row>& rows) {
  std::vector<std::size_t> widths;
  for (const std::string& name : header) widths.push_back(DisplayWidth(name));
  for (const Row& row : rows)
    for (std::size_t i = 0; i < row.size() && i < widths.size(); ++i)
      widths[i] = std::max(widths[i], DisplayWidth(row[i].text));
  const auto line = [&](auto cell) {
    std::string text;
    for (std::size_t i = 0; i < widths.size(); ++i) {
      const std::string c = cell(i);
      text += c;
      if (i + 1 < widths.size()) text.append(widths[i] - DisplayWidth(c) + 2, ' ');
    }
    out << text << '\n';
  };
  line([&](std::size_t i) { return header[i]; });
  for (const Row& row : rows) line([&](std::size_t i) { return row[i].text; });
}

void WriteJson(std::ostream& out, const std::vector<Row>& rows) {
  nlohmann::ordered_json array = nlohmann::ordered_json::array();
  for (const Row& row : rows) array.push_back(JsonObject(row));
  out << array.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << '\n';
}

void WriteJsonLine(std::ostream& out, const Row& row) { out << JsonObject(row).dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << '\n'; }

void WriteCsv(std::ostream& out, const std::vector<std::string>& header, const std::vector<Row>& rows) {
  std::string text;
  for (std::size_t i = 0; i < header.size(); ++i) text += (i ? "," : "") + CsvCell(header[i]);
  out << text << "\r\n";
  for (const Row& row : rows) {
    text.clear();
    for (std::size_t i = 0; i < row.size(); ++i) text += (i ? "," : "") + CsvCell(row[i].text);
    out << text << "\r\n";
  }
}

std::string WriteFileAtomically(const std::string& path, const std::string& text) {
  const std::string temporary = path + ".tmp";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    if (!out || !out.write(text.data(), static_cast<std::streamsize>(text.size())).flush())
      return path + ": cannot be written (" + std::strerror(errno) + ")";
  }
  std::error_code error;
  std::filesystem::rename(temporary, path, error);
  if (error) {
    std::error_code ignored;
    std::filesystem::remove(temporary, ignored);
    return path + ": cannot be written (" + error.message() + ")";
  }
  return {};
}

}  // namespace cli
