// Conversions between record fields and the panel's texts. These are the
// only conversions used between a NetConfig and the texts that show or edit
// it; the panel fill, the change check and the write all go through them.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

#include "device/netconfig.h"

namespace device {

// Raised when a text is not a valid integer (the run-time library's
// conversion error): "'%s' is not a valid integer value".
class EConvertError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// IPv4 field from text: empty gives 0, anything else inet_addr of the text in
// the ANSI code page, unchecked (a malformed text gives 0xFFFFFFFF).
std::uint32_t IPv4FromText(std::string_view utf8);
// IPv4 field to text: 0 gives "", anything else the dotted quad (inet_ntoa).
std::string IPv4ToText(std::uint32_t networkOrder);

// ServerPort from the port control's integer value: its low 16 bits.
constexpr std::uint16_t ServerPortFromValue(std::int32_t value) {
  return static_cast<std::uint16_t>(static_cast<std::uint32_t>(value) & 0xFFFFu);
}
// ServerPort to text: unsigned decimal ("%hu").
std::string ServerPortToText(std::uint16_t port);

// StrToInt: optional sign, then decimal digits or a hexadecimal number with
// the prefix "$", "0x" or "0X"; the whole text, within the signed 32-bit
// range. Anything else raises EConvertError.
std::int32_t StrToInt(std::string_view text);
// Reads a fixed-point integer in the way StrToInt does; false instead of
// raising.
bool TryStrToInt(std::string_view text, std::int32_t& value);

// One hardware-address edit's text read as hexadecimal: "0x0" + text through
// StrToInt, so "" counts 0 and "A" counts 10. Raises EConvertError for text
// that is not hexadecimal.
std::int32_t HexEditValue(std::string_view editText);
// HAddr from the two edits: edtHAddr1 (fifth byte) * 256 + edtHAddr2 (sixth).
std::uint16_t HAddrFromTexts(std::string_view edtHAddr1, std::string_view edtHAddr2);
// HAddr to the two edits' texts: {edtHAddr1 from byte 8, edtHAddr2 from byte 7},
// each as two upper-case hexadecimal digits.
std::pair<std::string, std::string> HAddrToTexts(std::uint16_t haddr);

// DeviceName from text: the ANSI form, at most its first 30 bytes, then zero
// bytes to the end of the 31-byte field.
void DeviceNameFromText(NetConfig& config, std::string_view utf8);
// DeviceName to text: the bytes up to the first zero (never past the field's
// 31 bytes), converted from the ANSI code page.
std::string DeviceNameToText(const NetConfig& config);

constexpr std::uint8_t AutoIPFromChecked(bool checked) { return checked ? 1 : 0; }
constexpr bool AutoIPToChecked(std::uint8_t autoIP) { return autoIP != 0; }

// Raw 60-byte comparison and copy.
bool SameConfig(const NetConfig& a, const NetConfig& b);
bool SameConfig(const NetConfig& a, const void* raw60);
void CopyConfig(NetConfig& to, const void* raw60);
void ZeroConfig(NetConfig& config);

// The identity text: upper-case hexadecimal, zero-padded to at least 14
// digits, never cut.
std::string IdentityText(std::uint64_t ident);

// Sum of count bytes modulo 256 (8-bit wrapping accumulator).
std::uint8_t ByteSum(const void* first, std::size_t count);

}  // namespace device
