// Named pipes that never deliver what a reader waits for, to show that a stop reaches
// a read (or an open) the kernel would not return from by itself.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace tovi::test {

class TStalledPipe {
public:
  enum TKind {
    // A writer holds the pipe open and writes nothing: reads wait for ever.
    Silent,
    // Nobody ever opens the pipe for writing: a plain open for reading waits for ever.
    NoWriter,
  };

  TStalledPipe(const std::string &name, TKind kind) : name_(name), kind_(kind) {
    if (::mkfifo(name.c_str(), 0600) != 0) return;
    made_ = true;
    // Read-write never waits for a reader, and keeps a writer on the pipe.
    if (kind == Silent) fd_ = ::open(name.c_str(), O_RDWR | O_CLOEXEC);
  }
  ~TStalledPipe() { Release(); }
  TStalledPipe(const TStalledPipe &) = delete;
  TStalledPipe &operator=(const TStalledPipe &) = delete;

  bool Ready() const { return made_ && (kind_ == NoWriter || fd_ >= 0); }
  const std::string &Name() const { return name_; }

  // Writes `bytes` on a thread of its own (a pipe holds less than a file), then stays
  // silent. Only for a Silent pipe.
  void Feed(std::vector<char> bytes) {
    feeder_ = std::thread([this, fd = fd_, bytes = std::move(bytes)] {
      for (size_t done = 0; done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0) break;
        done += size_t(n);
      }
      fed_ = true;
    });
  }

  // Ends every wait on the pipe, so that a reader the stop did not reach is released
  // and the test fails instead of hanging: the writer goes (the reader sees the end),
  // and a reader still waiting in its open is met by a writer that leaves at once.
  void Release() {
    if (fd_ >= 0) {
      const int fd = fd_;
      fd_ = -1;
      // A feeder still blocked in write() (its reader stopped early) is drained.
      const int drain = ::open(name_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
      char sink[4096];
      while (feeder_.joinable() && drain >= 0 && !fed_)
        if (::read(drain, sink, sizeof sink) <= 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
      if (feeder_.joinable()) feeder_.join();
      ::close(fd);
      if (drain >= 0) ::close(drain);
    }
    if (made_) {
      const int writer = ::open(name_.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
      if (writer >= 0) ::close(writer);
    }
  }

private:
  std::string name_;
  TKind kind_;
  bool made_ = false;
  int fd_ = -1; // the writer end a Silent pipe holds
  std::thread feeder_;
  std::atomic<bool> fed_{false}; // the feeder wrote everything
};

// Calls `stop` every 20 ms until `ended` says so, for up to 60 s; the generous bound
// only turns a hang into a failure. Repeating the stop covers one that lands before
// the call it is meant for has begun.
inline bool StopUntilEnded(const std::function<void()> &stop, const std::function<bool()> &ended) {
  for (int i = 0; i < 3000 && !ended(); ++i) {
    stop();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return ended();
}

} // namespace tovi::test
