#include "cli/pcap.h"

#include <chrono>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace cli {

namespace {

constexpr std::uint32_t kLinkTypeRaw = 101;  // packets begin with their IP header
constexpr std::uint32_t kSnapLength = 65535;

void Put16(std::vector<std::uint8_t>& out, std::uint16_t v) {  // network order
  out.push_back(static_cast<std::uint8_t>(v >> 8));
  out.push_back(static_cast<std::uint8_t>(v));
}

void PutLE32(std::FILE* file, std::uint32_t v) {
  const std::uint8_t b[4] = {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
                             static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)};
  std::fwrite(b, 1, 4, file);
}

// The sockaddr layout: family at offset 0 (2 bytes, host order on the
// platforms we build for), port at 2, IPv4 address at 4, IPv6 address at 8.
bool IsIPv6(const net::sock::Address& a) { return a.length > 16; }
const std::uint8_t* IPv4Bytes(const net::sock::Address& a) { return a.bytes + 4; }
const std::uint8_t* IPv6Bytes(const net::sock::Address& a) { return a.bytes + 8; }

std::uint16_t Checksum(const std::uint8_t* data, std::size_t length) {
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i + 1 < length; i += 2) sum += (std::uint32_t{data[i]} << 8) | data[i + 1];
  if (length % 2) sum += std::uint32_t{data[length - 1]} << 8;
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<std::uint16_t>(~sum);
}

}  // namespace

PcapWriter::PcapWriter(const std::string& path) {
  file_ = std::fopen(path.c_str(), "wb");
  if (file_ == nullptr) throw std::runtime_error("cannot create the capture file '" + path + "'");
  PutLE32(file_, 0xA1B2C3D4u);        // magic: microsecond time stamps, written little-endian
  const std::uint8_t version[4] = {2, 0, 4, 0};  // 2.4
  std::fwrite(version, 1, 4, file_);
  PutLE32(file_, 0);                  // time zone
  PutLE32(file_, 0);                  // accuracy
  PutLE32(file_, kSnapLength);
  PutLE32(file_, kLinkTypeRaw);
  std::fflush(file_);
}

PcapWriter::~PcapWriter() {
  if (file_) std::fclose(file_);
}

void PcapWriter::Write(const net::sock::Address& source, const net::sock::Address& destination,
                       const std::uint8_t* data, std::size_t length) {
  const std::size_t udpLength = 8 + length;
  std::vector<std::uint8_t> packet;
  packet.reserve(48 + length);
  if (IsIPv6(source)) {
    packet.push_back(0x60);
    packet.insert(packet.end(), {0, 0, 0});
    Put16(packet, static_cast<std::uint16_t>(udpLength));
    packet.push_back(17);  // UDP
    packet.push_back(64);  // hop limit
    packet.insert(packet.end(), IPv6Bytes(source), IPv6Bytes(source) + 16);
    packet.insert(packet.end(), IPv6Bytes(destination), IPv6Bytes(destination) + 16);
  } else {
    packet.push_back(0x45);
    packet.push_back(0);
    Put16(packet, static_cast<std::uint16_t>(20 + udpLength));
    packet.insert(packet.end(), {0, 0, 0x40, 0});  // id 0, don't fragment
    packet.push_back(64);  // TTL
    packet.push_back(17);  // UDP
    packet.insert(packet.end(), {0, 0});
    packet.insert(packet.end(), IPv4Bytes(source), IPv4Bytes(source) + 4);
    packet.insert(packet.end(), IPv4Bytes(destination), IPv4Bytes(destination) + 4);
    const std::uint16_t sum = Checksum(packet.data(), 20);
    packet[10] = static_cast<std::uint8_t>(sum >> 8);
    packet[11] = static_cast<std::uint8_t>(sum);
  }
  Put16(packet, net::sock::AddressPort(source));
  Put16(packet, net::sock::AddressPort(destination));
  Put16(packet, static_cast<std::uint16_t>(udpLength));
  Put16(packet, 0);  // no UDP checksum
  packet.insert(packet.end(), data, data + length);

  const auto now = std::chrono::system_clock::now().time_since_epoch();
  const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(now).count();
  PutLE32(file_, static_cast<std::uint32_t>(micros / 1000000));
  PutLE32(file_, static_cast<std::uint32_t>(micros % 1000000));
  const auto captured = static_cast<std::uint32_t>(packet.size() < kSnapLength ? packet.size() : kSnapLength);
  PutLE32(file_, captured);
  PutLE32(file_, static_cast<std::uint32_t>(packet.size()));
  std::fwrite(packet.data(), 1, captured, file_);
  std::fflush(file_);
}

}  // namespace cli
