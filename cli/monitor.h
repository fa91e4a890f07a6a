// The devices heard in one run: the engine's device list and what the run
// heard of each besides its record.
#pragma once

#include <vector>

#include "cli/fields.h"
#include "cli/session.h"
#include "engine/device_list.h"
#include "engine/intake.h"

namespace cli {

// How long a command waits for datagrams at a time: how soon Ctrl+C and the
// clock are noticed.
constexpr int kPollMs = 100;

class Monitor {
 public:
  struct Taken {
    engine::IntakeOutcome outcome;
    bool changed = false;  // a known device announced another record than before
  };

  // One datagram through the engine's intake.
  Taken Take(const Datagram& d);

  const engine::DeviceList& List() const { return list_; }
  Row Fields(int index) const;

 private:
  engine::DeviceList list_;
  std::vector<Heard> heard_;
  std::vector<device::NetConfig> last_;
};

// Takes in every datagram for 'seconds' (Ctrl+C noticed within a tenth of a
// second). Returns true when Ctrl+C ended it.
bool Listen(Session& session, Monitor& monitor, double seconds);

}  // namespace cli
