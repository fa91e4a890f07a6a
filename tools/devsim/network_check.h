// Whether the simulator may announce here: by default only where no adapter
// but loopback is up (the private namespace of tools/isolated-net, a machine
// off every network). Simulated devices announced on a site's network would
// show up in every technician's tool there and answer their writes, so the
// simulator refuses unless --real-network allows it on purpose (a training
// room).
#pragma once

#include <string>
#include <vector>

namespace devsim {

// The exit code of a refusal (0 ends a run, 1 a socket failure, 2 a bad option).
constexpr int kExitRealNetwork = 3;

struct NetworkCheck {
  bool listed = false;              // false: the system could not list its adapters
  std::vector<std::string> others;  // adapters up other than loopback, in the system's order
  bool clear() const { return listed && others.empty(); }
};

// Lists the adapters that are up and connected with an IPv4 address
// (net::inspect::ListAdapters, on Linux and Windows alike). An adapter that
// is down does not count; loopback is an adapter the system calls so, or one
// whose every address is in 127.0.0.0/8.
NetworkCheck CheckNetwork();

// The refusal's text, one or more lines ending in a newline: in Simplified
// Chinese, followed by English unless the user's language is Chinese.
std::string RefusalText(const NetworkCheck& check, bool userIsChinese);

}  // namespace devsim
