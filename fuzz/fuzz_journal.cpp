// The journal reader (journal/journal.*) with arbitrary file contents. The
// journal is a file other tools may have touched and a power cut may have
// torn, so whatever the bytes, the reader gives entries and warnings; it
// never crashes, hangs or throws.
//
// Checked besides: every entry has an id and a time and no two share an id;
// every line is either taken or named in one warning (never more entries
// and warnings than lines); the trim keeps a small journal as it is.
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>

#include "fuzz/fuzz_common.h"
#include "journal/journal.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const journal::Contents contents = journal::Parse(text);
  std::size_t lines = 0;
  for (std::size_t at = 0; at < text.size(); ++lines) {
    const std::size_t end = text.find('\n', at);
    at = end == std::string_view::npos ? text.size() : end + 1;
  }
  std::set<std::string> ids;
  for (const journal::Entry& e : contents.entries) {
    FUZZ_CHECK(!e.id.empty() && !e.time.empty());
    FUZZ_CHECK(ids.insert(e.id).second);
  }
  FUZZ_CHECK(contents.entries.size() + contents.warnings.size() <= lines);
  for (const std::string& w : contents.warnings) FUZZ_CHECK(w.rfind("line ", 0) == 0);
  // Far fewer entries than the journal keeps: nothing is dropped.
  FUZZ_CHECK(journal::Trimmed(text, "2026-01-31T09:05:00Z") == text);
  return 0;
}
