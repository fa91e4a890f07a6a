// The workstation's ANSI code page: code page 936 (GBK) through iconv, or
// the system's ANSI code page on Windows. Texts are UTF-8 on our side.
#pragma once

#include <string>
#include <string_view>

namespace device {

// UTF-8 -> ANSI. A character the code page cannot represent becomes one
// '?' (one per character, also outside the Basic Multilingual Plane); a
// malformed UTF-8 sequence becomes one '?'; a character cut off at the end
// is dropped.
std::string ToAnsi(std::string_view utf8);

// ANSI -> UTF-8. A byte that starts no valid character becomes U+FFFD; a
// lead byte cut off at the end of the text (a split double-byte character)
// is dropped.
std::string FromAnsi(std::string_view ansi);

}  // namespace device
