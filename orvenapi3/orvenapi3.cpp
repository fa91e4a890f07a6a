// Stand-in device-protocol library: packet classification, identity,
// configuration record and configuration-set packets.
#define ORVENAPI3_BUILDING 1
#include "orvenapi3/orvenapi3.h"

#include <cstdint>
#include <cstring>

namespace {

constexpr unsigned char kMagic0 = 0x4F;
constexpr unsigned char kMagic1 = 0x56;
constexpr int kCheckedBytes = 72;
constexpr int kKindOffset = 3;
constexpr int kIdentOffset = 4;
constexpr int kCheckOffset = 72;

std::uint16_t crc16(const unsigned char* data, int length) {
  std::uint16_t crc = 0xFFFF;
  for (int i = 0; i < length; ++i) {
    crc ^= static_cast<std::uint16_t>(data[i]) << 8;
    for (int bit = 0; bit < 8; ++bit)
      crc = (crc & 0x8000) ? static_cast<std::uint16_t>((crc << 1) ^ 0x1021)
                           : static_cast<std::uint16_t>(crc << 1);
  }
  return crc;
}

void storeCheck(unsigned char* packet) {
  const std::uint16_t crc = crc16(packet, kCheckedBytes);
  packet[kCheckOffset] = static_cast<unsigned char>(crc & 0xFF);
  packet[kCheckOffset + 1] = static_cast<unsigned char>(crc >> 8);
}

bool wellFormed(const unsigned char* buffer, int length) {
  if (buffer == nullptr || length < ORVEN_PACKET_SIZE) return false;
  if (buffer[0] != kMagic0 || buffer[1] != kMagic1) return false;
  const std::uint16_t stored =
      static_cast<std::uint16_t>(buffer[kCheckOffset] | (buffer[kCheckOffset + 1] << 8));
  return stored == crc16(buffer, kCheckedBytes);
}

}  // namespace

extern "C" {

int PreparePackage(unsigned char* buffer, int length) {
  if (!wellFormed(buffer, length)) return 0;
  return buffer[kKindOffset];
}

unsigned long long GetDeviceIdent(unsigned char* buffer) {
  unsigned long long ident = 0;
  for (int i = 7; i >= 0; --i) ident = (ident << 8) | buffer[kIdentOffset + i];
  return ident;
}

unsigned char* ReadNetConfigration(unsigned char* buffer) { return buffer + ORVEN_CONFIG_OFFSET; }

int SendNetConfigration(unsigned char* buffer) {
  buffer[kKindOffset] = ORVEN_KIND_CONFIG_SET;
  storeCheck(buffer);
  return ORVEN_PACKET_SIZE;
}

unsigned short OrvenCrc16(const unsigned char* data, int length) {
  if (data == nullptr || length <= 0) return 0xFFFF;
  return crc16(data, length);
}

int OrvenBuildPacket(unsigned char* buffer, int capacity, unsigned char kind,
                     unsigned char format_flag, unsigned long long ident,
                     const unsigned char* config) {
  if (buffer == nullptr || capacity < ORVEN_PACKET_SIZE) return 0;
  buffer[0] = kMagic0;
  buffer[1] = kMagic1;
  buffer[2] = format_flag;
  buffer[kKindOffset] = kind;
  for (int i = 0; i < 8; ++i) buffer[kIdentOffset + i] = static_cast<unsigned char>(ident >> (8 * i));
  if (config != nullptr)
    std::memcpy(buffer + ORVEN_CONFIG_OFFSET, config, ORVEN_CONFIG_SIZE);
  else
    std::memset(buffer + ORVEN_CONFIG_OFFSET, 0, ORVEN_CONFIG_SIZE);
  storeCheck(buffer);
  return ORVEN_PACKET_SIZE;
}

int OrvenReadConfigSet(const unsigned char* buffer, int length, unsigned long long* ident,
                       unsigned char* config) {
  if (!wellFormed(buffer, length) || buffer[kKindOffset] != ORVEN_KIND_CONFIG_SET) return 0;
  if (ident != nullptr) {
    unsigned long long value = 0;
    for (int i = 7; i >= 0; --i) value = (value << 8) | buffer[kIdentOffset + i];
    *ident = value;
  }
  if (config != nullptr) std::memcpy(config, buffer + ORVEN_CONFIG_OFFSET, ORVEN_CONFIG_SIZE);
  return 1;
}

}  // extern "C"
