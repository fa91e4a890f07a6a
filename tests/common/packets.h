// Records and announcements for the tests: a sample record, an announcement
// carrying a record, and a record held in memory as its 60 bytes.
#pragma once

#include <cstring>
#include <vector>

#include "device/fields.h"
#include "device/netconfig.h"
#include "orvenapi3/orvenapi3.h"
#include "set_packet.h"

inline device::NetConfig SampleConfig(int n = 1) {
  device::NetConfig c;
  device::ZeroConfig(c);
  c.PAddr = device::IPv4FromText("192.168.1." + std::to_string(100 + n));
  c.SubNetMask = device::IPv4FromText("255.255.255.0");
  c.ServerPort = 60110;
  c.HAddr = static_cast<std::uint16_t>(0x1200 + n);
  device::DeviceNameFromText(c, "泵站" + std::to_string(n));
  return c;
}

inline std::vector<std::uint8_t> Announcement(unsigned long long ident, const device::NetConfig& c,
                                              unsigned char kind = 0xFF, unsigned char flag = 0) {
  std::vector<std::uint8_t> p(74);
  OrvenBuildPacket(p.data(), 74, kind, flag, ident, reinterpret_cast<const unsigned char*>(&c));
  return p;
}

// The 60 bytes of a record held in memory, and back.
inline wire::Record Held(const device::NetConfig& c) {
  wire::Record r;
  std::memcpy(r.data(), &c, r.size());
  return r;
}

inline device::NetConfig AsConfig(const wire::Record& r) {
  device::NetConfig c;
  std::memcpy(&c, r.data(), r.size());
  return c;
}
