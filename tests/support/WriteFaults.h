// Faults of the file system for one child process, and the checks that a source stays
// untouched. Header-only: used by the command-line and the application-core tests.
#pragma once

#include <fcntl.h>
#include <sched.h>
#include <sys/inotify.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <set>
#include <string>

namespace tovi::test {

// The exit status of a child that could not make its folder read-only.
inline constexpr int kNoReadOnlyMount = 77;

namespace write_faults_detail {
inline bool WriteText(const char *path, const std::string &text) {
  const int fd = ::open(path, O_WRONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = ::write(fd, text.data(), text.size()) == ssize_t(text.size());
  ::close(fd);
  return ok;
}
} // namespace write_faults_detail

// For a freshly forked (single-threaded) child only: a mount namespace of its own (in a
// user namespace when not root) in which `folder` is a read-only bind mount of itself,
// so writes there fail with EROFS as on a read-only medium. Nothing reaches the host's
// mounts. False when the system allows no such namespace.
inline bool MakeFolderReadOnlyInThisProcess(const std::string &folder) {
  using write_faults_detail::WriteText;
  if (::geteuid() == 0) {
    if (::unshare(CLONE_NEWNS) != 0) return false;
  } else {
    const uid_t uid = ::geteuid();
    const gid_t gid = ::getegid();
    if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) return false;
    WriteText("/proc/self/setgroups", "deny");
    if (!WriteText("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") ||
        !WriteText("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1"))
      return false;
  }
  return ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
         ::mount(folder.c_str(), folder.c_str(), nullptr, MS_BIND, nullptr) == 0 &&
         ::mount(nullptr, folder.c_str(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr) == 0;
}

// FNV-1a of the file's bytes.
inline std::uint64_t FileChecksum(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::uint64_t hash = 1469598103934665603ULL;
  for (char c; in.get(c);)
    hash = (hash ^ std::uint8_t(c)) * 1099511628211ULL;
  return hash;
}

// The kernel's record of which files of a folder were opened for writing or written
// while the object lived (inotify). Root writes to a read-only file all the same, so a
// test of "never opened for writing" asks the kernel rather than the file's mode.
class TWrittenFiles {
public:
  explicit TWrittenFiles(const std::string &folder) : fd_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
    if (fd_ >= 0 && ::inotify_add_watch(fd_, folder.c_str(), IN_MODIFY | IN_CLOSE_WRITE) < 0) {
      ::close(fd_);
      fd_ = -1;
    }
  }
  ~TWrittenFiles() {
    if (fd_ >= 0) ::close(fd_);
  }
  TWrittenFiles(const TWrittenFiles &) = delete;
  TWrittenFiles &operator=(const TWrittenFiles &) = delete;

  bool Watching() const { return fd_ >= 0; }
  // Names (inside the folder) written or opened for writing so far.
  std::set<std::string> Names() {
    alignas(inotify_event) char buffer[16384];
    for (ssize_t n; fd_ >= 0 && (n = ::read(fd_, buffer, sizeof buffer)) > 0;) {
      for (ssize_t at = 0; at < n;) {
        const auto *event = reinterpret_cast<const inotify_event *>(buffer + at);
        if (event->len > 0) names_.insert(event->name);
        at += ssize_t(sizeof(inotify_event) + event->len);
      }
    }
    return names_;
  }

private:
  int fd_ = -1;
  std::set<std::string> names_;
};

} // namespace tovi::test
