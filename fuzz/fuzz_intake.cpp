// The intake path from raw datagram bytes: the device library (the stand-in,
// built with the same sanitizers), engine::Intake, the device list and, for
// half of the inputs, the confirmation step for the selected device.
//
// Input layout:
//   byte 0   control: bit 0 runs the confirmation step, bit 1 takes the
//            pending record from the next 60 bytes, bit 2 (without bit 1)
//            makes the first device's first record the pending one, bit 3
//            closes the write (time run out), bits 4-5 the selected line
//   then datagrams, each: header byte h, length (2 bytes, little-endian,
//   at most 8192), the bytes (cut short at the end of the input).
//   h bit 0: make magic and check valid; bit 1: identity from a small set
//   (bits 4-6) so devices repeat; bit 2: kind forced to 0xFF, or 0xFC with
//   bit 3.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "device/fields.h"
#include "device/netconfig.h"
#include "engine/device_list.h"
#include "engine/confirm.h"
#include "engine/intake.h"
#include "fuzz/fuzz_common.h"
#include "orvenapi3/orvenapi3.h"

namespace {

using Record = std::array<std::uint8_t, device::kNetConfigSize>;

constexpr std::uint64_t kIdents[8] = {
    0, 1, 0x0000123456789ABCull, 0x00FFFFFFFFFFFFFFull,
    0x0100000000000000ull, 0xFF00000000000001ull, 0xFFFFFFFFFFFFFFFFull, 0x00000000DEADBEEFull};
constexpr std::size_t kMaxDatagram = 8192;
constexpr int kMaxDatagrams = 64;

// Checks that appends are announced once each, in order, after the line exists.
class AppendWatch : public engine::DeviceList::Observer {
 public:
  explicit AppendWatch(const engine::DeviceList& list) : list_(list) {}
  void appended(int index) override {
    FUZZ_CHECK(index == told_ && index == list_.Count() - 1);
    ++told_;
  }

 private:
  const engine::DeviceList& list_;
  int told_ = 0;
};

Record RecordOf(const void* p) {
  Record r;
  std::memcpy(r.data(), p, r.size());
  return r;
}

void CheckConfirm(bool writeOpen, const device::NetConfig& pending,
                  const std::vector<std::uint8_t>& announcement) {
  std::vector<std::uint8_t> work(announcement);
  const engine::ConfirmAction action = engine::Confirm(writeOpen, pending, work);
  if (!writeOpen) {
    FUZZ_CHECK(action == engine::ConfirmAction::None);
    FUZZ_CHECK(work == announcement);
    return;
  }
  if (device::SameConfig(pending, announcement.data() + fuzz::kConfig)) {
    FUZZ_CHECK(action == engine::ConfirmAction::Success);
    FUZZ_CHECK(work == announcement);
    return;
  }
  FUZZ_CHECK(action == engine::ConfirmAction::Send);
  FUZZ_CHECK(work.size() == fuzz::kPacket);
  FUZZ_CHECK(work[0] == 0x4F && work[1] == 0x56 && work[fuzz::kKind] == ORVEN_KIND_CONFIG_SET);
  FUZZ_CHECK(fuzz::WellFormed(work.data(), work.size()));
  // The format flag and the identity are the announcement's.
  FUZZ_CHECK(work[2] == announcement[2]);
  FUZZ_CHECK(std::memcmp(work.data() + fuzz::kIdent, announcement.data() + fuzz::kIdent, 8) == 0);
  unsigned long long ident = 0;
  Record carried{};
  FUZZ_CHECK(OrvenReadConfigSet(work.data(), static_cast<int>(work.size()), &ident, carried.data()) == 1);
  FUZZ_CHECK(ident == fuzz::IdentAt(announcement.data()));
  FUZZ_CHECK(device::SameConfig(pending, carried.data()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  std::size_t pos = 0;
  const std::uint8_t control = data[pos++];
  const bool confirm = control & 1;
  const bool gateShut = control & 8;
  const int selectedChoice = (control >> 4) & 3;

  device::NetConfig pending;
  device::ZeroConfig(pending);
  bool pendingFromFirst = false;
  if (control & 2) {
    const std::size_t n = std::min(device::kNetConfigSize, size - pos);
    std::memcpy(&pending, data + pos, n);
    pos += n;
  } else if (control & 4) {
    pendingFromFirst = true;
  }

  engine::DeviceList list;
  AppendWatch watch(list);
  list.SetObserver(&watch);
  std::map<std::uint64_t, int> lines;           // identity -> line
  std::map<std::uint64_t, Record> lastRecord;   // identity -> last announced record
  std::map<std::uint64_t, std::uint8_t> format; // identity -> byte 2 of its first announcement
  const bool writeOpen = !gateShut;

  for (int d = 0; d < kMaxDatagrams && pos + 3 <= size; ++d) {
    const std::uint8_t h = data[pos];
    std::size_t len = static_cast<std::size_t>(data[pos + 1] | (data[pos + 2] << 8)) % (kMaxDatagram + 1);
    pos += 3;
    len = std::min(len, size - pos);
    // An exact-size heap copy: reading past the datagram is an ASan finding.
    std::vector<std::uint8_t> datagram(data + pos, data + pos + len);
    pos += len;
    if ((h & 2) && len >= fuzz::kIdent + 8) fuzz::PutIdent(datagram.data(), kIdents[(h >> 4) & 7]);
    if ((h & 4) && len > fuzz::kKind) datagram[fuzz::kKind] = (h & 8) ? 0xFC : 0xFF;
    if (h & 1) fuzz::FixUp(datagram.data(), len);

    const int kind = fuzz::ExpectedKind(datagram.data(), len);
    const bool announcement = kind == 0xFF || kind == 0xFC;
    std::vector<std::uint8_t> work(datagram);
    const int before = list.Count();
    const engine::IntakeOutcome out = engine::Intake(work, list);
    // The stand-in library never changes the buffer during the intake.
    FUZZ_CHECK(work == datagram);

    if (!announcement) {
      FUZZ_CHECK(out.result == engine::IntakeResult::Dropped);
      FUZZ_CHECK(list.Count() == before);
      continue;
    }
    const std::uint64_t ident = fuzz::IdentAt(datagram.data());
    const Record announced = RecordOf(datagram.data() + fuzz::kConfig);
    const auto known = lines.find(ident);
    if (known == lines.end()) {
      FUZZ_CHECK(out.result == engine::IntakeResult::NewDevice);
      FUZZ_CHECK(out.index == before && list.Count() == before + 1);
      lines[ident] = out.index;
      format[ident] = datagram[2];
      if (pendingFromFirst && out.index == 0) std::memcpy(&pending, announced.data(), announced.size());
    } else {
      FUZZ_CHECK(out.result == engine::IntakeResult::KnownDevice);
      FUZZ_CHECK(out.index == known->second && list.Count() == before);
    }
    lastRecord[ident] = announced;
    const device::DeviceEntry& entry = list.Entry(out.index);
    FUZZ_CHECK(device::SameConfig(entry.Config, announced.data()));
    FUZZ_CHECK(entry.HAddrFormat == format[ident]);

    // The first line is selected when it is added; the user may have picked
    // another one since (bits 4-5 of the control byte).
    const int selected = selectedChoice < list.Count() ? selectedChoice : 0;
    if (confirm && out.result == engine::IntakeResult::KnownDevice && out.index == selected)
      CheckConfirm(writeOpen, pending, work);
  }

  // The list against the model: one line per identity, in order of first
  // announcement, each holding its device's last announced record.
  FUZZ_CHECK(list.Count() == static_cast<int>(lines.size()));
  std::set<std::string> texts;
  for (int i = 0; i < list.Count(); ++i) {
    const std::uint64_t ident = list.Ident(i);
    const std::string text = list.Text(i);
    FUZZ_CHECK(texts.insert(text).second);
    FUZZ_CHECK(text == device::IdentityText(ident));
    FUZZ_CHECK(list.IndexOf(ident) == i);
    FUZZ_CHECK(lines.at(ident) == i);
    FUZZ_CHECK(device::SameConfig(list.Entry(i).Config, lastRecord.at(ident).data()));
  }
  return 0;
}
