// What a write may set, with what it says when it may not.
#pragma once

#include <cstdint>
#include <string_view>

namespace engine {

// The device address a write may set: first byte 1-126 or 128-223.
bool DeviceAddressAllowed(std::uint32_t pAddrNetworkOrder);
// What a write says when the device address is not allowed.
inline constexpr const char* kAddressNotAllowed = "不允许设置此IP地址";
// A device name may not be empty (a blank is a name).
constexpr bool DeviceNameAllowed(std::string_view text) { return !text.empty(); }
inline constexpr const char* kEmptyDeviceName = "设备名称不能为空。";

}  // namespace engine
