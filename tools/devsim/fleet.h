// The simulated devices: identities, configuration records and the decisions
// on received datagrams. No sockets here.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "device/netconfig.h"
#include "options.h"

namespace devsim {

// A device's configuration record, as the tool keeps it.
using Config = device::NetConfig;

// UTF-8 -> the ANSI code page (936), cut to at most maxBytes without
// splitting a character. Falls back to the ASCII fallback text when the text
// cannot be converted.
std::string toCodePage936(const std::string& utf8, std::size_t maxBytes, const std::string& fallback);

// The initial configuration of device index (all 60 bytes defined).
Config initialConfig(std::size_t index, std::uint64_t ident);
// The addresses a device reports while automatic addressing is on.
void fillLeasedAddresses(Config& config, std::size_t index);

enum class Intake { ConfigSet, Malformed, OtherKind, UnknownIdent };

struct IntakeResult {
  Intake kind = Intake::Malformed;
  std::uint64_t ident = 0;
  std::size_t index = 0;  // valid for ConfigSet
  int packetKind = 0;     // the kind byte, for OtherKind
  Config config{};        // valid for ConfigSet
};

class Fleet {
 public:
  explicit Fleet(const Options& options);

  std::size_t size() const { return devices_.size(); }
  std::uint64_t ident(std::size_t index) const { return base_ + index; }
  bool ignoresSets(std::size_t index) const { return devices_[index].ignoreSets; }
  const Config& stored(std::size_t index) const { return devices_[index].config; }
  void apply(std::size_t index, const Config& config) { devices_[index].config = config; }

  // The record the device announces: the stored one, with leased addresses
  // in bytes 40-59 while AutoIP is nonzero and --auto-addresses is on.
  Config announced(std::size_t index) const;
  // Builds the 74-byte announcement of the device with the given kind.
  std::array<unsigned char, 74> packet(std::size_t index, unsigned char kind) const;

  // Classifies a received datagram (any length, also 0).
  IntakeResult classify(const unsigned char* data, std::size_t length) const;

 private:
  struct Device {
    Config config{};
    bool ignoreSets = false;
  };
  std::vector<Device> devices_;
  std::uint64_t base_;
  unsigned char formatFlag_;
  bool autoAddresses_;
};

}  // namespace devsim
