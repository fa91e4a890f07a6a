// Announcement and packet builders for engine tests.
#pragma once

#include <cstring>
#include <vector>

#include "device/fields.h"
#include "device/netconfig.h"
#include "orvenapi3/orvenapi3.h"

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
