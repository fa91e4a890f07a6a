#include "fleet.h"

#include <cstdio>
#include <cstring>

#include "device/codepage.h"
#include "device/fields.h"
#include "orvenapi3/orvenapi3.h"

namespace devsim {
namespace {

// An IPv4 address in network order from its four parts.
std::uint32_t Ip(unsigned a, unsigned b, unsigned c, unsigned d) {
  const unsigned char bytes[4] = {static_cast<unsigned char>(a), static_cast<unsigned char>(b),
                                  static_cast<unsigned char>(c), static_cast<unsigned char>(d)};
  std::uint32_t value;
  std::memcpy(&value, bytes, sizeof value);
  return value;
}

std::string deviceNameUtf8(std::size_t index) {
  static const char* const numerals[] = {"一", "二", "三", "四", "五", "六", "七", "八", "九", "十"};
  static const char* const kinds[] = {"水位监测点", "雨量站", "闸门控制站", "流量监测点", "水质监测站"};
  if (index < 10) return std::string(numerals[index]) + "号泵站";
  return std::string(kinds[index % 5]) + std::to_string(index + 1);
}

}  // namespace

std::string toCodePage936(const std::string& utf8, std::size_t maxBytes, const std::string& fallback) {
  std::string bytes = device::ToAnsi(utf8);
  // Without a converter for code page 936 (or with characters it lacks) the
  // device is named by its ASCII fallback.
  if (bytes.empty() || bytes.find('?') != std::string::npos) bytes = fallback;
  // Cut at a character boundary: in code page 936 a byte of 0x81 or above
  // starts a two-byte character.
  std::size_t end = 0;
  for (std::size_t pos = 0; pos < bytes.size();) {
    const std::size_t width = static_cast<unsigned char>(bytes[pos]) >= 0x81 ? 2 : 1;
    if (pos + width > maxBytes || pos + width > bytes.size()) break;
    pos += width;
    end = pos;
  }
  bytes.resize(end);
  return bytes;
}

Config initialConfig(std::size_t index, std::uint64_t ident) {
  Config config;
  device::ZeroConfig(config);  // every byte defined: zero unless set below
  config.ServerPAddr = Ip(192, 168, 1, 10);
  config.ServerPort = 60110;
  // The last two hardware-address bytes follow the identity's low 16 bits.
  config.HAddr = static_cast<std::uint16_t>(ident & 0xFFFF);
  const std::string name = toCodePage936(deviceNameUtf8(index), device::kDeviceNameBytes,
                                         "Station " + std::to_string(index + 1));
  std::memcpy(config.DeviceName, name.data(), name.size());
  // 192.168.1.100, .101, ... .254, then 192.168.2.1 onwards; 254 hosts per
  // third octet, which stays within 1..253 for the largest fleet.
  const std::size_t host = 99 + index;
  const unsigned third = static_cast<unsigned>(1 + host / 254);
  const unsigned fourth = static_cast<unsigned>(1 + host % 254);
  config.PAddr = Ip(192, 168, third, fourth);
  config.SubNetMask = Ip(255, 255, 255, 0);
  config.GatePAddr = Ip(192, 168, third, 1);
  config.DNS1PAddr = Ip(192, 168, 1, 1);
  if (index % 2 == 1) config.DNS2PAddr = Ip(114, 114, 114, 114);  // even ones: none
  return config;
}

void fillLeasedAddresses(Config& config, std::size_t index) {
  const std::size_t host = index + 2;  // 10.20.0.2 upwards
  config.PAddr = Ip(10, 20, static_cast<unsigned>((host >> 8) & 0xFF), static_cast<unsigned>(host & 0xFF));
  config.SubNetMask = Ip(255, 255, 0, 0);
  config.GatePAddr = Ip(10, 20, 0, 1);
  config.DNS1PAddr = Ip(10, 20, 0, 1);
  config.DNS2PAddr = 0;
}

Fleet::Fleet(const Options& options)
    : devices_(options.devices),
      base_(effectiveIdentBase(options)),
      formatFlag_(options.formatFlag),
      autoAddresses_(options.autoAddresses) {
  for (std::size_t i = 0; i < devices_.size(); ++i) {
    devices_[i].config = initialConfig(i, base_ + i);
    devices_[i].ignoreSets = options.ignoreAllSets;
  }
  for (const std::size_t i : options.ignoreSets)
    if (i < devices_.size()) devices_[i].ignoreSets = true;
}

Config Fleet::announced(std::size_t index) const {
  Config config = devices_[index].config;
  if (autoAddresses_ && config.AutoIP != 0) fillLeasedAddresses(config, index);
  return config;
}

std::array<unsigned char, 74> Fleet::packet(std::size_t index, unsigned char kind) const {
  std::array<unsigned char, 74> packet{};
  const Config config = announced(index);
  OrvenBuildPacket(packet.data(), static_cast<int>(packet.size()), kind, formatFlag_,
                   ident(index), reinterpret_cast<const unsigned char*>(&config));
  return packet;
}

IntakeResult Fleet::classify(const unsigned char* data, std::size_t length) const {
  IntakeResult result;
  if (data == nullptr || length < ORVEN_PACKET_SIZE) return result;  // Malformed
  // Only the first 74 bytes count; the rest of a datagram is ignored.
  unsigned char head[ORVEN_PACKET_SIZE];
  std::memcpy(head, data, sizeof head);
  const int kind = PreparePackage(head, static_cast<int>(sizeof head));
  if (kind == 0) return result;
  result.ident = GetDeviceIdent(head);
  if (!OrvenReadConfigSet(head, static_cast<int>(sizeof head), nullptr, reinterpret_cast<unsigned char*>(&result.config))) {
    result.kind = Intake::OtherKind;
    result.packetKind = kind;
    return result;
  }
  const std::uint64_t offset = result.ident - base_;  // wraps for identities below the base
  if (offset >= devices_.size()) {
    result.kind = Intake::UnknownIdent;
    return result;
  }
  result.kind = Intake::ConfigSet;
  result.index = static_cast<std::size_t>(offset);
  return result;
}

}  // namespace devsim
