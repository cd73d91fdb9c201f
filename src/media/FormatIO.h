// Opening files for the container library. Every open of a media file by the engine,
// probe and player goes through here, so that a name libavformat would misread reaches
// the file through the "unicode" protocol (UnicodeProtocol.h).
//
// Both helpers also hook the format context's io_open/io_close2, so that files a
// muxer or demuxer opens by itself (the second pass of an MP4 "faststart", numbered
// images, playlists and segments) are served the same way when their names are
// "unicode:utf8:" URLs. Any io_open/io_close2 the caller had set is replaced.
//
// Threads: a TInputFile or TOutputIO is used by one thread at a time, like the format
// context it belongs to. Opening may happen on any thread.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "media/UnicodeProtocol.h"

namespace tovi {

// Points ctx->io_open/io_close2 to the hooks described above; other URLs still go to
// the library's own callbacks. The hook of an output context also refuses the files of
// a TReadOnlyFiles its opaque points at. Called by the helpers below; public for code
// that opens format contexts some other way.
void InstallUnicodeIOHooks(AVFormatContext *ctx);

// RegisterUnicodeProtocol calls this on every binding of the library: the callbacks the
// hooks captured from an earlier binding point into code that is gone.
void ForgetCapturedFormatCallbacks();

// Files a job reads, by identity (device and inode, so that another spelling, a link or
// a "unicode:utf8:" URL of the same file is the same file). A muxer that opens files by
// itself (an image sequence "img%03d.png", segments) would otherwise write over a source
// whose name the pattern happens to give: point the output context's `opaque` at one of
// these and the io_open hook refuses to open any of them for writing (AVERROR(EEXIST),
// with a line in the library's log). The object must outlive the context's writes.
// Filled before the job runs and only read afterwards, from the job's thread.
class TReadOnlyFiles {
public:
  // Adds the file behind a user's name or a "unicode:utf8:" URL; a name that does not
  // exist (a network URL, a device the kernel cannot stat) is skipped.
  void Add(const std::string &nameOrUrl);
  bool Holds(const std::string &nameOrUrl) const;
  void Clear() { files_.clear(); }

private:
  struct TIdentity {
    unsigned long long Device, Inode;
    bool operator==(const TIdentity &) const = default;
  };
  std::vector<TIdentity> files_;
};

// Closes an input context with avformat_close_input.
struct TInputContextCloser {
  void operator()(AVFormatContext *ctx) const;
};

// An opened input: the format context and, for a wrapped name, the IO under it.
// The format context is closed before its IO, also on move assignment.
class TInputFile {
public:
  TInputFile() = default;
  TInputFile(TInputFile &&other) noexcept = default;
  TInputFile &operator=(TInputFile &&other) noexcept;
  ~TInputFile() { Close(); }

  AVFormatContext *Context() const { return ctx_.get(); }
  AVFormatContext *operator->() const { return ctx_.get(); }
  explicit operator bool() const { return static_cast<bool>(ctx_); }
  // True when the file is read through our own IO ("unicode:utf8:" URL).
  bool UsesUnicodeIO() const { return static_cast<bool>(io_); }

  void Close();

private:
  friend int OpenInputFile(const std::string &, const AVInputFormat *, AVDictionary **, TInputFile &,
                           const AVIOInterruptCB *);
  std::unique_ptr<TUnicodeIO> io_; // declared first: destroyed after ctx_
  std::unique_ptr<AVFormatContext, TInputContextCloser> ctx_;
};

// Opens a user's file (UTF-8 name) or an already formed "unicode:utf8:" URL with
// avformat_open_input; `fmt` and `options` as there. A name that needs wrapping is
// read through our IO and the context's url is the "unicode:utf8:" URL, so
// ContextFileName(ctx->url) gives the name back; other names go to the library as they
// are. A format without files of its own (AVFMT_NOFILE, e.g. image sequences) gets no
// IO of ours, only the hooks. Returns 0 or a negative AVERROR (AVERROR(ENOENT) for a
// missing file); `out` is closed first and set only on success. Stream information is
// left to the caller (avformat_find_stream_info). `interrupt`, when given, is installed
// before the file is opened, so that the opening and every later read of the library's
// own I/O (which copies the callback when it opens) can be interrupted; our IO asks it
// too, also inside a read that waits for data. With `interrupt`, a local name of a
// named pipe or a device is read through our IO as well (its url stays the name), so
// that a stop reaches a read that no data will ever end.
int OpenInputFile(const std::string &fileName, const AVInputFormat *fmt, AVDictionary **options,
                  TInputFile &out, const AVIOInterruptCB *interrupt = nullptr);

// Closes a context the library opened with avio_open2 (avio_closep).
struct TLibraryIOCloser {
  void operator()(AVIOContext *pb) const;
};

// The output IO of a muxing context. Close it (or let it go) after av_write_trailer and
// before the format context is freed: Close() sets oc->pb back to null, so `oc` must
// still be alive then.
class TOutputIO {
public:
  TOutputIO() = default;
  TOutputIO(const TOutputIO &) = delete;
  TOutputIO &operator=(const TOutputIO &) = delete;
  ~TOutputIO() { Close(); }

  // Flushes and closes the file. Returns the first error of flushing or closing (a full
  // disk shows up here); later calls return 0.
  int Close();
  bool IsOpen() const { return custom_ || library_; }
  bool UsesUnicodeIO() const { return static_cast<bool>(custom_); }

private:
  friend int OpenOutputIO(AVFormatContext *, const std::string &, int, TOutputIO &);
  AVFormatContext *oc_ = nullptr; // not owned
  std::unique_ptr<TUnicodeIO> custom_;
  std::unique_ptr<AVIOContext, TLibraryIOCloser> library_;
};

// Opens the output file of `oc` (created or truncated for AVIO_FLAG_WRITE) and sets
// oc->pb: our IO for a name that needs wrapping, avio_open2 for others. oc->url becomes
// the name or URL that was opened, so that a muxer reopening its own file by url finds
// it. A muxer without a file of its own (AVFMT_NOFILE) gets the url and the hooks but
// no pb, and `out` stays closed. Returns 0 or a negative AVERROR; `out` is closed first.
int OpenOutputIO(AVFormatContext *oc, const std::string &fileNameOrUrl, int avioFlags, TOutputIO &out);

} // namespace tovi
