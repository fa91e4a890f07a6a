// The marker on Windows, which these programs meet under Wine inside the
// namespace: Wine shows the namespace's Linux adapters, those that are down
// too, under their Linux names. On a real Windows there is no such adapter,
// and a networked test program refuses to run there.
#include <winsock2.h>
#include <iphlpapi.h>
#include <windows.h>

#include <cstring>
#include <cwchar>
#include <vector>

#include "isolation_guard.h"

namespace isolation {

bool InsideIsolatedNetwork() {
  std::vector<unsigned char> storage(16 * 1024);
  ULONG size = static_cast<ULONG>(storage.size());
  const ULONG flags = GAA_FLAG_INCLUDE_ALL_INTERFACES | GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST |
                      GAA_FLAG_SKIP_DNS_SERVER | GAA_FLAG_SKIP_UNICAST;
  ULONG result = ERROR_BUFFER_OVERFLOW;
  for (int attempt = 0; attempt < 3 && result == ERROR_BUFFER_OVERFLOW; ++attempt) {
    storage.resize(size);
    result = ::GetAdaptersAddresses(AF_UNSPEC, flags, nullptr,
                                    reinterpret_cast<IP_ADAPTER_ADDRESSES*>(storage.data()), &size);
  }
  if (result != NO_ERROR) return false;
  int found = 0;
  for (auto* a = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(storage.data()); a != nullptr; a = a->Next) {
    for (const char* marker : kMarkerAdapters) {
      wchar_t wide[32];
      std::swprintf(wide, 32, L"%hs", marker);
      if (a->FriendlyName != nullptr && std::wcscmp(a->FriendlyName, wide) == 0) ++found;
    }
  }
  return found == static_cast<int>(std::size(kMarkerAdapters));
}

const char* ProgramName() {
  static char path[MAX_PATH] = "";
  if (path[0] == '\0' && ::GetModuleFileNameA(nullptr, path, MAX_PATH) == 0) return "test program";
  const char* slash = std::strrchr(path, '\\');
  return slash != nullptr ? slash + 1 : path;
}

}  // namespace isolation
