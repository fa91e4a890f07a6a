// Small helpers shared by the Windows sources of net/ (include after the
// system headers): names come as UTF-16 and everything above the seams
// takes UTF-8; the adapter list comes in a buffer of a size found by trying.
#pragma once

#include <winsock2.h>
#include <iphlpapi.h>
#include <windows.h>

#include <string>
#include <vector>

namespace net {

inline std::string Utf8FromWide(const wchar_t* text) {
  if (text == nullptr) return {};
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (n <= 1) return {};
  std::string out(static_cast<std::size_t>(n), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), n, nullptr, nullptr);
  out.resize(static_cast<std::size_t>(n - 1));
  return out;
}

// The IPv4 adapters from GetAdaptersAddresses() with 'flags', in 'storage';
// nullptr when the system cannot list them.
inline IP_ADAPTER_ADDRESSES* AdaptersAddresses(ULONG flags, std::vector<unsigned char>& storage) {
  ULONG size = 16 * 1024;
  ULONG rc = ERROR_BUFFER_OVERFLOW;
  for (int attempt = 0; attempt < 3 && rc == ERROR_BUFFER_OVERFLOW; ++attempt) {
    storage.resize(size);
    rc = ::GetAdaptersAddresses(AF_INET, flags, nullptr, reinterpret_cast<IP_ADAPTER_ADDRESSES*>(storage.data()), &size);
  }
  return rc == NO_ERROR ? reinterpret_cast<IP_ADAPTER_ADDRESSES*>(storage.data()) : nullptr;
}

}  // namespace net
