// Command-line options of the device simulator.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace devsim {

enum class Mode { Broadcast, Multicast, Both };

struct Options {
  std::size_t devices = 4;
  std::uint32_t intervalMs = 1000;
  Mode mode = Mode::Both;
  std::uint16_t port = 0;
  std::uint64_t identBase = 0x0012AB34CD5600ULL;
  bool identBaseGiven = false;
  bool ffIdents = false;
  std::uint8_t formatFlag = 0;
  bool ignoreAllSets = false;
  std::vector<std::size_t> ignoreSets;  // device indices, sorted, unique
  std::uint32_t applyDelayMs = 0;
  bool autoAddresses = false;
  std::optional<std::uint64_t> count;       // announcement rounds
  std::optional<std::uint64_t> durationMs;  // run time
  bool quiet = false;
  bool bindLoopback = false;
  bool realNetwork = false;  // announce although an adapter other than loopback is up
};

constexpr std::size_t kMaxDevices = 64000;
constexpr std::uint64_t kDefaultFfIdentBase = 0xFF0012AB34CD56ULL;

// Parses argv[1..] ("--name value" or "--name=value"). Returns nullopt when
// the program ends at once with exitCode: 0 after --help (printed), 2 after a
// bad option (its one-line message printed).
std::optional<Options> parseOptions(const std::vector<std::string>& args, int& exitCode);

// The identity of the first device once --ff-idents has been taken into account.
std::uint64_t effectiveIdentBase(const Options& options);

const char* modeName(Mode mode);

}  // namespace devsim
