// The stand-in device-protocol library on its own, checked against an
// independent model of the wire format.
//
// Input layout: byte 0 control (bit 0: make magic and check valid, bit 1:
// classify a prefix whose length is byte 1, bits 2-7: capacity offered to
// OrvenBuildPacket, 70 + value), then the datagram.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz/fuzz_common.h"
#include "orvenapi3/orvenapi3.h"

namespace {

// Exact-size heap copies throughout: any read or write past the given length
// is an ASan finding.
void CheckPrepare(const std::vector<std::uint8_t>& datagram) {
  std::vector<std::uint8_t> buffer(datagram);
  const int kind = PreparePackage(buffer.data(), static_cast<int>(buffer.size()));
  FUZZ_CHECK(buffer == datagram);
  FUZZ_CHECK(kind == fuzz::ExpectedKind(datagram.data(), datagram.size()));
  FUZZ_CHECK(kind >= 0 && kind <= 255);

  unsigned long long ident = 0x1111;
  std::uint8_t config[ORVEN_CONFIG_SIZE];
  std::memset(config, 0xA5, sizeof config);
  const int isSet = OrvenReadConfigSet(buffer.data(), static_cast<int>(buffer.size()), &ident, config);
  FUZZ_CHECK(buffer == datagram);
  FUZZ_CHECK(OrvenReadConfigSet(buffer.data(), static_cast<int>(buffer.size()), nullptr, nullptr) == isSet);
  const bool wellFormed = fuzz::WellFormed(datagram.data(), datagram.size());
  FUZZ_CHECK(isSet == (wellFormed && datagram[fuzz::kKind] == ORVEN_KIND_CONFIG_SET ? 1 : 0));
  if (!isSet) {
    FUZZ_CHECK(ident == 0x1111);
    for (std::uint8_t b : config) FUZZ_CHECK(b == 0xA5);
  } else {
    FUZZ_CHECK(ident == fuzz::IdentAt(datagram.data()));
    FUZZ_CHECK(std::memcmp(config, datagram.data() + fuzz::kConfig, sizeof config) == 0);
  }
  if (!wellFormed) return;

  FUZZ_CHECK(GetDeviceIdent(buffer.data()) == fuzz::IdentAt(datagram.data()));
  FUZZ_CHECK(ReadNetConfigration(buffer.data()) == buffer.data() + fuzz::kConfig);
  FUZZ_CHECK(buffer == datagram);

  // The write path: a 1500-byte buffer, a record written at offset 12 (here
  // the announced one reversed), turned into a configuration-set packet.
  std::vector<std::uint8_t> send(datagram);
  send.resize(1500, 0);
  std::uint8_t* target = ReadNetConfigration(send.data());
  std::reverse(target, target + ORVEN_CONFIG_SIZE);
  const std::vector<std::uint8_t> before(send);
  const int length = SendNetConfigration(send.data());
  FUZZ_CHECK(length == 74);
  for (std::size_t i = 0; i < send.size(); ++i)
    if (i != fuzz::kKind && i != fuzz::kCheck && i != fuzz::kCheck + 1) FUZZ_CHECK(send[i] == before[i]);
  FUZZ_CHECK(send[fuzz::kKind] == ORVEN_KIND_CONFIG_SET);
  std::vector<std::uint8_t> packet(send.begin(), send.begin() + length);
  FUZZ_CHECK(PreparePackage(packet.data(), length) == ORVEN_KIND_CONFIG_SET);
  unsigned long long setIdent = 0;
  std::uint8_t carried[ORVEN_CONFIG_SIZE];
  FUZZ_CHECK(OrvenReadConfigSet(packet.data(), length, &setIdent, carried) == 1);
  FUZZ_CHECK(setIdent == fuzz::IdentAt(datagram.data()));
  FUZZ_CHECK(std::memcmp(carried, before.data() + fuzz::kConfig, sizeof carried) == 0);

  // On an exact 74-byte packet the call stays within its 74 bytes.
  std::vector<std::uint8_t> exact(datagram.begin(), datagram.begin() + fuzz::kPacket);
  FUZZ_CHECK(SendNetConfigration(exact.data()) == 74);
  FUZZ_CHECK(fuzz::WellFormed(exact.data(), exact.size()) && exact[fuzz::kKind] == ORVEN_KIND_CONFIG_SET);
}

void CheckBuild(const std::vector<std::uint8_t>& datagram, int capacity) {
  if (datagram.size() < 1 + 1 + 8) return;
  const std::uint8_t kind = datagram[0];
  const std::uint8_t flag = datagram[1];
  std::uint64_t ident = 0;  // bytes 2-9
  for (std::size_t i = 9; i >= 2; --i) ident = (ident << 8) | datagram[i];
  const bool withConfig = datagram.size() >= 10 + ORVEN_CONFIG_SIZE;
  std::vector<std::uint8_t> buffer(static_cast<std::size_t>(capacity), 0xEE);
  const int n = OrvenBuildPacket(buffer.data(), capacity, kind, flag, ident,
                                 withConfig ? datagram.data() + 10 : nullptr);
  if (capacity < 74) {
    FUZZ_CHECK(n == 0);
    for (std::uint8_t b : buffer) FUZZ_CHECK(b == 0xEE);
    return;
  }
  FUZZ_CHECK(n == 74);
  for (std::size_t i = 74; i < buffer.size(); ++i) FUZZ_CHECK(buffer[i] == 0xEE);
  FUZZ_CHECK(PreparePackage(buffer.data(), n) == kind);
  FUZZ_CHECK(buffer[2] == flag && GetDeviceIdent(buffer.data()) == ident);
  for (std::size_t i = 0; i < ORVEN_CONFIG_SIZE; ++i)
    FUZZ_CHECK(buffer[fuzz::kConfig + i] == (withConfig ? datagram[10 + i] : 0));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::uint8_t control = data[0];
  std::vector<std::uint8_t> datagram(data + 2, data + size);
  if (control & 1) fuzz::FixUp(datagram.data(), datagram.size());
  CheckPrepare(datagram);
  if (control & 2) {
    // A shorter length than the buffer holds: only that prefix counts.
    const std::size_t n = std::min<std::size_t>(data[1], datagram.size());
    CheckPrepare(std::vector<std::uint8_t>(datagram.begin(), datagram.begin() + static_cast<std::ptrdiff_t>(n)));
  }
  CheckBuild(datagram, 70 + (control >> 2));

  static const bool crcChecked = [] {
    FUZZ_CHECK(OrvenCrc16(reinterpret_cast<const unsigned char*>("123456789"), 9) == 0x29B1);
    FUZZ_CHECK(OrvenCrc16(nullptr, 0) == 0xFFFF);
    return true;
  }();
  (void)crcChecked;
  if (!datagram.empty())
    FUZZ_CHECK(OrvenCrc16(datagram.data(), static_cast<int>(datagram.size())) ==
               fuzz::Crc16(datagram.data(), datagram.size()));
  return 0;
}
