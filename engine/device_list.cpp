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
  if (observer_) observer_->aboutToAppend(index);
  // The index first: if the line cannot be added, the index entry is taken
  // back, so the list and its index never disagree.
  index_.emplace(ident, index);
  try {
    lines_.push_back(Line{entry, ident});
  } catch (...) {
    index_.erase(ident);
    if (observer_) observer_->appended(-1);
    throw;
  }
  if (observer_) observer_->appended(index);
  return index;
}

std::string DeviceList::Text(int index) const { return device::IdentityText(Ident(index)); }

}  // namespace engine
