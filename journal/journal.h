// The journal of writes: one file per user and workstation in which every
// write to a device, from the window or from orven-cli, leaves an entry
// before its first configuration-set packet leaves (the record the device
// announced, the record being written) and, when the write ends, its
// outcome. It is JSON Lines: one object per line, appended and flushed to
// the disk line by line, so a power cut can tear only the last line, which
// a reader skips. The program never reads it back for itself; orven-cli's
// history and undo do.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "device/netconfig.h"

namespace journal {

// The network adapter the device was last heard on.
struct Adapter {
  std::string name;
  unsigned index = 0;  // the system's interface index; 0 when not known
};

// What a write is about to send.
struct Write {
  std::uint64_t ident = 0;
  Adapter adapter;
  device::DeviceEntry before{};  // as the device announced it
  device::DeviceEntry after{};   // the record being written
  std::string undoOf;            // the entry this write undoes, if any
};

// The outcomes of a write.
inline constexpr std::string_view kConfirmed = "confirmed";
inline constexpr std::string_view kTimedOut = "timed out";
inline constexpr std::string_view kStopped = "stopped";
inline constexpr std::string_view kRefused = "refused";  // nothing was sent

// One entry as read back.
struct Entry : Write {
  std::string id;
  std::string time;  // UTC, ISO 8601
  std::string program;
  std::string version;
  std::string command;  // window, set, apply or undo
  std::string workstation;
  std::string outcome;      // empty while none was recorded
  std::string outcomeTime;
};

// The journal's file in 'folder'.
std::string PathIn(const std::string& folder);
// The journal's file in the platform's place (empty when there is none).
std::string DefaultPath();

// Keeps the newest this many entries whatever their age, and every entry
// younger than kKeepDays; older entries beyond those are dropped once the
// file has grown past kTrimAboveBytes.
inline constexpr std::size_t kKeepEntries = 100000;
inline constexpr int kKeepDays = 2 * 366;
inline constexpr unsigned long long kTrimAboveBytes = 128ull << 20;

class Journal {
 public:
  // 'program' and 'command' go into every entry; 'folder' is where the
  // journal lives (empty: the platform's place).
  Journal(std::string program, std::string command, std::string folder = {});

  // Appends the entry and waits until it is on the disk. Returns its id, or
  // an empty text when the journal cannot be written (Problem() says why):
  // the write goes on all the same.
  std::string Begin(const Write& write);
  // Several entries in one append, for writes that start together: their
  // ids in the same order (all empty when the journal cannot be written).
  std::vector<std::string> Begin(const std::vector<Write>& writes);

  // Appends the outcome of the entry 'id' (nothing for an empty id); 'time'
  // defaults to now.
  bool End(const std::string& id, std::string_view outcome, const std::string& time = {});
  struct Ending {
    std::string id;
    std::string_view outcome;
    std::string time;
  };
  // Several outcomes in one append.
  bool End(const std::vector<Ending>& endings);

  const std::string& Problem() const { return problem_; }
  const std::string& Path() const { return path_; }  // (of the last append)

 private:
  bool Append(const std::string& line, bool mayTrim);
  void TrimIfLarge(unsigned long long size);

  std::string program_;
  std::string command_;
  std::string folder_;
  std::string path_;
  std::string workstation_;
  std::string problem_;
  bool trimChecked_ = false;
};

// What a reader found: the entries oldest first (each with its outcome),
// and a warning for every line skipped.
struct Contents {
  std::vector<Entry> entries;
  std::vector<std::string> warnings;
};

// Reads a journal's text. Never throws for any input.
Contents Parse(std::string_view text);
// Reads the journal's file (a missing file holds no entries). Returns an
// empty text, or why it cannot be read.
std::string Read(const std::string& path, Contents& contents);

// The lines of 'text' to keep under the rule above at time 'now' (UTC, ISO
// 8601): the text itself when nothing is to be dropped.
std::string Trimmed(std::string_view text, const std::string& now);

// Now in UTC, as 2026-01-31T09:05:00Z.
std::string UtcNow();

}  // namespace journal
