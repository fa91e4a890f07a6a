#include "cli/monitor.h"

#include "device/fields.h"

namespace cli {

Monitor::Taken Monitor::Take(const Datagram& d) {
  Taken taken;
  taken.outcome = engine::Intake(d.bytes, list_);
  const int index = taken.outcome.index;
  if (taken.outcome.result == engine::IntakeResult::Dropped) return taken;
  if (taken.outcome.result == engine::IntakeResult::NewDevice) {
    heard_.emplace_back();
    last_.push_back(list_.Entry(index).Config);
  } else if (!device::SameConfig(last_[static_cast<std::size_t>(index)], list_.Entry(index).Config)) {
    taken.changed = true;
    last_[static_cast<std::size_t>(index)] = list_.Entry(index).Config;
  }
  Heard& h = heard_[static_cast<std::size_t>(index)];
  h.sourceAddress = d.sourceAddress;
  h.sourcePort = d.sourcePort;
  (d.via == Via::Multicast ? h.multicast : h.broadcast) = true;
  ++h.announcements;
  return taken;
}

Row Monitor::Fields(int index) const {
  const std::string ident = list_.Text(index);
  return DeviceFields({ident, list_.Entry(index), heard_[static_cast<std::size_t>(index)]});
}

}  // namespace cli
