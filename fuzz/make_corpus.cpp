// Writes the seed corpus of the three fuzz targets into DIR/<target>/:
// valid announcements of every kind, malformed datagrams and panel texts,
// each in the input layout its target reads (see the targets' headers).
//   fuzz_make_corpus DIR
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "device/fields.h"
#include "device/netconfig.h"
#include "orvenapi3/orvenapi3.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
std::filesystem::path g_root;

void Write(const std::string& target, const std::string& name, const Bytes& bytes) {
  const auto dir = g_root / target;
  std::filesystem::create_directories(dir);
  std::ofstream(dir / name, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

device::NetConfig Config(int n, bool autoIP = false) {
  device::NetConfig c;
  device::ZeroConfig(c);
  c.AutoIP = autoIP ? 1 : 0;
  c.ServerPAddr = device::IPv4FromText("10.0.0.1");
  c.ServerPort = 60110;
  c.HAddr = static_cast<std::uint16_t>(0x1A00 + n);
  device::DeviceNameFromText(c, "泵站" + std::to_string(n) + "号");
  if (!autoIP) {
    c.PAddr = device::IPv4FromText("192.168.1." + std::to_string(100 + n));
    c.SubNetMask = device::IPv4FromText("255.255.255.0");
    c.GatePAddr = device::IPv4FromText("192.168.1.1");
    c.DNS1PAddr = device::IPv4FromText("8.8.8.8");
  }
  return c;
}

Bytes Packet(std::uint8_t kind, std::uint64_t ident, const device::NetConfig& c, std::uint8_t flag = 0) {
  Bytes p(ORVEN_PACKET_SIZE);
  OrvenBuildPacket(p.data(), ORVEN_PACKET_SIZE, kind, flag, ident, reinterpret_cast<const unsigned char*>(&c));
  return p;
}

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// One datagram of a fuzz_intake input: header, length, bytes.
Bytes Dgram(const Bytes& d, std::uint8_t header = 0) {
  Bytes out{header, static_cast<std::uint8_t>(d.size() & 0xFF), static_cast<std::uint8_t>(d.size() >> 8)};
  out.insert(out.end(), d.begin(), d.end());
  return out;
}

Bytes Raw(const device::NetConfig& c) {
  const auto* p = reinterpret_cast<const std::uint8_t*>(&c);
  return Bytes(p, p + sizeof c);
}

void IntakeSeeds() {
  const std::uint64_t a = 0x0000123456789ABCull, b = 0xFF00A1B2C3D4E5F6ull;
  const auto A = Packet(0xFF, a, Config(1)), A2 = Packet(0xFF, a, Config(2));
  const auto B = Packet(0xFF, b, Config(3), 1);
  Bytes badCheck = A;
  badCheck[72] ^= 0x01;
  Bytes badMagic = A;
  badMagic[0] = 0x56;
  Bytes trailing = A;
  trailing.resize(600, 0xCC);
  const std::string t = "fuzz_intake";
  Write(t, "one-announcement", Cat({{0x00}, Dgram(A)}));
  Write(t, "refresh-send", Cat({{0x01}, Dgram(A), Dgram(A2)}));
  Write(t, "send-then-success", Cat({{0x05}, Dgram(A), Dgram(A2), Dgram(Packet(0xFC, a, Config(1)))}));
  Write(t, "pending-given", Cat({{0x03}, Raw(Config(7)), Dgram(A), Dgram(A), Dgram(Packet(0xFC, a, Config(7)))}));
  Write(t, "gate-shut", Cat({{0x09}, Dgram(A), Dgram(A2)}));
  Write(t, "second-selected", Cat({{0x11}, Dgram(A), Dgram(B), Dgram(Packet(0xFC, b, Config(4), 0)), Dgram(A2)}));
  Write(t, "kinds", Cat({{0x01}, Dgram(Packet(0x5A, a, Config(1))), Dgram(Packet(0x00, a, Config(1))),
                         Dgram(Packet(0x01, b, Config(1))), Dgram(A), Dgram(Packet(0x5A, a, Config(2))),
                         Dgram(Packet(0xFC, a, Config(5)))}));
  Write(t, "malformed", Cat({{0x01}, Dgram({}), Dgram(Bytes(A.begin(), A.begin() + 73)), Dgram(badCheck),
                             Dgram(badMagic), Dgram({0x4F}), Dgram(A), Dgram(trailing)}));
  Bytes garbage(200);
  for (std::size_t i = 0; i < garbage.size(); ++i) garbage[i] = static_cast<std::uint8_t>(i * 37 + 11);
  Write(t, "fixed-up-garbage", Cat({{0x01}, Dgram(garbage, 0x07), Dgram(garbage, 0x17), Dgram(garbage, 0x0F),
                                    Dgram(Bytes(garbage.begin(), garbage.begin() + 74), 0x03)}));
  Bytes many{0x05};
  for (int i = 0; i < 12; ++i) {
    const std::uint64_t id = (i % 3 == 0) ? (0xFFFFFFFFFFFFFFF0ull + static_cast<unsigned>(i)) : static_cast<std::uint64_t>(i) << 40;
    const Bytes d = Dgram(Packet(i % 2 ? 0xFC : 0xFF, id, Config(i, i % 4 == 0), static_cast<std::uint8_t>(i % 3)));
    many.insert(many.end(), d.begin(), d.end());
  }
  const Bytes again = Dgram(Packet(0xFF, 0xFFFFFFFFFFFFFFF0ull, Config(1)));
  many.insert(many.end(), again.begin(), again.end());
  Write(t, "many-devices", many);
  device::NetConfig odd = Config(9);
  odd.AutoIP = 2;
  std::memset(odd.DeviceName, 0xB1, sizeof odd.DeviceName);  // 31 bytes, no terminator
  Write(t, "odd-record", Cat({{0x01}, Dgram(Packet(0xFF, 0, odd)), Dgram(Packet(0xFF, 0, Config(9)))}));
}

// A fuzz_fields input: the texts in the order the target reads them, each
// ended by "\ " (the data provider's end of a string), the raw 31 name bytes,
// then integer bytes, which the provider takes from the end.
Bytes Fields(std::initializer_list<std::string> before, const std::string& name31,
             std::initializer_list<std::string> after, const Bytes& tail) {
  Bytes out;
  auto text = [&](const std::string& s) {
    out.insert(out.end(), s.begin(), s.end());
    out.push_back('\\');
    out.push_back(' ');
  };
  for (const auto& s : before) text(s);
  std::string raw = name31;
  raw.resize(31, '\0');
  out.insert(out.end(), raw.begin(), raw.end());
  for (const auto& s : after) text(s);
  out.insert(out.end(), tail.begin(), tail.end());
  return out;
}

void FieldsSeeds() {
  const std::string t = "fuzz_fields";
  const Bytes tail{0x01, 0xC0, 0xA8, 0x01, 0x0A, 0xCE, 0xEA, 0x7F, 0xFF, 0xFF, 0xFF, 0x12, 0x34, 0x56, 0x78,
                   0x9A, 0xBC, 0xDE, 0xF0, 0x01};
  // before: bytes, integer text, hAddr1, hAddr2, address text, name
  // after : server address, hAddr1, hAddr2, name, five addresses
  Write(t, "plain", Fields({"abc", "60110", "1A", "2B", "192.168.1.10", "泵站1号"}, "PUMP-1",
                           {"10.0.0.1", "1A", "2B", "泵站1号", "192.168.1.10", "255.255.255.0", "192.168.1.1",
                            "8.8.8.8", ""},
                           tail));
  Write(t, "integers", Fields({"\xb1\xc3", "-2147483648", "", "F", "255.255.255.255", ""}, "",
                              {"", "", "0", "", "", "", "", "", ""}, {0x00, 0x80, 0x00, 0x00, 0x00, 0x00}));
  Write(t, "hex", Fields({"", "$FFFFFFFF", "ff", "0", "0x7f.1", "a"}, "ABC",
                         {"1.2.3", "G", "1", "x", "1.2.3.4", "", "", "", "0"}, {0xFF, 0xFF, 0xFF, 0xFF}));
  Write(t, "overflow", Fields({"\xff\xfe\x80", "2147483648", "FFF", "-1", "999.1.1.1", std::string(40, 'N')},
                              std::string(31, '\xb1'),
                              {"256.0.0.0", "12", "345", std::string(35, 'x'), "0", "0.0.0.0", " 1.1.1.1",
                               "1.1.1.1 ", "01.02.03.04"},
                              {0x7F, 0xFF, 0xFF, 0xFF, 0x00}));
  // 15 Chinese characters: 30 bytes in code page 936; the 16th is cut.
  std::string thirty, thirtyOne;
  for (int i = 0; i < 15; ++i) thirty += "站";
  thirtyOne = "a" + thirty;
  Write(t, "names", Fields({"\xd5\xbe\xb1", " 12", "", "", "", thirty}, "\xd5\xbe\xb1\xc3\xd5",
                           {"", "", "", thirtyOne, "", "", "", "", ""}, {0x00, 0x01, 0x02}));
  Write(t, "invalid-utf8", Fields({"\xc3\x28\xe2\x82", "+0x1A", "1a", "2b", "\xe4\xb8", "\xed\xa0\x80\xf4\x90\x80\x80"},
                                  "\x81\x30\x81\x30\x80\xff",
                                  {"\xc0\xaf", "", "", "\xf0\x9f\x98\x80名\xff", "a.b.c.d", "", "", "", ""},
                                  {0x10, 0x20, 0x30}));
  Write(t, "signs", Fields({"-", "+", "0x", "$", "-0", " -0x80000000"}, "",
                           {"--1", "0x1", "$1", "  ", "1e3", "", "", "", ""}, {0x80, 0x00, 0x00, 0x00}));
  Write(t, "empty", {});
}

Bytes Api(std::uint8_t control, std::uint8_t prefix, const Bytes& d) {
  Bytes out{control, prefix};
  out.insert(out.end(), d.begin(), d.end());
  return out;
}

void OrvenSeeds() {
  const std::string t = "fuzz_orvenapi3";
  const std::uint64_t id = 0x00AABBCCDDEEFF01ull;
  const auto A = Packet(0xFF, id, Config(1));
  Bytes trailing = A;
  trailing.resize(300, 0x5A);
  Bytes badCheck = A;
  badCheck[73] ^= 0x80;
  Bytes garbage(74);
  for (std::size_t i = 0; i < garbage.size(); ++i) garbage[i] = static_cast<std::uint8_t>(i * 91 + 3);
  Write(t, "announce-ff", Api(0x10, 0, A));
  Write(t, "announce-fc", Api(0x10, 0, Packet(0xFC, id, Config(2), 1)));
  Write(t, "config-set", Api(0x10, 0, Packet(0x5A, id, Config(3))));
  Write(t, "kind-0", Api(0x10, 0, Packet(0x00, 0, Config(4))));
  Write(t, "kind-other", Api(0x10, 0, Packet(0x7E, ~0ull, Config(5, true))));
  Write(t, "trailing", Api(0x12, 74, trailing));
  Write(t, "prefix-73", Api(0x02, 73, A));
  Write(t, "bad-check", Api(0x00, 0, badCheck));
  Write(t, "short", Api(0x00, 0, Bytes(A.begin(), A.begin() + 40)));
  Write(t, "fixed-up", Api(0x01, 0, garbage));
  Write(t, "build-small", Api(0x0C, 0, garbage));
  Write(t, "build-large", Api(0xFD, 0, trailing));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s CORPUS_DIR\n", argv[0]);
    return 2;
  }
  g_root = argv[1];
  IntakeSeeds();
  FieldsSeeds();
  OrvenSeeds();
  return 0;
}
