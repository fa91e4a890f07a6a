// The device list: one line per device, in the order devices were first
// heard, each owning its DeviceEntry. Lines are only ever appended, never
// removed, reordered or renamed. An index from identity to line sits beside
// the lines, so a lookup costs the same at 100,000 devices as at 10 and
// gives the same line as a first-match search over the lines' texts would
// (identity texts and identities correspond one to one).
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "device/netconfig.h"

namespace engine {

class DeviceList {
 public:
  // Told after every successful append, once the line and its index entry
  // exist, so a view can follow the list. A failed append tells nothing.
  class Observer {
   public:
    virtual ~Observer() = default;
    virtual void appended(int index) = 0;
  };

  int Count() const { return static_cast<int>(lines_.size()); }
  // The line of the device, or -1.
  int IndexOf(std::uint64_t ident) const;
  // Appends a line for a device not yet listed; returns its index. On an
  // exception (also one thrown by the observer) the list is unchanged.
  // 'adapter': the interface index of the adapter it was heard on (0: not known).
  int Append(std::uint64_t ident, const device::DeviceEntry& entry, unsigned adapter = 0);

  std::uint64_t Ident(int index) const { return lines_.at(static_cast<std::size_t>(index)).ident; }
  // The line's text: the identity text.
  std::string Text(int index) const;
  device::DeviceEntry& Entry(int index) { return lines_.at(static_cast<std::size_t>(index)).entry; }
  const device::DeviceEntry& Entry(int index) const {
    return lines_.at(static_cast<std::size_t>(index)).entry;
  }

  // The adapter of the device's latest announcement: its interface index, 0
  // when the receive did not tell (or it is above kLargestAdapter).
  unsigned Adapter(int index) const;
  void SetAdapter(int index, unsigned adapter);
  static constexpr unsigned kLargestAdapter = 0xFFFFFF;

  void SetObserver(Observer* observer) { observer_ = observer; }

 private:
  // The adapter's index sits in the three bytes the 61-byte entry leaves
  // before the identity, so a line stays 72 bytes: at 100,000 devices the
  // lines are what the cache holds of the list.
  struct Line {
    device::DeviceEntry entry;
    std::uint8_t adapter[3];  // little-endian
    std::uint64_t ident;
  };
  static_assert(sizeof(device::DeviceEntry) + 3 == 64, "the adapter fills the padding before the identity");
  std::size_t Home(std::uint64_t ident) const;  // where the identity's probe starts
  std::size_t FreeSlot(std::uint64_t ident) const;  // the first empty slot of its probe
  void Grow();

  // A deque: appending never moves the lines already there, so a reference
  // to an entry stays valid while later devices are added.
  std::deque<Line> lines_;
  // The index: an open-addressed table of line numbers (-1: empty slot),
  // probed linearly from the identity's hash, never more than half full.
  // A slot costs 4 bytes, where a node of a hash map would cost some 40 per
  // device, which matters at 100,000 devices.
  std::vector<std::int32_t> slots_;
  int shift_ = 64;  // 64 - log2(slots_.size())
  Observer* observer_ = nullptr;
};

}  // namespace engine
