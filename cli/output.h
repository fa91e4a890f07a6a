// Rows of fields written as an aligned table, one JSON array, JSON lines or
// CSV (RFC 4180, UTF-8).
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "cli/fields.h"

namespace cli {

// Columns padded to their widest cell (a CJK character counts two columns).
void WriteTable(std::ostream& out, const std::vector<std::string>& header, const std::vector<Row>& rows);
void WriteJson(std::ostream& out, const std::vector<Row>& rows);
void WriteJsonLine(std::ostream& out, const Row& row);
void WriteCsv(std::ostream& out, const std::vector<std::string>& header, const std::vector<Row>& rows);

// Writes the whole text to a temporary file beside 'path', then renames it
// over 'path', so that a reader never sees half a file. Returns an empty
// text, or what went wrong.
std::string WriteFileAtomically(const std::string& path, const std::string& text);

// How many terminal columns the UTF-8 text takes.
std::size_t DisplayWidth(const std::string& utf8);

}  // namespace cli
