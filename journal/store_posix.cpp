#include "journal/store.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace journal::store {

namespace {

std::string Error(const std::string& what, const std::string& path) {
  return what + " " + path + ": " + std::strerror(errno);
}

// Writes all bytes, through interrupted and short writes.
bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

std::string Parent(const std::string& path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

// A new directory entry survives a power cut once its folder is on the disk.
void SyncFolder(const std::string& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

}  // namespace

std::string DefaultFolder() {
  const char* state = std::getenv("XDG_STATE_HOME");
  // A relative XDG path is to be ignored.
  if (state && state[0] == '/') return Join(state, "orven-setup");
  const char* home = std::getenv("HOME");
  if (!home || !*home) {
    const passwd* user = ::getpwuid(::getuid());
    home = user ? user->pw_dir : nullptr;
  }
  if (!home || !*home) return "";
  return Join(Join(Join(home, ".local"), "state"), "orven-setup");
}

std::string Join(const std::string& folder, std::string_view name) {
  return folder + (folder.empty() || folder.back() == '/' ? "" : "/") + std::string(name);
}

std::string MakeFolder(const std::string& folder) {
  if (folder.empty()) return "no folder for the journal (neither XDG_STATE_HOME nor HOME is set)";
  struct stat st {};
  if (::stat(folder.c_str(), &st) == 0) return S_ISDIR(st.st_mode) ? "" : folder + ": not a folder";
  const std::string parent = Parent(folder);
  if (parent != folder && ::stat(parent.c_str(), &st) != 0)
    if (std::string problem = MakeFolder(parent); !problem.empty()) return problem;
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return Error("cannot create", folder);
  return "";
}

std::string AppendDurably(const std::string& path, std::string_view line, unsigned long long& size) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return Error("cannot open", path);
  struct stat st {};
  std::string problem;
  if (::fstat(fd, &st) != 0) problem = Error("cannot read the size of", path);
  size = static_cast<unsigned long long>(st.st_size);
  // Readable by this user only, also when an older file was made otherwise.
  if (problem.empty() && (st.st_mode & 077) != 0 && ::fchmod(fd, 0600) != 0) problem = Error("cannot restrict", path);
  char last = '\n';
  if (problem.empty() && st.st_size > 0) {
    const int in = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0 || ::pread(in, &last, 1, st.st_size - 1) != 1) last = '\n';
    if (in >= 0) ::close(in);
  }
  const std::string bytes = (last == '\n' ? "" : "\n") + std::string(line);
  if (problem.empty() && !WriteAll(fd, bytes)) problem = Error("cannot write", path);
  if (problem.empty() && ::fsync(fd) != 0) problem = Error("cannot flush", path);
  ::close(fd);
  if (problem.empty() && st.st_size == 0) SyncFolder(Parent(path));
  return problem;
}

std::string ReplaceDurably(const std::string& path, std::string_view content) {
  const std::string temporary = path + ".new";
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return Error("cannot create", temporary);
  std::string problem;
  if (!WriteAll(fd, content)) problem = Error("cannot write", temporary);
  if (problem.empty() && ::fsync(fd) != 0) problem = Error("cannot flush", temporary);
  ::close(fd);
  if (problem.empty() && ::rename(temporary.c_str(), path.c_str()) != 0) problem = Error("cannot rename", temporary);
  if (!problem.empty()) ::unlink(temporary.c_str());
  else SyncFolder(Parent(path));
  return problem;
}

std::string ReadAll(const std::string& path, std::string& content, bool& missing) {
  content.clear();
  missing = false;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    missing = errno == ENOENT;
    return missing ? "" : Error("cannot open", path);
  }
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const std::string problem = Error("cannot read", path);
      ::close(fd);
      return problem;
    }
    if (n == 0) break;
    content.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return "";
}

std::string WorkstationName() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return "";
  return name;
}

}  // namespace journal::store
