#include "journal/store.h"

#include <windows.h>

#include <cstdlib>
#include <vector>

namespace journal::store {

namespace {

std::wstring Wide(const std::string& utf8) {
  if (utf8.empty()) return {};
  const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
  if (n > 0) MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), n);
  return wide;
}

std::string Utf8(const wchar_t* wide) {
  const int n = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  if (n <= 1) return {};
  std::string utf8(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide, -1, utf8.data(), n, nullptr, nullptr);
  utf8.resize(static_cast<std::size_t>(n - 1));
  return utf8;
}

std::string Error(const std::string& what, const std::string& path) {
  const DWORD code = GetLastError();
  wchar_t* text = nullptr;
  FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                 code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string message = text ? Utf8(text) : "error " + std::to_string(code);
  if (text) LocalFree(text);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == '.'))
    message.pop_back();
  return what + " " + path + ": " + message;
}

bool WriteAll(HANDLE file, std::string_view bytes) {
  while (!bytes.empty()) {
    DWORD written = 0;
    if (!WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) || written == 0) return false;
    bytes.remove_prefix(written);
  }
  return true;
}

std::string Parent(const std::string& path) {
  const auto slash = path.find_last_of("\\/");
  return slash == std::string::npos ? "" : path.substr(0, slash);
}

}  // namespace

std::string DefaultFolder() {
  // %LOCALAPPDATA% is the user's own: under the profile, not roaming, its
  // permissions granting the user (and the system) alone.
  if (const wchar_t* local = _wgetenv(L"LOCALAPPDATA"); local && *local) return Join(Utf8(local), "orven-setup");
  if (const wchar_t* profile = _wgetenv(L"USERPROFILE"); profile && *profile)
    return Join(Join(Join(Utf8(profile), "AppData"), "Local"), "orven-setup");
  return "";
}

std::string Join(const std::string& folder, std::string_view name) {
  const bool separated = folder.empty() || folder.back() == '\\' || folder.back() == '/';
  return folder + (separated ? "" : "\\") + std::string(name);
}

std::string MakeFolder(const std::string& folder) {
  if (folder.empty()) return "no folder for the journal (LOCALAPPDATA is not set)";
  const std::wstring wide = Wide(folder);
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES)
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? "" : folder + ": not a folder";
  const std::string parent = Parent(folder);
  if (!parent.empty() && parent != folder && parent.back() != ':')
    if (std::string problem = MakeFolder(parent); !problem.empty()) return problem;
  if (!CreateDirectoryW(wide.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
    return Error("cannot create", folder);
  return "";
}

std::string AppendDurably(const std::string& path, std::string_view line, unsigned long long& size) {
  const std::wstring wide = Wide(path);
  // Appending only: every write goes to the end of the file.
  HANDLE file = CreateFileW(wide.c_str(), FILE_APPEND_DATA | FILE_READ_DATA | SYNCHRONIZE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return Error("cannot open", path);
  LARGE_INTEGER length{};
  std::string problem;
  if (!GetFileSizeEx(file, &length)) problem = Error("cannot read the size of", path);
  size = static_cast<unsigned long long>(length.QuadPart);
  char last = '\n';
  if (problem.empty() && length.QuadPart > 0) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>((length.QuadPart - 1) & 0xFFFFFFFF);
    at.OffsetHigh = static_cast<DWORD>((length.QuadPart - 1) >> 32);
    DWORD read = 0;
    if (!ReadFile(file, &last, 1, &read, &at) || read != 1) last = '\n';
  }
  const std::string bytes = (last == '\n' ? "" : "\n") + std::string(line);
  if (problem.empty() && !WriteAll(file, bytes)) problem = Error("cannot write", path);
  if (problem.empty() && !FlushFileBuffers(file)) problem = Error("cannot flush", path);
  CloseHandle(file);
  return problem;
}

std::string ReplaceDurably(const std::string& path, std::string_view content) {
  const std::string temporary = path + ".new";
  const std::wstring wideTemporary = Wide(temporary);
  HANDLE file = CreateFileW(wideTemporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return Error("cannot create", temporary);
  std::string problem;
  if (!WriteAll(file, content)) problem = Error("cannot write", temporary);
  if (problem.empty() && !FlushFileBuffers(file)) problem = Error("cannot flush", temporary);
  CloseHandle(file);
  if (problem.empty() &&
      !MoveFileExW(wideTemporary.c_str(), Wide(path).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    problem = Error("cannot rename", temporary);
  if (!problem.empty()) DeleteFileW(wideTemporary.c_str());
  return problem;
}

std::string ReadAll(const std::string& path, std::string& content, bool& missing) {
  content.clear();
  missing = false;
  HANDLE file = CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD code = GetLastError();
    missing = code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND;
    return missing ? "" : Error("cannot open", path);
  }
  std::vector<char> buffer(65536);
  for (;;) {
    DWORD read = 0;
    if (!ReadFile(file, buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr)) {
      const std::string problem = Error("cannot read", path);
      CloseHandle(file);
      return problem;
    }
    if (read == 0) break;
    content.append(buffer.data(), read);
  }
  CloseHandle(file);
  return "";
}

std::string WorkstationName() {
  wchar_t name[256] = {};
  DWORD size = 255;
  if (!GetComputerNameExW(ComputerNameDnsHostname, name, &size)) return "";
  return Utf8(name);
}

}  // namespace journal::store
