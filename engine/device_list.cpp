#include "engine/device_list.h"

#include <stdexcept>

#include "device/fields.h"

namespace engine {

std::size_t DeviceList::Home(std::uint64_t ident) const {
  // Fibonacci hashing: the top bits of the product spread any identities.
  return static_cast<std::size_t>((ident * 0x9E3779B97F4A7C15ULL) >> shift_);
}

int DeviceList::IndexOf(std::uint64_t ident) const {
  if (slots_.empty()) return -1;
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t i = Home(ident);; i = (i + 1) & mask) {
    const std::int32_t line = slots_[i];
    if (line < 0 || lines_[static_cast<std::size_t>(line)].ident == ident) return line;
  }
}

std::size_t DeviceList::FreeSlot(std::uint64_t ident) const {
  const std::size_t mask = slots_.size() - 1;
  std::size_t i = Home(ident);
  while (slots_[i] >= 0) i = (i + 1) & mask;
  return i;
}

void DeviceList::Grow() {
  const std::size_t size = slots_.empty() ? 16 : slots_.size() * 2;
  std::vector<std::int32_t> grown(size, -1);  // may throw: nothing has changed yet
  slots_.swap(grown);
  shift_ = 64;
  for (std::size_t s = size; s > 1; s >>= 1) --shift_;
  for (std::size_t line = 0; line < lines_.size(); ++line)
    slots_[FreeSlot(lines_[line].ident)] = static_cast<std::int32_t>(line);
}

int DeviceList::Append(std::uint64_t ident, const device::DeviceEntry& entry, unsigned adapter) {
  const int index = Count();
  if (IndexOf(ident) >= 0) throw std::invalid_argument("device already listed");
  if (static_cast<std::size_t>(index + 1) * 2 > slots_.size()) Grow();
  lines_.push_back(Line{entry, {}, ident});
  SetAdapter(index, adapter);
  const std::size_t slot = FreeSlot(ident);
  slots_[slot] = index;
  try {
    if (observer_) observer_->appended(index);
  } catch (...) {
    // Taken back, so the list, its index and the view never disagree. The
    // slot was the last one filled, so no other identity's probe passes
    // through it: emptying it restores the index exactly.
    slots_[slot] = -1;
    lines_.pop_back();
    throw;
  }
  return index;
}

unsigned DeviceList::Adapter(int index) const {
  const std::uint8_t* a = lines_.at(static_cast<std::size_t>(index)).adapter;
  return a[0] | unsigned{a[1]} << 8 | unsigned{a[2]} << 16;
}

void DeviceList::SetAdapter(int index, unsigned adapter) {
  if (adapter > kLargestAdapter) adapter = 0;  // not kept: answers leave as the system routes them
  std::uint8_t* a = lines_.at(static_cast<std::size_t>(index)).adapter;
  a[0] = static_cast<std::uint8_t>(adapter);
  a[1] = static_cast<std::uint8_t>(adapter >> 8);
  a[2] = static_cast<std::uint8_t>(adapter >> 16);
}

std::string DeviceList::Text(int index) const { return device::IdentityText(Ident(index)); }

}  // namespace engine
