#include "isolation_guard.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

namespace isolation {

void RequireIsolatedNetwork() {
  if (InsideIsolatedNetwork()) return;
  std::fflush(stdout);
  std::fprintf(stderr,
               "%s: refusing to run: this is not the private network namespace of tools/isolated-net (its marker "
               "adapter %s is missing here).\n"
               "The program binds the devices' ports on every adapter, joins their multicast group and broadcasts: "
               "run it through ctest, or as tools/isolated-net %s [ARG...].\n",
               ProgramName(), kMarkerAdapters[0], ProgramName());
  std::fflush(stderr);
  // At once: no test, no destructor of a static object, no socket.
  std::_Exit(kExitNotIsolated);
}

namespace {

// Set up before the first test, after the arguments have been read.
class Guard : public ::testing::Environment {
 public:
  void SetUp() override { RequireIsolatedNetwork(); }
};

::testing::Environment* const registered = ::testing::AddGlobalTestEnvironment(new Guard);

}  // namespace

}  // namespace isolation
