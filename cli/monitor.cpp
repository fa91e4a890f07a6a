#include "cli/monitor.h"

#include <algorithm>
#include <chrono>
#include <cmath>

#include "cli/platform.h"
#include "net/adapter.h"
#include "device/fields.h"

namespace cli {

Monitor::Taken Monitor::Take(const Datagram& d) {
  Taken taken;
  taken.outcome = engine::Intake(d.bytes, list_, d.arrival.index);
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
  if (h.adapterIndex != d.arrival.index) {
    h.adapterIndex = d.arrival.index;
    h.adapter = net::sock::AdapterName(d.arrival.index);
  }
  ++h.announcements;
  return taken;
}

Row Monitor::Fields(int index) const {
  const std::string ident = list_.Text(index);
  return DeviceFields({ident, list_.Entry(index), heard_[static_cast<std::size_t>(index)]});
}

bool Listen(Session& session, Monitor& monitor, double seconds) {
  using Clock = std::chrono::steady_clock;
  const auto start = Clock::now();
  for (double left = seconds; left > 0;
       left = seconds - std::chrono::duration<double>(Clock::now() - start).count()) {
    if (Interrupted()) return true;
    session.Poll(static_cast<int>(std::ceil(std::min(left * 1000, double{kPollMs}))),
                 [&](const Datagram& d) { monitor.Take(d); });
  }
  return false;
}

}  // namespace cli
