// The "unicode" file protocol: names the media libraries cannot take as they are.
//
// A user's file name (UTF-8) is handed to libavformat either as it is or, when the
// library would misread it, as the URL "unicode:utf8:" + name. FFmpeg 5.1 has no way
// to register a protocol, so such a URL is served by an AVIOContext of our own
// (TUnicodeIO) that works on the native file. Every open of a file by the engine, probe
// and player goes through FormatIO.h, which puts that context in place.
//
// Why and when a name is wrapped on Linux: docs/unicode-names.md.
//
// Threads: every function here may be called from any thread. The name functions
// return values (no shared buffer) and read the calling thread's locale.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

extern "C" {
#include <libavformat/avformat.h>
#include <libavformat/avio.h>
}

namespace tovi {

// Protocol names, each between colons, whose URLs are never wrapped.
inline constexpr std::string_view UNICODE_KNOWN_PREFIXES = ":unicode:stream:gopher:http:pipe:rtp:tcp:udp:";
inline constexpr std::string_view UNICODE_URL_PREFIX = "unicode:utf8:";

// The loader calls this each time the container library is bound. There is nothing to
// register in 5.1; it marks the protocol ready and forgets the library callbacks it
// captured from a previous binding (FormatIO.h), whose addresses are stale by now.
void RegisterUnicodeProtocol();
// True once RegisterUnicodeProtocol has run in this process.
bool UnicodeProtocolReady();

// Whether libavformat must get `name` as a "unicode:utf8:" URL:
//  - a name with a ':' whose text before the first ':' is one of
//    UNICODE_KNOWN_PREFIXES is a URL of that protocol: never wrapped;
//  - any other name with a ':' is wrapped, because libavformat would take the text
//    before the colon for a protocol name;
//  - a name without ':' is wrapped when it does not survive the round trip
//    UTF-8 -> locale character set -> UTF-8 unchanged (or holds invalid bytes).
// The locale is the calling thread's (uselocale), else the global one.
bool NameNeedsUnicodeURL(const std::string &name);

// "unicode:utf8:" + name for a name that needs wrapping, the name itself otherwise.
// The name's own bytes are never converted: on Linux the file system takes them as
// they are. Any length.
std::string FileNameToURL(const std::string &name);

// Drops everything up to and including the first ':' and again up to and including
// the next one (a step without a ':' drops nothing). Only those two colons are
// consumed: URLToFileName(FileNameToURL("C:\\ä.avi")) == "C:\\ä.avi".
std::string URLToFileName(const std::string &url);

// At least 14 bytes and starting with "unicode:utf8:".
bool IsUnicodeURL(std::string_view url);

// The user's name behind a name a library object holds (AVFormatContext::url):
// a "unicode:utf8:" URL goes through URLToFileName, anything else is returned as is.
// Null gives "".
std::string ContextFileName(const char *nameHeldByLibrary);

// ---- The protocol's operations on the native file --------------------------------
// Each returns a negative AVERROR on failure (AVERROR(errno) of the failing call).

// Opens URLToFileName(url). AVIO_FLAG_READ_WRITE: read and write, created or
// truncated; AVIO_FLAG_WRITE: write only, created or truncated; otherwise an existing
// file for reading (a folder gives AVERROR(EISDIR)). New files get mode 0666 less the
// umask. Returns the descriptor (close-on-exec).
int UnicodeFileOpen(const std::string &url, int avioFlags);
// The count read; AVERROR_EOF at the end of the file (what AVIOContext wants, not 0).
int UnicodeFileRead(int fd, std::uint8_t *buf, int size);
// The count written: all of `size` unless an error occurs.
int UnicodeFileWrite(int fd, const std::uint8_t *buf, int size);
// AVSEEK_SIZE gives the file size (AVERROR(ENOSYS) for anything but a regular file: a
// pipe has none); otherwise SEEK_SET/SEEK_CUR/SEEK_END move the file position and the
// new position is returned. AVSEEK_FORCE is ignored.
std::int64_t UnicodeFileSeek(int fd, std::int64_t offset, int whence);
int UnicodeFileClose(int fd);

// ---- The AVIOContext that serves a "unicode:utf8:" URL ---------------------------

// Frees an AVIOContext we allocated: its current buffer (the library may have
// replaced ours), the protocol lists, then the context. Does not flush.
struct TUnicodeIOContextDeleter {
  void operator()(AVIOContext *ctx) const;
};

// One opened native file and the AVIOContext on it. Not thread-safe: used by one
// thread at a time, like any AVIOContext. Its address is the context's opaque value,
// so it lives on the heap and never moves.
class TUnicodeIO {
public:
  static constexpr int BUFFER_SIZE = 32 * 1024;

  // Opens the file of a "unicode:utf8:" URL (anything else: AVERROR(EINVAL)) and
  // creates a context on it, writable for AVIO_FLAG_WRITE modes; seekable for a
  // regular file, a stream for anything else (a pipe, a device). Readers get the
  // protocol white list "unicode,file,crypto,data", as a plain file would.
  // `interrupt`, when given (a copy is kept), is asked while a read of a stream waits
  // for data: the read gives AVERROR_EXIT as soon as it answers non-zero, even when no
  // byte ever comes. A reader of a named pipe then does not wait in the open for a
  // writer either. Returns 0 or a negative AVERROR; `out` is only set on success.
  static int Open(const std::string &url, int avioFlags, std::unique_ptr<TUnicodeIO> &out,
                  const AVIOInterruptCB *interrupt = nullptr);

  TUnicodeIO(const TUnicodeIO &) = delete;
  TUnicodeIO &operator=(const TUnicodeIO &) = delete;
  // Close(), ignoring its result.
  ~TUnicodeIO();

  // Flushes a writer, frees the context and closes the file. Returns the first error
  // (a failed write or flush, or the close). Later calls return 0.
  int Close();

  AVIOContext *Context() const { return ctx_.get(); }
  const std::string &FileName() const { return fileName_; }
  // True when `ctx` is a context of this class (checked through its callbacks).
  static bool Owns(const AVIOContext *ctx);

private:
  TUnicodeIO() = default;

  static int ReadPacket(void *opaque, std::uint8_t *buf, int size);
  static int WritePacket(void *opaque, std::uint8_t *buf, int size);
  static std::int64_t Seek(void *opaque, std::int64_t offset, int whence);

  // A read of a stream that waits for data, asking interrupt_ between short waits.
  int InterruptibleRead(std::uint8_t *buf, int size);
  bool Interrupted() const;

  std::string fileName_;
  int fd_ = -1;         // closed after ctx_ is gone
  bool stream_ = false; // not a regular file: reads may block, no seeking
  AVIOInterruptCB interrupt_{nullptr, nullptr};
  std::unique_ptr<AVIOContext, TUnicodeIOContextDeleter> ctx_;
};

} // namespace tovi
