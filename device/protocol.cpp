#include "device/protocol.h"

// The library's C interface, as the vendor documents it.
extern "C" {
int PreparePackage(unsigned char* buffer, int length);
unsigned long long GetDeviceIdent(unsigned char* buffer);
unsigned char* ReadNetConfigration(unsigned char* buffer);
int SendNetConfigration(unsigned char* buffer);
}

namespace device::protocol {

std::int32_t PreparePackage(std::uint8_t* buffer, std::int32_t length) {
  return ::PreparePackage(buffer, length);
}

std::uint64_t GetDeviceIdent(std::uint8_t* buffer) { return ::GetDeviceIdent(buffer); }

NetConfig* ReadNetConfigration(std::uint8_t* buffer) {
  return reinterpret_cast<NetConfig*>(::ReadNetConfigration(buffer));
}

std::int32_t SendNetConfigration(std::uint8_t* buffer) { return ::SendNetConfigration(buffer); }

}  // namespace device::protocol
