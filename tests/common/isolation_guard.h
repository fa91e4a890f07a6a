// The guard of every test program that opens sockets beyond 127.0.0.1 (it
// binds the devices' ports on the wildcard address, joins their group or
// broadcasts): such a program runs only inside the private network namespace
// that tools/isolated-net makes, or a test topology built inside one.
//
// That namespace is told by something no other namespace has: a veth pair
// of ours, orvenisol0 and orvenisol1, which tools/isolated-net creates in
// it and leaves down (an adapter that is down carries nothing and is not
// counted by the simulator's rule about adapters that are up). A variable
// such as ORVEN_ISOLATED proves nothing and is not asked.
//
// isolation_guard_posix.cpp and isolation_guard_win32.cpp look for the
// marker with the same contract; isolation_guard.cpp holds the rest.
//
// Linked into a program (tests/CMakeLists.txt does so for every NETNS
// test), the guard registers a GoogleTest environment: before the first
// test, hence before any socket is opened, the program ends with
// kExitNotIsolated and a message naming tools/isolated-net unless the
// marker is there. Listing the tests (--gtest_list_tests) runs no test and
// is not refused.
#pragma once

namespace isolation {

inline constexpr const char* kMarkerAdapters[] = {"orvenisol0", "orvenisol1"};

// The exit code of a refusal (GoogleTest ends a failed run with 1).
constexpr int kExitNotIsolated = 78;

// True when both adapters of the marker pair exist in this process's
// network namespace (whether up or down). Opens no socket.
bool InsideIsolatedNetwork();

// This program's file name, for the message.
const char* ProgramName();

// Unless InsideIsolatedNetwork(): prints why to standard error and ends the
// process at once with kExitNotIsolated.
void RequireIsolatedNetwork();

}  // namespace isolation
