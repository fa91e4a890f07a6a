// Every conversion between panel texts and record fields, with arbitrary
// texts: invalid UTF-8 on our side, invalid code page 936 bytes on the
// device's, integers in every spelling StrToInt meets.
#include <arpa/inet.h>
#include <fuzzer/FuzzedDataProvider.h>
#include <sanitizer/asan_interface.h>

#include <algorithm>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "device/codepage.h"
#include "device/fields.h"
#include "device/netconfig.h"
#include "engine/intake.h"
#include "fuzz/fuzz_common.h"

namespace {

// StrToInt's rule, written out through std::from_chars.
bool ModelStrToInt(std::string_view t, std::int32_t& out) {
  std::size_t i = 0;
  while (i < t.size() && t[i] == ' ') ++i;
  bool negative = false;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) negative = t[i++] == '-';
  int base = 10;
  if (t.substr(i, 1) == "$") {
    base = 16;
    i += 1;
  } else if (t.substr(i, 2) == "0x" || t.substr(i, 2) == "0X") {
    base = 16;
    i += 2;
  }
  const std::string_view digits = t.substr(i);
  if (digits.empty()) return false;
  std::uint64_t v = 0;
  const auto r = std::from_chars(digits.data(), digits.data() + digits.size(), v, base);
  if (r.ec != std::errc() || r.ptr != digits.data() + digits.size() || v > 0xFFFFFFFFull) return false;
  if (base == 10) {
    if (v > (negative ? 0x80000000ull : 0x7FFFFFFFull)) return false;
    out = static_cast<std::int32_t>(negative ? -static_cast<std::int64_t>(v) : static_cast<std::int64_t>(v));
  } else {
    out = static_cast<std::int32_t>(negative ? 0u - static_cast<std::uint32_t>(v) : static_cast<std::uint32_t>(v));
  }
  return true;
}

bool ValidUtf8(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size()) {
    const auto c = static_cast<unsigned char>(s[i]);
    std::size_t n;
    std::uint32_t cp;
    if (c < 0x80) { ++i; continue; }
    if ((c & 0xE0) == 0xC0) { n = 1; cp = c & 0x1F; }
    else if ((c & 0xF0) == 0xE0) { n = 2; cp = c & 0x0F; }
    else if ((c & 0xF8) == 0xF0) { n = 3; cp = c & 0x07; }
    else return false;
    if (i + n >= s.size()) return false;  // cut short
    for (std::size_t k = 1; k <= n; ++k) {
      const auto d = static_cast<unsigned char>(s[i + k]);
      if ((d & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (d & 0x3F);
    }
    if ((n == 1 && cp < 0x80) || (n == 2 && cp < 0x800) || (n == 3 && cp < 0x10000) || cp > 0x10FFFF ||
        (cp >= 0xD800 && cp <= 0xDFFF))
      return false;
    i += n + 1;
  }
  return true;
}

bool Ascii(std::string_view s) {
  for (char c : s)
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  return true;
}

bool HexDigits(std::string_view s) {
  for (char c : s)
    if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'))) return false;
  return true;
}

std::string Upper2(std::string_view s) {
  std::string r(2 - s.size(), '0');
  for (char c : s) r += (c >= 'a' && c <= 'f') ? static_cast<char>(c - 'a' + 'A') : c;
  return r;
}

// A record on the heap whose bytes after the name field (40-59) are
// poisoned: reading the name past offset 39 is an ASan finding.
std::string NameWithFenceAfter(const char* name31) {
  auto config = std::make_unique<device::NetConfig>();
  std::memcpy(config->DeviceName, name31, sizeof config->DeviceName);
  ASAN_POISON_MEMORY_REGION(&config->PAddr, 20);
  std::string text = device::DeviceNameToText(*config);
  ASAN_UNPOISON_MEMORY_REGION(&config->PAddr, 20);
  return text;
}

// An address field's four bytes, in the order of the dotted text: none for an
// empty text, all ones for a text the platform's parser refuses.
void ModelAddress(const std::string& text, std::uint8_t* out) {
  std::memset(out, 0, 4);
  if (text.empty()) return;
  in_addr a{};
  if (::inet_aton(device::ToAnsi(text).c_str(), &a) == 0) {
    std::memset(out, 0xFF, 4);
    return;
  }
  const std::uint32_t host = ntohl(a.s_addr);
  for (int i = 0; i < 4; ++i) out[i] = static_cast<std::uint8_t>(host >> (24 - 8 * i));
}

void CheckIntegers(FuzzedDataProvider& in) {
  const std::string text = in.ConsumeRandomLengthString(40);
  std::int32_t got = 12345, want = 0;
  const bool ok = device::TryStrToInt(text, got);
  FUZZ_CHECK(ok == ModelStrToInt(text, want));
  if (ok) FUZZ_CHECK(got == want);
  try {
    const std::int32_t v = device::StrToInt(text);
    FUZZ_CHECK(ok && v == want);
  } catch (const device::EConvertError&) {
    FUZZ_CHECK(!ok);
  }
  // Every int32 spelt in decimal, with "$" and with "0x" reads back.
  const auto v = in.ConsumeIntegral<std::int32_t>();
  char hex[16];
  std::snprintf(hex, sizeof hex, "%X", static_cast<std::uint32_t>(v));
  FUZZ_CHECK(device::StrToInt(std::to_string(v)) == v);
  FUZZ_CHECK(device::StrToInt(std::string("  $") + hex) == v);
  FUZZ_CHECK(device::StrToInt(std::string("0x") + hex) == v);
  const auto port = in.ConsumeIntegral<std::uint16_t>();
  FUZZ_CHECK(device::ServerPortToText(port) == std::to_string(port));
  FUZZ_CHECK(device::ServerPortFromValue(v) == static_cast<std::uint16_t>(static_cast<std::uint32_t>(v)));
}

void CheckHAddr(FuzzedDataProvider& in) {
  const std::string a = in.ConsumeRandomLengthString(6);
  const std::string b = in.ConsumeRandomLengthString(6);
  std::int32_t fifth = 0, sixth = 0;
  const bool ok = ModelStrToInt("0x0" + a, fifth) && ModelStrToInt("0x0" + b, sixth);
  try {
    const std::uint16_t h = device::HAddrFromTexts(a, b);
    FUZZ_CHECK(ok);
    FUZZ_CHECK(h == static_cast<std::uint16_t>(static_cast<std::uint32_t>(fifth) * 256u +
                                               static_cast<std::uint32_t>(sixth)));
    // What the edits can hold (two hexadecimal digits each) reads back as typed.
    if (a.size() <= 2 && b.size() <= 2 && HexDigits(a) && HexDigits(b)) {
      const auto [t1, t2] = device::HAddrToTexts(h);
      FUZZ_CHECK(t1 == Upper2(a) && t2 == Upper2(b));
    }
  } catch (const device::EConvertError&) {
    FUZZ_CHECK(!ok);
  }
}

void CheckAddresses(FuzzedDataProvider& in) {
  const std::string text = in.ConsumeRandomLengthString(24);
  const std::uint32_t v = device::IPv4FromText(text);
  if (text.empty()) FUZZ_CHECK(v == 0);
  const auto raw = in.ConsumeIntegral<std::uint32_t>();
  const std::string dotted = device::IPv4ToText(raw);
  FUZZ_CHECK(raw == 0 ? dotted.empty() : !dotted.empty());
  FUZZ_CHECK(device::IPv4FromText(dotted) == raw);
  const int first = raw == 0 ? 0 : std::atoi(dotted.c_str());
  FUZZ_CHECK(engine::DeviceAddressAllowed(raw) == ((first >= 1 && first <= 126) || (first >= 128 && first <= 223)));
}

void CheckNames(FuzzedDataProvider& in) {
  const std::string text = in.ConsumeRandomLengthString(80);
  const std::string ansi = device::ToAnsi(text);
  if (Ascii(text)) FUZZ_CHECK(ansi == text);
  auto config = std::make_unique<device::NetConfig>();
  std::memset(config.get(), 0xA5, sizeof *config);
  device::DeviceNameFromText(*config, text);
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(config.get());
  for (std::size_t i = 0; i < 9; ++i) FUZZ_CHECK(bytes[i] == 0xA5);
  for (std::size_t i = 40; i < 60; ++i) FUZZ_CHECK(bytes[i] == 0xA5);
  const std::size_t cut = std::min(ansi.size(), device::kDeviceNameBytes);
  FUZZ_CHECK(std::memcmp(config->DeviceName, ansi.data(), cut) == 0);
  for (std::size_t i = cut; i < sizeof config->DeviceName; ++i) FUZZ_CHECK(config->DeviceName[i] == 0);
  FUZZ_CHECK(bytes[39] == 0);
  const std::string shown = NameWithFenceAfter(config->DeviceName);
  FUZZ_CHECK(ValidUtf8(shown));
  const std::size_t named = std::strlen(config->DeviceName);
  FUZZ_CHECK(named <= device::kDeviceNameBytes);
  FUZZ_CHECK(shown == device::FromAnsi(std::string_view(config->DeviceName, named)));

  // A received name field: any 31 bytes, the terminator possibly missing.
  char field[31];
  const std::string raw = in.ConsumeBytesAsString(31);
  std::memset(field, 0, sizeof field);
  std::memcpy(field, raw.data(), raw.size());
  const std::string received = NameWithFenceAfter(field);
  FUZZ_CHECK(ValidUtf8(received));
  const void* zero = std::memchr(field, 0, sizeof field);
  const std::size_t n = zero ? static_cast<std::size_t>(static_cast<const char*>(zero) - field) : sizeof field;
  FUZZ_CHECK(received == device::FromAnsi(std::string_view(field, n)));
  if (Ascii(std::string_view(field, n))) FUZZ_CHECK(received == std::string_view(field, n));
}

void CheckPanel(FuzzedDataProvider& in) {
  engine::PanelValues panel;
  panel.autoChecked = in.ConsumeBool();
  panel.serverPAddr = in.ConsumeRandomLengthString(20);
  const auto portValue = in.ConsumeIntegral<std::int32_t>();
  int portReads = 0;
  panel.serverPortValue = [&] {
    ++portReads;
    return portValue;
  };
  panel.hAddr1 = in.ConsumeRandomLengthString(3);
  panel.hAddr2 = in.ConsumeRandomLengthString(3);
  panel.deviceName = in.ConsumeRandomLengthString(64);
  // The address group with the offsets the record gives its fields.
  const std::pair<const char*, std::size_t> group[] = {{"ip", 40}, {"mask", 44}, {"gateway", 48}, {"dns1", 52}, {"dns2", 56}};
  for (const auto& [key, offset] : group)
    panel.addresses.emplace_back(&device::FieldOf(key), in.ConsumeRandomLengthString(20));

  std::int32_t fifth = 0, sixth = 0;
  const bool hexOk = ModelStrToInt("0x0" + panel.hAddr1, fifth) && ModelStrToInt("0x0" + panel.hAddr2, sixth);
  device::NetConfig config;
  try {
    config = engine::PanelConfig(panel);
  } catch (const device::EConvertError&) {
    FUZZ_CHECK(!hexOk);
    return;
  }
  FUZZ_CHECK(hexOk);
  FUZZ_CHECK(portReads == 1);
  // The 60 bytes, laid out here field by field from the models above.
  std::uint8_t want[60] = {};
  want[0] = panel.autoChecked ? 1 : 0;
  ModelAddress(panel.serverPAddr, want + 1);
  const auto port = static_cast<std::uint32_t>(portValue);
  want[5] = static_cast<std::uint8_t>(port);
  want[6] = static_cast<std::uint8_t>(port >> 8);
  const std::uint32_t hAddr = static_cast<std::uint32_t>(fifth) * 256u + static_cast<std::uint32_t>(sixth);
  want[7] = static_cast<std::uint8_t>(hAddr);
  want[8] = static_cast<std::uint8_t>(hAddr >> 8);
  const std::string ansi = device::ToAnsi(panel.deviceName);
  std::memcpy(want + 9, ansi.data(), std::min(ansi.size(), device::kDeviceNameBytes));
  if (!panel.autoChecked) {
    for (std::size_t i = 0; i < std::size(group); ++i) ModelAddress(panel.addresses[i].second, want + group[i].second);
  }
  FUZZ_CHECK(std::memcmp(&config, want, sizeof want) == 0);
  // Every byte is defined: the same panel gives the same 60 bytes.
  FUZZ_CHECK(device::SameConfig(config, engine::PanelConfig(panel)));
}

void CheckIdentity(FuzzedDataProvider& in) {
  const auto ident = in.ConsumeIntegral<std::uint64_t>();
  const std::string text = device::IdentityText(ident);
  FUZZ_CHECK(text.size() >= 14 && text.size() <= 16);
  for (char c : text) FUZZ_CHECK((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'));
  FUZZ_CHECK(std::strtoull(text.c_str(), nullptr, 16) == ident);
  FUZZ_CHECK(text.size() == 14 || text[0] != '0');
  const auto format = in.ConsumeIntegral<std::uint8_t>();
  const std::string fourth = engine::FourthHAddrByteText(text, format);
  FUZZ_CHECK(fourth.size() == 2 && HexDigits(fourth));
  if (format == 1) {
    unsigned sum = 0;
    for (int i = 0; i < 7; ++i) sum += static_cast<unsigned>((ident >> (8 * i)) & 0xFF);
    FUZZ_CHECK(std::strtoul(fourth.c_str(), nullptr, 16) == (sum & 0xFF));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  // Invalid code page 936 bytes and invalid UTF-8 straight through the code page.
  const std::string bytes = in.ConsumeRandomLengthString(64);
  FUZZ_CHECK(ValidUtf8(device::FromAnsi(bytes)));
  if (Ascii(bytes)) FUZZ_CHECK(device::FromAnsi(bytes) == bytes);
  (void)device::ToAnsi(bytes);

  CheckIntegers(in);
  CheckHAddr(in);
  CheckAddresses(in);
  CheckNames(in);
  CheckPanel(in);
  CheckIdentity(in);
  return 0;
}
