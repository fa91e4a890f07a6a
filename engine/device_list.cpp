#include "engine/device_list.h"

#include <stdexcept>

#include "device/fields.h"

namespace engine {

int DeviceList::IndexOf(std::uint64_t ident) const {
  const auto it = index_.find(ident);
  return it == index_.end() ? -1 : it->second;
}

int DeviceList::Append(std::uint64_t ident, const device::DeviceEntry& entry) {
  const int index = Count();
  if (index_.count(ident) != 0) throw std::invalid_argument("device already listed");
  lines_.push_back(Line{entry, ident});
  try {
    index_.emplace(ident, index);
    if (observer_) observer_->appended(index);
  } catch (...) {
    // Taken back, so the list, its index and the view never disagree.
    index_.erase(ident);
    lines_.pop_back();
    throw;
  }
  return index;
}

std::string DeviceList::Text(int index) const { return device::IdentityText(Ident(index)); }

}  // namespace engine
