// A capture file in the classic libpcap format (what Wireshark and tcpdump
// read): every datagram received and sent, each with an IPv4 or IPv6 and a
// UDP header made up from the addresses the sockets report.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "net/socket.h"

namespace cli {

class PcapWriter {
 public:
  // Throws std::runtime_error when the file cannot be created.
  explicit PcapWriter(const std::string& path);
  ~PcapWriter();
  PcapWriter(const PcapWriter&) = delete;
  PcapWriter& operator=(const PcapWriter&) = delete;

  // One datagram from 'source' to 'destination' (same family).
  void Write(const net::sock::Address& source, const net::sock::Address& destination,
             const std::uint8_t* data, std::size_t length);

 private:
  std::FILE* file_ = nullptr;
};

}  // namespace cli
