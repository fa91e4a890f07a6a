// The socket side of the device simulator: one UDP socket shared by all
// simulated devices, announcing on schedule and taking configuration-sets.
#pragma once

#include <csignal>
#include <cstdint>
#include <string>

#include "fleet.h"
#include "options.h"

namespace devsim {

struct Counters {
  std::uint64_t announcements = 0;  // datagrams sent, both kinds, all paths
  std::uint64_t appliedAnnouncements = 0;  // of them with kind FC
  std::uint64_t sendErrors = 0;
  std::uint64_t setsReceived = 0;
  std::uint64_t applied = 0;
  std::uint64_t ignoredSets = 0;
  std::uint64_t setsDropped = 0;  // pending queue full or still pending at stop
  std::uint64_t malformed = 0;
  std::uint64_t otherKinds = 0;
  std::uint64_t unknownIdents = 0;
};

// Runs until the stop flag is set, --count rounds are done or --duration-ms
// has passed. Returns false (with error set) when the socket cannot be set up.
bool runSimulator(const Options& options, const volatile std::sig_atomic_t& stopFlag,
                  Counters& counters, std::string& error);

std::string summaryLine(const Counters& counters);

}  // namespace devsim
