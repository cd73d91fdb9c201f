#include "media/UnicodeProtocol.h"

#include <fcntl.h>
#include <iconv.h>
#include <langinfo.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <vector>

#include "media/EntryPoints.h"
#include "media/FormatIO.h"

namespace tovi {

namespace {

std::atomic<bool> g_protocolReady{false};

struct IconvCloser {
  void operator()(iconv_t cd) const { iconv_close(cd); }
};
using IconvHandle = std::unique_ptr<std::remove_pointer_t<iconv_t>, IconvCloser>;

IconvHandle OpenIconv(const char *to, const char *from) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return IconvHandle{};
  return IconvHandle{cd};
}

// Converts the whole of `in`; false when a character is invalid or has no
// representation in the target set.
bool Convert(iconv_t cd, const std::string &in, std::string &out) {
  std::vector<char> buffer(in.size() * 4 + 16);
  char *src = const_cast<char *>(in.data()); // iconv's signature wants char **
  size_t srcLeft = in.size();
  size_t used = 0;
  for (bool flushing = false;;) {
    char *dst = buffer.data() + used;
    size_t dstLeft = buffer.size() - used;
    const size_t r =
        flushing ? iconv(cd, nullptr, nullptr, &dst, &dstLeft) : iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    used = buffer.size() - dstLeft;
    if (r == static_cast<size_t>(-1)) {
      if (errno != E2BIG) return false;
      buffer.resize(buffer.size() * 2);
      continue;
    }
    if (flushing) break;
    flushing = true; // emit any shift sequence of a stateful target
  }
  out.assign(buffer.data(), used);
  return true;
}

bool SurvivesLocaleRoundTrip(const std::string &name) {
  const char *codeset = nl_langinfo(CODESET);
  IconvHandle there = OpenIconv(codeset, "UTF-8");
  IconvHandle back = OpenIconv("UTF-8", codeset);
  if (!there || !back) return false;
  std::string local, again;
  return Convert(there.get(), name, local) && Convert(back.get(), local, again) && again == name;
}

int ErrnoError() { return AVERROR(errno); }

} // namespace

void RegisterUnicodeProtocol() {
  ForgetCapturedFormatCallbacks();
  g_protocolReady.store(true, std::memory_order_release);
}

bool UnicodeProtocolReady() { return g_protocolReady.load(std::memory_order_acquire); }

bool NameNeedsUnicodeURL(const std::string &name) {
  const size_t colon = name.find(':');
  if (colon != std::string::npos) {
    std::string key(1, ':');
    key.append(name, 0, colon).append(1, ':');
    return UNICODE_KNOWN_PREFIXES.find(key) == std::string_view::npos;
  }
  return !SurvivesLocaleRoundTrip(name);
}

std::string FileNameToURL(const std::string &name) {
  if (!NameNeedsUnicodeURL(name)) return name;
  std::string url(UNICODE_URL_PREFIX);
  url += name;
  return url;
}

std::string URLToFileName(const std::string &url) {
  size_t start = 0;
  for (int step = 0; step < 2; ++step) {
    const size_t colon = url.find(':', start);
    if (colon != std::string::npos) start = colon + 1;
  }
  return url.substr(start);
}

bool IsUnicodeURL(std::string_view url) {
  return url.size() >= UNICODE_URL_PREFIX.size() + 1 && url.starts_with(UNICODE_URL_PREFIX);
}

std::string ContextFileName(const char *nameHeldByLibrary) {
  if (!nameHeldByLibrary) return {};
  std::string name(nameHeldByLibrary);
  return IsUnicodeURL(name) ? URLToFileName(name) : name;
}

// ---- native file operations -------------------------------------------------------

namespace {

// open(2) retried on EINTR; a descriptor, or an AVERROR code. A folder opens fine for
// reading but every read would fail with EISDIR, so it is refused here.
int OpenFileNotFolder(const std::string &name, int flags) {
  int fd;
  do
    fd = ::open(name.c_str(), flags, 0666);
  while (fd < 0 && errno == EINTR);
  if (fd < 0) return ErrnoError();
  struct stat st {};
  if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(fd);
    return AVERROR(EISDIR);
  }
  return fd;
}

} // namespace

int UnicodeFileOpen(const std::string &url, int avioFlags) {
  const std::string name = URLToFileName(url);
  int flags = O_CLOEXEC;
  if ((avioFlags & AVIO_FLAG_READ_WRITE) == AVIO_FLAG_READ_WRITE)
    flags |= O_RDWR | O_CREAT | O_TRUNC;
  else if (avioFlags & AVIO_FLAG_WRITE)
    flags |= O_WRONLY | O_CREAT | O_TRUNC;
  else
    flags |= O_RDONLY;
  return OpenFileNotFolder(name, flags);
}

int UnicodeFileRead(int fd, std::uint8_t *buf, int size) {
  if (size <= 0) return 0;
  ssize_t n;
  do
    n = ::read(fd, buf, static_cast<size_t>(size));
  while (n < 0 && errno == EINTR);
  if (n < 0) return ErrnoError();
  if (n == 0) return AVERROR_EOF;
  return static_cast<int>(n);
}

int UnicodeFileWrite(int fd, const std::uint8_t *buf, int size) {
  int done = 0;
  while (done < size) {
    const ssize_t n = ::write(fd, buf + done, static_cast<size_t>(size - done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return ErrnoError();
    }
    done += static_cast<int>(n);
  }
  return done;
}

std::int64_t UnicodeFileSeek(int fd, std::int64_t offset, int whence) {
  whence &= ~AVSEEK_FORCE;
  if (whence == AVSEEK_SIZE) {
    struct stat st {};
    if (::fstat(fd, &st) < 0) return ErrnoError();
    if (!S_ISREG(st.st_mode)) return AVERROR(ENOSYS);
    return st.st_size;
  }
  if (whence != SEEK_SET && whence != SEEK_CUR && whence != SEEK_END) return AVERROR(EINVAL);
  const off_t pos = ::lseek(fd, static_cast<off_t>(offset), whence);
  if (pos < 0) return ErrnoError();
  return pos;
}

int UnicodeFileClose(int fd) {
  // Linux releases the descriptor even when close() fails, so no retry on EINTR.
  return ::close(fd) < 0 ? ErrnoError() : 0;
}

// ---- TUnicodeIO -------------------------------------------------------------------

void TUnicodeIOContextDeleter::operator()(AVIOContext *ctx) const {
  ff::av_freep(&ctx->buffer);
  ff::av_freep(&ctx->protocol_whitelist);
  ff::av_freep(&ctx->protocol_blacklist);
  ff::avio_context_free(&ctx);
}

namespace {
struct AvFreeDeleter {
  void operator()(void *p) const { ff::av_free(p); }
};
} // namespace

namespace {

// Opens a file for reading without waiting for a writer of a named pipe; the
// descriptor is blocking again afterwards (reads of a stream wait in poll first).
int OpenReaderWithoutWaiting(const std::string &url) {
  const int fd = OpenFileNotFolder(URLToFileName(url), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return fd;
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) < 0) {
    const int error = ErrnoError();
    ::close(fd);
    return error;
  }
  return fd;
}

// How long one wait of an interruptible read lasts before the callback is asked again.
constexpr int kInterruptPollMs = 50;

} // namespace

int TUnicodeIO::Open(const std::string &url, int avioFlags, std::unique_ptr<TUnicodeIO> &out,
                     const AVIOInterruptCB *interrupt) {
  if (!IsUnicodeURL(url)) return AVERROR(EINVAL);
  std::unique_ptr<TUnicodeIO> io(new TUnicodeIO);
  io->fileName_ = URLToFileName(url);
  const bool writer = avioFlags & AVIO_FLAG_WRITE;
  if (interrupt && interrupt->callback) io->interrupt_ = *interrupt;
  const int fd =
      io->interrupt_.callback && !writer ? OpenReaderWithoutWaiting(url) : UnicodeFileOpen(url, avioFlags);
  if (fd < 0) return fd;
  io->fd_ = fd;
  struct stat st {};
  io->stream_ = ::fstat(fd, &st) == 0 && !S_ISREG(st.st_mode);

  std::unique_ptr<std::uint8_t, AvFreeDeleter> buffer(
      static_cast<std::uint8_t *>(ff::av_malloc(BUFFER_SIZE)));
  if (!buffer) return AVERROR(ENOMEM);
  const bool reader = !writer || (avioFlags & AVIO_FLAG_READ);
  AVIOContext *ctx =
      ff::avio_alloc_context(buffer.get(), BUFFER_SIZE, writer ? 1 : 0, io.get(),
                             reader ? &ReadPacket : nullptr, writer ? &WritePacket : nullptr, &Seek);
  if (!ctx) return AVERROR(ENOMEM);
  buffer.release(); // the context owns it now (and may replace it)
  io->ctx_.reset(ctx);
  ctx->seekable = io->stream_ ? 0 : AVIO_SEEKABLE_NORMAL;
  if (reader && !writer) {
    ctx->protocol_whitelist = ff::av_strdup("unicode,file,crypto,data");
    if (!ctx->protocol_whitelist) return AVERROR(ENOMEM);
  }
  out = std::move(io);
  return 0;
}

TUnicodeIO::~TUnicodeIO() { Close(); }

int TUnicodeIO::Close() {
  int result = 0;
  if (ctx_) {
    if (ctx_->write_flag) {
      ff::avio_flush(ctx_.get());
      result = ctx_->error;
    }
    ctx_.reset();
  }
  if (fd_ >= 0) {
    const int closed = UnicodeFileClose(fd_);
    fd_ = -1;
    if (result == 0) result = closed;
  }
  return result < 0 ? result : 0;
}

bool TUnicodeIO::Owns(const AVIOContext *ctx) { return ctx && ctx->seek == &TUnicodeIO::Seek; }

int TUnicodeIO::ReadPacket(void *opaque, std::uint8_t *buf, int size) {
  auto *io = static_cast<TUnicodeIO *>(opaque);
  if (io->interrupt_.callback) return io->InterruptibleRead(buf, size);
  return UnicodeFileRead(io->fd_, buf, size);
}

bool TUnicodeIO::Interrupted() const {
  return interrupt_.callback && interrupt_.callback(interrupt_.opaque) != 0;
}

int TUnicodeIO::InterruptibleRead(std::uint8_t *buf, int size) {
  if (size <= 0) return 0;
  for (;;) {
    if (Interrupted()) return AVERROR_EXIT;
    if (stream_) {
      // A pipe or device may deliver nothing for ever: wait in short steps.
      pollfd waiting{fd_, POLLIN, 0};
      const int ready = ::poll(&waiting, 1, kInterruptPollMs);
      if (ready < 0 && errno != EINTR) return ErrnoError();
      if (ready <= 0) continue;
    }
    const ssize_t n = ::read(fd_, buf, static_cast<size_t>(size));
    if (n < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      return ErrnoError();
    }
    if (n == 0) return AVERROR_EOF;
    return static_cast<int>(n);
  }
}

int TUnicodeIO::WritePacket(void *opaque, std::uint8_t *buf, int size) {
  return UnicodeFileWrite(static_cast<TUnicodeIO *>(opaque)->fd_, buf, size);
}

std::int64_t TUnicodeIO::Seek(void *opaque, std::int64_t offset, int whence) {
  return UnicodeFileSeek(static_cast<TUnicodeIO *>(opaque)->fd_, offset, whence);
}

} // namespace tovi
