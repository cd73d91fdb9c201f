#include "media/FormatIO.h"

#include <sys/stat.h>

#include <mutex>
#include <string_view>
#include <unordered_map>

#include "media/EntryPoints.h"

namespace tovi {
namespace {

using OpenCallback = decltype(AVFormatContext::io_open);
using Close2Callback = decltype(AVFormatContext::io_close2);

struct FreeFormatContext {
  void operator()(AVFormatContext *ctx) const { ff::avformat_free_context(ctx); }
};

// Everything below is protected by g_mutex.
std::mutex g_mutex;
// The library's own io_open/io_close2, read from a fresh context once per binding of
// the library: a caller's context may already carry callbacks of its own.
bool g_captured = false;
OpenCallback g_defaultOpen = nullptr;
Close2Callback g_defaultClose2 = nullptr;
// Contexts the hook opened for the library, until the library closes them through
// the io_close2 hook.
std::unordered_map<AVIOContext *, std::unique_ptr<TUnicodeIO>> g_nested;

bool CaptureDefaultsLocked() {
  if (g_captured) return true;
  std::unique_ptr<AVFormatContext, FreeFormatContext> probe(ff::avformat_alloc_context());
  if (!probe) return false;
  g_defaultOpen = probe->io_open;
  g_defaultClose2 = probe->io_close2;
  g_captured = true;
  return true;
}

bool ListHas(const char *list, std::string_view item) {
  if (!list) return false;
  std::string_view rest(list);
  while (!rest.empty()) {
    const size_t comma = rest.find(',');
    if (rest.substr(0, comma) == item) return true;
    if (comma == std::string_view::npos) break;
    rest.remove_prefix(comma + 1);
  }
  return false;
}

// Runs on whichever thread the library opens a file from (the thread using `s`).
int HookOpen(AVFormatContext *s, AVIOContext **pb, const char *url, int flags, AVDictionary **options) {
  // Only an output context (oformat) carries our TReadOnlyFiles in opaque.
  if (url && (flags & AVIO_FLAG_WRITE) && s->oformat && s->opaque &&
      static_cast<const TReadOnlyFiles *>(s->opaque)->Holds(url)) {
    ff::av_log(s, AV_LOG_ERROR, "%s is an input of this job; it will not be overwritten\n",
               ContextFileName(url).c_str());
    return AVERROR(EEXIST);
  }
  if (url && IsUnicodeURL(url)) {
    if ((s->protocol_whitelist && !ListHas(s->protocol_whitelist, "unicode")) ||
        ListHas(s->protocol_blacklist, "unicode")) {
      ff::av_log(s, AV_LOG_ERROR, "Protocol 'unicode' not on whitelist '%s'!\n",
                 s->protocol_whitelist ? s->protocol_whitelist : "");
      return AVERROR(EINVAL);
    }
    std::unique_ptr<TUnicodeIO> io;
    const int rc = TUnicodeIO::Open(url, flags, io, &s->interrupt_callback);
    if (rc < 0) return rc;
    std::lock_guard lock(g_mutex);
    *pb = io->Context();
    g_nested.emplace(*pb, std::move(io));
    return 0;
  }
  OpenCallback open;
  {
    std::lock_guard lock(g_mutex);
    if (!CaptureDefaultsLocked()) return AVERROR(ENOMEM);
    open = g_defaultOpen;
  }
  return open(s, pb, url, flags, options);
}

int HookClose2(AVFormatContext *s, AVIOContext *pb) {
  std::unique_ptr<TUnicodeIO> io;
  Close2Callback close2;
  {
    std::lock_guard lock(g_mutex);
    if (auto it = g_nested.find(pb); it != g_nested.end()) {
      io = std::move(it->second);
      g_nested.erase(it);
    }
    close2 = g_defaultClose2;
  }
  if (io) return io->Close();
  if (!pb) return 0;
  // Should never happen: a hooked context got its pb from HookOpen, which captured.
  if (!close2) return AVERROR_BUG;
  return close2(s, pb);
}

} // namespace

namespace {
// The path behind a user's name, a "file:" URL or a "unicode:utf8:" URL; a URL of
// another protocol gives a name that stat() does not find.
std::string LocalPath(const std::string &nameOrUrl) {
  std::string name = ContextFileName(nameOrUrl.c_str());
  if (name.rfind("file:", 0) == 0) name.erase(0, 5);
  return name;
}
} // namespace

void TReadOnlyFiles::Add(const std::string &nameOrUrl) {
  struct stat st {};
  const std::string path = LocalPath(nameOrUrl);
  if (path.empty() || ::stat(path.c_str(), &st) != 0) return;
  const TIdentity id{static_cast<unsigned long long>(st.st_dev), static_cast<unsigned long long>(st.st_ino)};
  for (const TIdentity &known : files_)
    if (known == id) return;
  files_.push_back(id);
}

bool TReadOnlyFiles::Holds(const std::string &nameOrUrl) const {
  struct stat st {};
  const std::string path = LocalPath(nameOrUrl);
  if (files_.empty() || path.empty() || ::stat(path.c_str(), &st) != 0) return false;
  const TIdentity id{static_cast<unsigned long long>(st.st_dev), static_cast<unsigned long long>(st.st_ino)};
  for (const TIdentity &known : files_)
    if (known == id) return true;
  return false;
}

void ForgetCapturedFormatCallbacks() {
  std::lock_guard lock(g_mutex);
  g_captured = false;
  g_defaultOpen = nullptr;
  g_defaultClose2 = nullptr;
}

void InstallUnicodeIOHooks(AVFormatContext *ctx) {
  if (!ctx) return;
  ctx->io_open = &HookOpen;
  ctx->io_close2 = &HookClose2;
}

// ---- input ------------------------------------------------------------------------

void TInputContextCloser::operator()(AVFormatContext *ctx) const { ff::avformat_close_input(&ctx); }

TInputFile &TInputFile::operator=(TInputFile &&other) noexcept {
  if (this != &other) {
    Close();
    ctx_ = std::move(other.ctx_);
    io_ = std::move(other.io_);
  }
  return *this;
}

void TInputFile::Close() {
  ctx_.reset();
  io_.reset();
}

namespace {

// A plain local name (no protocol) of something other than a regular file or a folder:
// a named pipe or a device, where a read may wait for ever.
bool IsLocalStream(const std::string &name) {
  if (name.empty() || name.find(':') != std::string::npos) return false;
  struct stat st {};
  return ::stat(name.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode);
}

} // namespace

int OpenInputFile(const std::string &fileName, const AVInputFormat *fmt, AVDictionary **options,
                  TInputFile &out, const AVIOInterruptCB *interrupt) {
  out.Close();
  const std::string url = IsUnicodeURL(fileName) ? fileName : FileNameToURL(fileName);
  const bool ownFile = !(fmt && (fmt->flags & AVFMT_NOFILE));
  std::unique_ptr<TUnicodeIO> io;
  if (IsUnicodeURL(url) && ownFile) {
    const int rc = TUnicodeIO::Open(url, AVIO_FLAG_READ, io, interrupt);
    if (rc < 0) return rc;
  } else if (interrupt && ownFile && IsLocalStream(url)) {
    // The library's file reads wait in the kernel, where no interrupt callback reaches
    // them; ours wait in short steps and ask it. The context keeps the plain name.
    const int rc = TUnicodeIO::Open(std::string(UNICODE_URL_PREFIX) + url, AVIO_FLAG_READ, io, interrupt);
    if (rc < 0) return rc;
  }
  std::unique_ptr<AVFormatContext, FreeFormatContext> fresh(ff::avformat_alloc_context());
  if (!fresh) return AVERROR(ENOMEM);
  InstallUnicodeIOHooks(fresh.get());
  if (interrupt) fresh->interrupt_callback = *interrupt;
  if (io) {
    fresh->pb = io->Context();
    fresh->flags |= AVFMT_FLAG_CUSTOM_IO;
  }
  // avformat_open_input frees the context when it fails; our IO outlives it here.
  AVFormatContext *ctx = fresh.release();
  const int rc = ff::avformat_open_input(&ctx, url.c_str(), fmt, options);
  if (rc < 0) return rc;
  out.ctx_.reset(ctx);
  out.io_ = std::move(io);
  return 0;
}

// ---- output -----------------------------------------------------------------------

void TLibraryIOCloser::operator()(AVIOContext *pb) const { ff::avio_closep(&pb); }

int TOutputIO::Close() {
  int result = 0;
  if (oc_ && oc_->pb && (oc_->pb == (custom_ ? custom_->Context() : library_.get()))) oc_->pb = nullptr;
  oc_ = nullptr;
  if (custom_) {
    result = custom_->Close();
    custom_.reset();
  }
  if (library_) {
    AVIOContext *pb = library_.release();
    // avio_closep reports only the close itself; a failed final write is in pb->error.
    if (pb->write_flag) {
      ff::avio_flush(pb);
      result = pb->error;
    }
    const int closed = ff::avio_closep(&pb);
    if (result >= 0) result = closed;
  }
  return result;
}

int OpenOutputIO(AVFormatContext *oc, const std::string &fileNameOrUrl, int avioFlags, TOutputIO &out) {
  out.Close();
  if (!oc) return AVERROR(EINVAL);
  const std::string url = IsUnicodeURL(fileNameOrUrl) ? fileNameOrUrl : FileNameToURL(fileNameOrUrl);
  if (!oc->url || url != oc->url) {
    char *copy = ff::av_strdup(url.c_str());
    if (!copy) return AVERROR(ENOMEM);
    ff::av_free(oc->url);
    oc->url = copy;
  }
  InstallUnicodeIOHooks(oc);
  if (oc->oformat && (oc->oformat->flags & AVFMT_NOFILE)) return 0;

  if (IsUnicodeURL(url)) {
    std::unique_ptr<TUnicodeIO> io;
    const int rc = TUnicodeIO::Open(url, avioFlags, io);
    if (rc < 0) return rc;
    oc->pb = io->Context();
    out.custom_ = std::move(io);
  } else {
    AVIOContext *pb = nullptr;
    const int rc = ff::avio_open2(&pb, url.c_str(), avioFlags, &oc->interrupt_callback, nullptr);
    if (rc < 0) return rc;
    out.library_.reset(pb);
    oc->pb = pb;
  }
  out.oc_ = oc;
  return 0;
}

} // namespace tovi
