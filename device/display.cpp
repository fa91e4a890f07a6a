#include "device/display.h"

#include <cstdio>

#include "device/fields.h"

namespace device {

std::string FourthHAddrByteText(const std::string& identText, std::uint8_t hAddrFormat) {
  char text[3];
  if (hAddrFormat == 1) {
    // The identity text is at most 16 hexadecimal digits, so this cannot fail.
    std::uint64_t value = 0;
    for (char c : identText) {
      const int digit = (c >= '0' && c <= '9') ? c - '0'
                        : (c >= 'A' && c <= 'F') ? c - 'A' + 10
                        : (c >= 'a' && c <= 'f') ? c - 'a' + 10
                                                 : 0;
      value = (value << 4) | static_cast<std::uint64_t>(digit);
    }
    std::uint8_t low[7];
    for (int i = 0; i < 7; ++i) low[i] = static_cast<std::uint8_t>(value >> (8 * i));
    std::snprintf(text, sizeof text, "%02X", ByteSum(low, 7));
    return text;
  }
  if (identText.size() >= 2 && (identText[0] == 'F' || identText[0] == 'f') &&
      (identText[1] == 'F' || identText[1] == 'f'))
    return identText.size() > 8 ? identText.substr(8, 2) : std::string();
  return "06";
}

}  // namespace device
