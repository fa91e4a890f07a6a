// An independent reader of the configuration-set packets the tool sends,
// written from the wire format alone (74 bytes, little-endian): magic 4F 56,
// format flag, kind 0x5A, the 8-byte identity, the 60 configuration bytes and
// a CRC-16/CCITT-FALSE over bytes 0..71. It shares no code with the protocol
// library, so a slip made alike by that library's writer and reader still
// shows. Also a literal builder of the 60 configuration bytes, so tests state
// the bytes they expect instead of computing them with the tool's own
// conversions.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace wire {

// CRC-16/CCITT-FALSE: polynomial 0x1021, initial 0xFFFF, no reflection, no
// final XOR.
constexpr std::uint16_t Crc16Step(std::uint16_t crc, std::uint8_t byte) {
  crc = static_cast<std::uint16_t>(crc ^ (byte << 8));
  for (int bit = 0; bit < 8; ++bit)
    crc = static_cast<std::uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
  return crc;
}

constexpr std::uint16_t Crc16(const std::uint8_t* data, std::size_t n) {
  std::uint16_t crc = 0xFFFF;
  for (std::size_t i = 0; i < n; ++i) crc = Crc16Step(crc, data[i]);
  return crc;
}

constexpr std::uint16_t Crc16(std::string_view text) {
  std::uint16_t crc = 0xFFFF;
  for (char c : text) crc = Crc16Step(crc, static_cast<std::uint8_t>(c));
  return crc;
}

// The algorithm's published check value.
static_assert(Crc16("123456789") == 0x29B1);

using Record = std::array<std::uint8_t, 60>;

struct SetPacket {
  std::uint8_t flag = 0;
  std::uint64_t ident = 0;
  Record config{};
};

// The packet's fields when the datagram holds a well-formed configuration-set
// (trailing bytes allowed and ignored); nothing otherwise.
inline std::optional<SetPacket> DecodeSet(const std::uint8_t* data, std::size_t n) {
  if (n < 74 || data[0] != 0x4F || data[1] != 0x56 || data[3] != 0x5A) return std::nullopt;
  const std::uint16_t carried = static_cast<std::uint16_t>(data[72] | (data[73] << 8));
  if (carried != Crc16(data, 72)) return std::nullopt;
  SetPacket p;
  p.flag = data[2];
  for (int i = 7; i >= 0; --i) p.ident = (p.ident << 8) | data[4 + i];
  for (std::size_t i = 0; i < 60; ++i) p.config[i] = data[12 + i];
  return p;
}

template <class Bytes>
std::optional<SetPacket> DecodeSet(const Bytes& datagram) {
  return DecodeSet(reinterpret_cast<const std::uint8_t*>(datagram.data()), datagram.size());
}

// Four address bytes in the order the dotted text names them (network order).
using Ip = std::array<std::uint8_t, 4>;

// The 60 configuration bytes, field by field at their offsets.
struct RecordFields {
  std::uint8_t autoIP = 0;
  Ip serverPAddr{};
  std::uint16_t serverPort = 0;
  std::uint8_t hAddr6 = 0;   // offset 7: the last hardware-address byte
  std::uint8_t hAddr5 = 0;   // offset 8: the one before it
  std::string name;          // code-page bytes as they go on the wire (at most 30)
  Ip pAddr{}, subNetMask{}, gatePAddr{}, dns1PAddr{}, dns2PAddr{};

  Record Bytes() const {
    Record r{};
    r[0] = autoIP;
    Put(r, 1, serverPAddr);
    r[5] = static_cast<std::uint8_t>(serverPort & 0xFF);
    r[6] = static_cast<std::uint8_t>(serverPort >> 8);
    r[7] = hAddr6;
    r[8] = hAddr5;
    for (std::size_t i = 0; i < name.size() && i < 30; ++i) r[9 + i] = static_cast<std::uint8_t>(name[i]);
    Put(r, 40, pAddr);
    Put(r, 44, subNetMask);
    Put(r, 48, gatePAddr);
    Put(r, 52, dns1PAddr);
    Put(r, 56, dns2PAddr);
    return r;
  }

 private:
  static void Put(Record& r, std::size_t at, const Ip& ip) {
    for (std::size_t i = 0; i < 4; ++i) r[at + i] = ip[i];
  }
};

}  // namespace wire
