#include "device/fields.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

#if defined(_WIN32)
#include <winsock2.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#endif

#include "device/codepage.h"

namespace device {

std::uint32_t IPv4FromText(std::string_view utf8) {
  if (utf8.empty()) return 0;
  const std::string ansi = ToAnsi(utf8);
  return static_cast<std::uint32_t>(inet_addr(ansi.c_str()));
}

std::string IPv4ToText(std::uint32_t networkOrder) {
  if (networkOrder == 0) return {};
  in_addr addr{};
  addr.s_addr = networkOrder;
  return std::string(inet_ntoa(addr));  // copied at once: inet_ntoa reuses its buffer
}

std::string ServerPortToText(std::uint16_t port) {
  char text[8];
  std::snprintf(text, sizeof text, "%hu", port);
  return text;
}

bool TryStrToInt(std::string_view text, std::int32_t& value) {
  std::size_t i = 0;
  // Leading blanks are skipped, as the run-time library's Val does.
  while (i < text.size() && text[i] == ' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  int base = 10;
  if (i < text.size() && text[i] == '$') {
    base = 16;
    ++i;
  } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i >= text.size()) return false;
  std::uint64_t magnitude = 0;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    int digit;
    if (c >= '0' && c <= '9') digit = c - '0';
    else if (base == 16 && c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    else if (base == 16 && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    else return false;
    magnitude = magnitude * static_cast<unsigned>(base) + static_cast<unsigned>(digit);
    if (magnitude > 0xFFFFFFFFull) return false;
  }
  if (base == 10) {
    if (negative ? magnitude > 0x80000000ull : magnitude > 0x7FFFFFFFull) return false;
    value = negative ? static_cast<std::int32_t>(-static_cast<std::int64_t>(magnitude))
                     : static_cast<std::int32_t>(magnitude);
  } else {
    // A hexadecimal number is read as 32 bits: FFFFFFFF is -1.
    const auto bits = static_cast<std::uint32_t>(magnitude);
    value = static_cast<std::int32_t>(negative ? 0u - bits : bits);
  }
  return true;
}

std::int32_t StrToInt(std::string_view text) {
  std::int32_t value = 0;
  if (!TryStrToInt(text, value))
    throw EConvertError("'" + std::string(text) + "' is not a valid integer value");
  return value;
}

std::int32_t HexEditValue(std::string_view editText) {
  std::string literal = "0x0";
  literal.append(editText);
  return StrToInt(literal);
}

std::uint16_t HAddrFromTexts(std::string_view edtHAddr1, std::string_view edtHAddr2) {
  const std::int32_t fifth = HexEditValue(edtHAddr1);
  const std::int32_t sixth = HexEditValue(edtHAddr2);
  return static_cast<std::uint16_t>(static_cast<std::uint32_t>(fifth) * 256u +
                                    static_cast<std::uint32_t>(sixth));
}

std::pair<std::string, std::string> HAddrToTexts(std::uint16_t haddr) {
  char high[3];
  char low[3];
  std::snprintf(high, sizeof high, "%02X", static_cast<unsigned>(haddr >> 8));
  std::snprintf(low, sizeof low, "%02X", static_cast<unsigned>(haddr & 0xFF));
  return {high, low};
}

void DeviceNameFromText(NetConfig& config, std::string_view utf8) {
  std::memset(config.DeviceName, 0, sizeof config.DeviceName);
  const std::string ansi = ToAnsi(utf8);
  const std::size_t n = ansi.size() < kDeviceNameBytes ? ansi.size() : kDeviceNameBytes;
  std::memcpy(config.DeviceName, ansi.data(), n);
}

std::string DeviceNameToText(const NetConfig& config) {
  const char* name = config.DeviceName;
  const void* zero = std::memchr(name, 0, sizeof config.DeviceName);
  const std::size_t n = zero ? static_cast<std::size_t>(static_cast<const char*>(zero) - name)
                             : sizeof config.DeviceName;
  return FromAnsi(std::string_view(name, n));
}

bool SameConfig(const NetConfig& a, const NetConfig& b) {
  return std::memcmp(&a, &b, kNetConfigSize) == 0;
}

bool SameConfig(const NetConfig& a, const void* raw60) {
  return std::memcmp(&a, raw60, kNetConfigSize) == 0;
}

void CopyConfig(NetConfig& to, const void* raw60) { std::memcpy(&to, raw60, kNetConfigSize); }

void ZeroConfig(NetConfig& config) { std::memset(&config, 0, kNetConfigSize); }

std::string IdentityText(std::uint64_t ident) {
  char text[24];
  std::snprintf(text, sizeof text, "%014" PRIX64, ident);
  return text;
}

std::uint8_t ByteSum(const void* first, std::size_t count) {
  const auto* bytes = static_cast<const std::uint8_t*>(first);
  std::uint8_t sum = 0;
  for (std::size_t i = 0; i < count; ++i) sum = static_cast<std::uint8_t>(sum + bytes[i]);
  return sum;
}

}  // namespace device
