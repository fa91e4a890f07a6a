// The ANSI code page on Windows: the system's (CP_ACP), through the
// system's converters, one character at a time, so that the results keep the
// contract of codepage.h where the converters would answer otherwise:
//   - a lead byte cut off at the end is dropped (the converter makes '?');
//   - a byte sequence the converter maps into the Private Use Area (e.g. the
//     placeholder U+F8F5 for byte 0xFF in code page 936) is no character of
//     the code page: U+FFFD, and a private-use character becomes '?';
//   - a character outside the Basic Multilingual Plane that the code page
//     lacks becomes one '?', not one per UTF-16 unit;
//   - no "best fit" look-alikes: what the code page cannot represent is '?'.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include "device/codepage.h"

#include <iterator>

#include <utf8.h>

namespace device {

namespace {

constexpr char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD in UTF-8

bool IsPrivateUse(char32_t c) { return c >= 0xE000 && c <= 0xF8FF; }

void AppendUtf8(std::string& out, char32_t c) { utf8::unchecked::append(c, std::back_inserter(out)); }

// One character of the code page (one or two bytes) as a code point; false
// when the bytes are no character of it.
bool DecodeAnsi(const char* bytes, int length, char32_t& c) {
  wchar_t wide[2];
  const int units = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, bytes, length, wide, 2);
  if (units == 1) {
    c = wide[0];
  } else if (units == 2 && IS_HIGH_SURROGATE(wide[0]) && IS_LOW_SURROGATE(wide[1])) {
    c = 0x10000 + ((static_cast<char32_t>(wide[0]) - 0xD800) << 10) + (static_cast<char32_t>(wide[1]) - 0xDC00);
  } else {
    return false;
  }
  return !IsPrivateUse(c);
}

// One code point into the code page; false when it cannot represent it.
bool EncodeAnsi(char32_t c, std::string& out) {
  if (IsPrivateUse(c)) return false;
  wchar_t wide[2];
  int units = 1;
  if (c < 0x10000) {
    wide[0] = static_cast<wchar_t>(c);
  } else {
    wide[0] = static_cast<wchar_t>(0xD800 + ((c - 0x10000) >> 10));
    wide[1] = static_cast<wchar_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    units = 2;
  }
  char bytes[8];
  BOOL usedDefault = FALSE;
  const int length =
      WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, units, bytes, sizeof bytes, nullptr, &usedDefault);
  if (length <= 0 || usedDefault) return false;
  out.append(bytes, static_cast<std::size_t>(length));
  return true;
}

bool IsContinuation(unsigned char b) { return (b & 0xC0) == 0x80; }

enum class Utf8 { Character, Incomplete, Invalid };

// Reads the UTF-8 character at text[i]: its code point and length, or
// Incomplete when the text ends inside a character that was valid so far.
Utf8 ReadUtf8(std::string_view text, std::size_t i, char32_t& c, std::size_t& length) {
  auto it = text.begin() + static_cast<std::ptrdiff_t>(i);
  try {
    c = utf8::next(it, text.end());
  } catch (const utf8::not_enough_room&) {
    // Text that ends after a lead byte and continuation bytes only is a
    // character cut off (as iconv judges it, before the finer checks); the
    // lead bytes 0xC0 and 0xC1 start no character at all.
    return static_cast<unsigned char>(text[i]) >= 0xC2 ? Utf8::Incomplete : Utf8::Invalid;
  } catch (const utf8::exception&) {
    return Utf8::Invalid;
  }
  length = static_cast<std::size_t>(it - text.begin()) - i;
  return Utf8::Character;
}

}  // namespace

std::string ToAnsi(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size();) {
    if (static_cast<unsigned char>(utf8[i]) < 0x80) {
      out += utf8[i++];
      continue;
    }
    char32_t c = 0;
    std::size_t length = 0;
    const Utf8 read = ReadUtf8(utf8, i, c, length);
    if (read == Utf8::Incomplete) break;  // cut off at the end: dropped
    if (read == Utf8::Invalid) {
      // One '?' for the whole malformed character.
      out += '?';
      ++i;
      while (i < utf8.size() && IsContinuation(static_cast<unsigned char>(utf8[i]))) ++i;
      continue;
    }
    if (!EncodeAnsi(c, out)) out += '?';
    i += length;
  }
  return out;
}

std::string FromAnsi(std::string_view ansi) {
  std::string out;
  out.reserve(ansi.size() * 2);
  for (std::size_t i = 0; i < ansi.size();) {
    const auto b = static_cast<unsigned char>(ansi[i]);
    if (b < 0x80) {
      out += static_cast<char>(b);
      ++i;
      continue;
    }
    char32_t c = 0;
    if (IsDBCSLeadByteEx(CP_ACP, b)) {
      if (i + 1 == ansi.size()) break;  // a lead byte cut off at the end: dropped
      if (DecodeAnsi(ansi.data() + i, 2, c)) {
        AppendUtf8(out, c);
        i += 2;
        continue;
      }
    } else if (DecodeAnsi(ansi.data() + i, 1, c)) {
      AppendUtf8(out, c);
      ++i;
      continue;
    }
    // Starts no character: replaced, and the next byte is read afresh.
    out += kReplacement;
    ++i;
  }
  return out;
}

}  // namespace device
