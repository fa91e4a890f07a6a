// The marker on Linux: the adapters of this process's network namespace as
// /proc/self/net/dev lists them (a file, so no socket is opened to ask).
#include <errno.h>

#include <cstring>
#include <fstream>
#include <string>

#include "isolation_guard.h"

namespace isolation {

bool InsideIsolatedNetwork() {
  std::ifstream dev("/proc/self/net/dev");
  std::string line;
  int found = 0;
  while (std::getline(dev, line)) {
    const auto colon = line.find(':');
    if (colon == std::string::npos) continue;
    const auto first = line.find_first_not_of(' ');
    const std::string name = line.substr(first, colon - first);
    for (const char* marker : kMarkerAdapters)
      if (name == marker) ++found;
  }
  return found == static_cast<int>(std::size(kMarkerAdapters));
}

const char* ProgramName() { return program_invocation_short_name; }

}  // namespace isolation
