// Helpers shared by the fuzz targets: an independent model of the wire
// format (so the library's answers are checked, not trusted) and a check
// that aborts with a message libFuzzer reports as a finding.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace fuzz {

#define FUZZ_CHECK(cond)                                                              \
  do {                                                                                \
    if (!(cond)) {                                                                    \
      std::fprintf(stderr, "%s:%d: invariant failed: %s\n", __FILE__, __LINE__, #cond); \
      std::abort();                                                                   \
    }                                                                                 \
  } while (0)

constexpr std::size_t kPacket = 74;
constexpr std::size_t kKind = 3;
constexpr std::size_t kIdent = 4;
constexpr std::size_t kConfig = 12;
constexpr std::size_t kCheck = 72;

// CRC-16/CCITT-FALSE, written out again here on purpose.
inline std::uint16_t Crc16(const std::uint8_t* data, std::size_t n) {
  std::uint16_t crc = 0xFFFF;
  for (std::size_t i = 0; i < n; ++i) {
    crc = static_cast<std::uint16_t>(crc ^ (data[i] << 8));
    for (int b = 0; b < 8; ++b)
      crc = static_cast<std::uint16_t>((crc & 0x8000) ? ((crc << 1) ^ 0x1021) : (crc << 1));
  }
  return crc;
}

// Whether the datagram is a well-formed packet (length, magic, check).
inline bool WellFormed(const std::uint8_t* data, std::size_t n) {
  if (n < kPacket || data[0] != 0x4F || data[1] != 0x56) return false;
  const unsigned stored = data[kCheck] | (data[kCheck + 1] << 8);
  return stored == Crc16(data, kCheck);
}

// The kind PreparePackage must answer.
inline int ExpectedKind(const std::uint8_t* data, std::size_t n) {
  return WellFormed(data, n) ? data[kKind] : 0;
}

inline std::uint64_t IdentAt(const std::uint8_t* data) {
  std::uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | data[kIdent + static_cast<std::size_t>(i)];
  return v;
}

inline void PutIdent(std::uint8_t* data, std::uint64_t ident) {
  for (std::size_t i = 0; i < 8; ++i) data[kIdent + i] = static_cast<std::uint8_t>(ident >> (8 * i));
}

// Makes a 74-byte (or longer) datagram well formed: magic and check.
inline void FixUp(std::uint8_t* data, std::size_t n) {
  if (n < kPacket) return;
  data[0] = 0x4F;
  data[1] = 0x56;
  const std::uint16_t crc = Crc16(data, kCheck);
  data[kCheck] = static_cast<std::uint8_t>(crc & 0xFF);
  data[kCheck + 1] = static_cast<std::uint8_t>(crc >> 8);
}

}  // namespace fuzz
