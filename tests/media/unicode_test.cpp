// The "unicode" protocol: which names get wrapped under which locale, the native file
// operations, our AVIOContext, and whole files muxed to and probed from awkward names
// through the real libavformat. Each test runs in a process of its own (ctest).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <locale.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <vector>

#include "media/EntryPoints.h"
#include "media/FFmpegLoader.h"
#include "media/FormatIO.h"
#include "media/UnicodeProtocol.h"
#include "support/TestMedia.h"

using namespace tovi;
namespace fs = std::filesystem;

namespace {

// The calling thread's locale for the scope: the wrapping decision reads it.
class ScopedLocale {
public:
  explicit ScopedLocale(const char *name) : loc_(newlocale(LC_ALL_MASK, name, nullptr)) {
    if (loc_) old_ = uselocale(loc_);
  }
  ~ScopedLocale() {
    if (!loc_) return;
    uselocale(old_);
    freelocale(loc_);
  }
  bool ok() const { return loc_ != nullptr; }

private:
  locale_t loc_, old_ = nullptr;
};
#define USE_LOCALE(name)                                                                                     \
  ScopedLocale scopedLocale(name);                                                                           \
  ASSERT_TRUE(scopedLocale.ok()) << name

std::string ErrText(int rc) {
  char buf[256] = {};
  ff::av_strerror(rc, buf, sizeof buf);
  return std::to_string(rc) + " " + buf;
}
void WriteBytes(const std::string &path, const std::string &bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}
std::string ReadBytes(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}
std::string Url(const std::string &name) { return std::string(UNICODE_URL_PREFIX) + name; }
const uint8_t *Bytes(const char *s) { return reinterpret_cast<const uint8_t *>(s); }

struct FreeFormat {
  void operator()(AVFormatContext *c) const { ff::avformat_free_context(c); }
};
struct FreeCodec {
  void operator()(AVCodecContext *c) const {
    std::lock_guard lock(CodecLock());
    ff::avcodec_free_context(&c);
  }
};
struct FreeFrame {
  void operator()(AVFrame *f) const { ff::av_frame_free(&f); }
};
struct FreePacket {
  void operator()(AVPacket *p) const { ff::av_packet_free(&p); }
};
using FormatPtr = std::unique_ptr<AVFormatContext, FreeFormat>;

FormatPtr NewOutput(const char *format) {
  AVFormatContext *oc = nullptr;
  EXPECT_GE(ff::avformat_alloc_output_context2(&oc, nullptr, format, nullptr), 0);
  return FormatPtr(oc);
}

// Muxes ten packets to `name` through OpenOutputIO: 64x48 MPEG-4 video at 25 fps
// (0.4 s) or 8 kHz mono 16-bit PCM (1 s, no encoder needed).
void Mux(const std::string &name, const char *format, bool video, const char *movflags = nullptr) {
  FormatPtr oc = NewOutput(format);
  ASSERT_TRUE(oc);
  AVStream *st = ff::avformat_new_stream(oc.get(), nullptr);
  std::unique_ptr<AVCodecContext, FreeCodec> enc;
  const AVRational tb = video ? AVRational{1, 25} : AVRational{1, 8000};
  if (video) {
    const AVCodec *codec = ff::avcodec_find_encoder(AV_CODEC_ID_MPEG4);
    enc.reset(ff::avcodec_alloc_context3(codec));
    enc->width = 64, enc->height = 48, enc->pix_fmt = AV_PIX_FMT_YUV420P, enc->time_base = tb;
    if (oc->oformat->flags & AVFMT_GLOBALHEADER) enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    std::lock_guard lock(CodecLock());
    ASSERT_GE(ff::avcodec_open2(enc.get(), codec, nullptr), 0);
    ASSERT_GE(ff::avcodec_parameters_from_context(st->codecpar, enc.get()), 0);
  } else {
    AVCodecParameters *par = st->codecpar;
    par->codec_type = AVMEDIA_TYPE_AUDIO, par->codec_id = AV_CODEC_ID_PCM_S16LE;
    par->format = AV_SAMPLE_FMT_S16, par->sample_rate = 8000, par->block_align = 2;
    par->bits_per_coded_sample = 16, par->bit_rate = 128000;
    ff::av_channel_layout_default(&par->ch_layout, 1);
  }
  st->time_base = tb;

  TOutputIO io;
  ASSERT_EQ(OpenOutputIO(oc.get(), name, AVIO_FLAG_WRITE, io), 0);
  EXPECT_EQ(io.UsesUnicodeIO(), NameNeedsUnicodeURL(name));
  AVDictionary *opts = nullptr;
  if (movflags) ff::av_dict_set(&opts, "movflags", movflags, 0);
  const int rc = ff::avformat_write_header(oc.get(), &opts);
  ff::av_dict_free(&opts);
  ASSERT_GE(rc, 0) << ErrText(rc);

  std::unique_ptr<AVPacket, FreePacket> pkt(ff::av_packet_alloc());
  auto write = [&] {
    ff::av_packet_rescale_ts(pkt.get(), tb, st->time_base);
    pkt->stream_index = 0;
    ASSERT_GE(ff::av_interleaved_write_frame(oc.get(), pkt.get()), 0);
  };
  if (video) {
    std::unique_ptr<AVFrame, FreeFrame> frame(ff::av_frame_alloc());
    frame->format = AV_PIX_FMT_YUV420P, frame->width = 64, frame->height = 48;
    ASSERT_GE(ff::av_frame_get_buffer(frame.get(), 0), 0);
    for (int i = 0; i <= 10; ++i) {
      if (i < 10) {
        ASSERT_GE(ff::av_frame_make_writable(frame.get()), 0);
        for (int p = 0; p < 3; ++p)
          std::memset(frame->data[p], p ? 128 : 20 * i, frame->linesize[p] * (p ? 24 : 48));
        frame->pts = i;
      }
      ASSERT_GE(ff::avcodec_send_frame(enc.get(), i < 10 ? frame.get() : nullptr), 0);
      while (ff::avcodec_receive_packet(enc.get(), pkt.get()) >= 0) {
        pkt->duration = 1; // the encoder leaves it 0; the container duration needs it
        write();
      }
    }
  } else {
    for (int i = 0; i < 10; ++i) {
      ASSERT_EQ(ff::av_new_packet(pkt.get(), 1600), 0);
      std::memset(pkt->data, i, 1600);
      pkt->pts = pkt->dts = i * 800, pkt->duration = 800;
      write();
    }
  }
  ASSERT_GE(ff::av_write_trailer(oc.get()), 0);
  EXPECT_EQ(io.Close(), 0);
  EXPECT_EQ(oc->pb, nullptr);
}

void ExpectProbe(const std::string &name, AVCodecID codec, double seconds) {
  const bool wrapped = NameNeedsUnicodeURL(name);
  TInputFile in;
  const int rc = OpenInputFile(name, nullptr, nullptr, in);
  ASSERT_EQ(rc, 0) << ErrText(rc);
  EXPECT_EQ(in.UsesUnicodeIO(), wrapped);
  EXPECT_EQ(std::string(in->url), wrapped ? Url(name) : name);
  EXPECT_EQ(ContextFileName(in->url), name);
  ASSERT_GE(ff::avformat_find_stream_info(in.Context(), nullptr), 0);
  ASSERT_EQ(in->nb_streams, 1u);
  EXPECT_EQ(in->streams[0]->codecpar->codec_id, codec);
  const AVCodecParameters *par = in->streams[0]->codecpar;
  EXPECT_EQ(codec == AV_CODEC_ID_MPEG4 ? par->width : par->sample_rate,
            codec == AV_CODEC_ID_MPEG4 ? 64 : 8000);
  EXPECT_NEAR(static_cast<double>(in->duration) / AV_TIME_BASE, seconds, 0.02);
}

} // namespace

// ---- names ------------------------------------------------------------------------

TEST(UnicodeNames, WrappingFollowsTheLocaleCharacterSet) {
  {
    USE_LOCALE("C.UTF-8");
    for (const char *name : {"movie.mkv", "/tmp/a b/Видео.mkv", "テスト.mkv", "ü"})
      EXPECT_EQ(FileNameToURL(name), name) << name;
    // Bytes that are no UTF-8 cannot survive the round trip.
    for (const char *name : {"/tmp/\xff\xfe.mkv", "/tmp/\xc3.mkv"})
      EXPECT_EQ(FileNameToURL(name), Url(name));
  }
  USE_LOCALE("C");
  for (const char *name : {"movie.mkv", "/tmp/a b/movie.mkv", "", "~!@#$%^&*()_+.avi"})
    EXPECT_EQ(FileNameToURL(name), name) << name;
  for (const char *name : {"/tmp/Видео.mkv", "テスト.mkv", "ü", "x\x7f\x80"})
    EXPECT_EQ(FileNameToURL(name), Url(name)) << name;
}

TEST(UnicodeNames, ColonNamesDependOnlyOnTheProtocolPrefix) {
  USE_LOCALE("C");
  // Known protocols pass whatever follows, also characters the locale lacks.
  for (const char *name : {"http://example.com/Видео.mkv", "udp://239.0.0.1:1234", "rtp://h:5004",
                           "tcp://h:1", "pipe:0", "gopher://h/x", "stream:x", "unicode:utf8:/tmp/ü.avi"})
    EXPECT_EQ(FileNameToURL(name), name) << name;
  // Any other colon would make libavformat look for a protocol; the match is exact.
  for (const char *name : {"clip:with:colon.mp4", "/tmp/a:b.mkv", "mms://host/x", "HTTP://x", "ttp:x", ":x",
                           "https://example.com/a.mkv", "C:\\ä.avi"})
    EXPECT_EQ(FileNameToURL(name), Url(name)) << name;
  EXPECT_EQ(FileNameToURL("http"), "http");
  ScopedLocale utf8("C.UTF-8");
  EXPECT_EQ(FileNameToURL("clip:with:colon.mp4"), Url("clip:with:colon.mp4"));
}

TEST(UnicodeNames, UrlRoundTripsAndContextFileName) {
  USE_LOCALE("C");
  const std::string longName = "/tmp/" + std::string(5000, 'a') + "ü.mkv";
  for (const std::string &name : {std::string("C:\\ä.avi"), std::string("clip:with:colon.wav"),
                                  std::string("/a/b:c/Видео.mkv"), longName}) {
    const std::string url = FileNameToURL(name);
    EXPECT_TRUE(IsUnicodeURL(url)) << name;
    EXPECT_EQ(URLToFileName(url), name);
    EXPECT_EQ(ContextFileName(url.c_str()), name);
  }
  EXPECT_EQ(URLToFileName("no colon"), "no colon");
  EXPECT_EQ(URLToFileName("one:colon"), "colon");
  EXPECT_EQ(URLToFileName("a:b:c:d"), "c:d");
  EXPECT_TRUE(IsUnicodeURL("unicode:utf8:x"));
  for (const char *url : {"unicode:utf8:", "Unicode:utf8:x", "unicode:utf8x:", ""})
    EXPECT_FALSE(IsUnicodeURL(url));
  // Only a complete "unicode:utf8:" URL is turned back.
  EXPECT_EQ(ContextFileName(nullptr), "");
  for (const char *name : {"/plain/x.mkv", "http://h/a:b", "unicode:utf8:"})
    EXPECT_EQ(ContextFileName(name), name);
}

TEST(UnicodeNames, LoaderMarksTheProtocolReady) {
  EXPECT_FALSE(UnicodeProtocolReady());
  test::LoadConverterLibraries();
  EXPECT_TRUE(UnicodeProtocolReady());
}

// ---- native file operations -------------------------------------------------------

TEST(UnicodeFile, OpenModesCreateTruncateAndFail) {
  test::TempDir dir;
  const std::string path = dir.file("ä:b.bin");
  EXPECT_EQ(UnicodeFileOpen(Url(path), AVIO_FLAG_READ), -2); // AVERROR(ENOENT)
  EXPECT_EQ(UnicodeFileOpen(Url(dir.file("no/dir.bin")), AVIO_FLAG_WRITE), AVERROR(ENOENT));
  EXPECT_EQ(UnicodeFileOpen(Url(dir.path().string()), AVIO_FLAG_READ), AVERROR(EISDIR));
  std::unique_ptr<TUnicodeIO> io;
  EXPECT_EQ(TUnicodeIO::Open(path, AVIO_FLAG_WRITE, io), AVERROR(EINVAL)); // no URL
  EXPECT_EQ(io, nullptr);

  const mode_t oldMask = umask(022);
  int fd = UnicodeFileOpen(Url(path), AVIO_FLAG_WRITE);
  umask(oldMask);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(fcntl(fd, F_GETFD) & FD_CLOEXEC, FD_CLOEXEC);
  EXPECT_EQ(UnicodeFileWrite(fd, Bytes("hello"), 5), 5);
  EXPECT_EQ(UnicodeFileClose(fd), 0);
  struct stat st {};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);

  for (int flags : {AVIO_FLAG_WRITE, AVIO_FLAG_READ_WRITE}) {
    WriteBytes(path, "old contents");
    fd = UnicodeFileOpen(Url(path), flags);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(UnicodeFileClose(fd), 0);
    EXPECT_EQ(ReadBytes(path), "") << flags;
  }
  fd = UnicodeFileOpen(Url(path), AVIO_FLAG_READ);
  EXPECT_LT(UnicodeFileWrite(fd, Bytes("x"), 1), 0); // reading never writes
  EXPECT_EQ(UnicodeFileClose(fd), 0);
}

TEST(UnicodeFile, ReadAndSeekSemantics) {
  test::TempDir dir;
  const std::string path = dir.file("Видео.bin");
  WriteBytes(path, "0123456789");
  const int fd = UnicodeFileOpen(Url(path), AVIO_FLAG_READ);
  ASSERT_GE(fd, 0);
  uint8_t buf[100];
  EXPECT_EQ(UnicodeFileRead(fd, buf, 4), 4);
  EXPECT_EQ(UnicodeFileSeek(fd, 2, SEEK_CUR), 6);
  EXPECT_EQ(UnicodeFileRead(fd, buf, sizeof buf), 4);
  EXPECT_EQ(buf[0], '6');
  // The end is AVERROR_EOF, never 0.
  EXPECT_EQ(UnicodeFileRead(fd, buf, sizeof buf), AVERROR_EOF);
  EXPECT_EQ(UnicodeFileSeek(fd, 0, AVSEEK_SIZE), 10);
  EXPECT_EQ(UnicodeFileSeek(fd, 0, AVSEEK_SIZE | AVSEEK_FORCE), 10);
  EXPECT_EQ(UnicodeFileSeek(fd, -3, SEEK_END), 7);
  EXPECT_EQ(UnicodeFileRead(fd, buf, 1), 1);
  EXPECT_EQ(buf[0], '7');
  EXPECT_EQ(UnicodeFileSeek(fd, -5, SEEK_SET), AVERROR(EINVAL));
  EXPECT_EQ(UnicodeFileClose(fd), 0);
  EXPECT_EQ(UnicodeFileClose(fd), AVERROR(EBADF));
}

// ---- the AVIOContext --------------------------------------------------------------

TEST(UnicodeIO, ReadsAndSeeksAcrossBufferBoundaries) {
  test::LoadConverterLibraries();
  test::TempDir dir;
  const std::string path = dir.file("テスト.bin");
  std::string data(100000, '\0');
  for (size_t i = 0; i < data.size(); ++i)
    data[i] = static_cast<char>(i * 7 % 251);
  WriteBytes(path, data);

  std::unique_ptr<TUnicodeIO> io;
  ASSERT_EQ(TUnicodeIO::Open(Url(path), AVIO_FLAG_READ, io), 0);
  AVIOContext *pb = io->Context();
  EXPECT_TRUE(TUnicodeIO::Owns(pb));
  EXPECT_EQ(pb->seekable, AVIO_SEEKABLE_NORMAL);
  EXPECT_EQ(ff::avio_size(pb), 100000);
  std::string whole(data.size(), '\0');
  int got = 0, n;
  while ((n = ff::avio_read(pb, reinterpret_cast<uint8_t *>(whole.data()) + got, 7000)) > 0)
    got += n;
  EXPECT_EQ(n, AVERROR_EOF);
  EXPECT_TRUE(got == 100000 && whole == data);
  EXPECT_TRUE(ff::avio_feof(pb));

  uint8_t buf[64];
  EXPECT_EQ(ff::avio_seek(pb, 50000, SEEK_SET), 50000);
  ASSERT_EQ(ff::avio_read(pb, buf, 16), 16);
  EXPECT_EQ(std::string(reinterpret_cast<char *>(buf), 16), data.substr(50000, 16));
  EXPECT_EQ(ff::avio_seek(pb, -1000, SEEK_CUR), 49016);
  ASSERT_EQ(ff::avio_read(pb, buf, 4), 4);
  EXPECT_EQ(std::string(reinterpret_cast<char *>(buf), 4), data.substr(49016, 4));
  EXPECT_EQ(ff::avio_seek(pb, 99990, SEEK_SET), 99990);
  EXPECT_EQ(ff::avio_read(pb, buf, sizeof buf), 10);
  EXPECT_EQ(ff::avio_read(pb, buf, sizeof buf), AVERROR_EOF);
  EXPECT_EQ(io->Close(), 0);
  EXPECT_EQ(io->Close(), 0);
}

TEST(UnicodeIO, WritesTruncateAndFlushOnDestruction) {
  test::LoadConverterLibraries();
  test::TempDir dir;
  const std::string path = dir.file("out:ü.bin");
  WriteBytes(path, std::string(200000, 'x'));
  const std::string data(50000, 'd');
  {
    std::unique_ptr<TUnicodeIO> io;
    ASSERT_EQ(TUnicodeIO::Open(Url(path), AVIO_FLAG_WRITE, io), 0);
    ff::avio_write(io->Context(), Bytes(data.c_str()), static_cast<int>(data.size()));
    EXPECT_EQ(ff::avio_seek(io->Context(), 10, SEEK_SET), 10);
    ff::avio_write(io->Context(), Bytes("ABC"), 3);
  } // no Close(): the destructor must flush what is still buffered
  EXPECT_TRUE(ReadBytes(path) == std::string(data).replace(10, 3, "ABC"));

  std::unique_ptr<TUnicodeIO> io;
  ASSERT_EQ(TUnicodeIO::Open(Url(path), AVIO_FLAG_READ_WRITE, io), 0);
  ff::avio_write(io->Context(), Bytes("hello"), 5);
  ff::avio_flush(io->Context());
  EXPECT_EQ(ff::avio_size(io->Context()), 5);
  EXPECT_EQ(io->Close(), 0);
  EXPECT_EQ(ReadBytes(path), "hello");
}

TEST(UnicodeIO, AFullDiskIsReportedByClose) {
  test::LoadConverterLibraries();
  test::TempDir dir;
  // A wrapped name (our IO) and a plain one (the library's IO), both on /dev/full.
  fs::create_symlink("/dev/full", dir.path() / "full:disk");
  fs::create_symlink("/dev/full", dir.path() / "full");
  std::unique_ptr<TUnicodeIO> io;
  ASSERT_EQ(TUnicodeIO::Open(Url(dir.file("full:disk")), AVIO_FLAG_WRITE, io), 0);
  ff::avio_write(io->Context(), Bytes("data"), 4);
  EXPECT_EQ(io->Close(), AVERROR(ENOSPC));
  for (const std::string &name : {dir.file("full:disk"), dir.file("full")}) {
    FormatPtr oc = NewOutput("wav");
    TOutputIO out;
    ASSERT_EQ(OpenOutputIO(oc.get(), name, AVIO_FLAG_WRITE, out), 0) << name;
    ff::avio_write(oc->pb, Bytes("data"), 4);
    EXPECT_EQ(out.Close(), AVERROR(ENOSPC)) << name;
    EXPECT_EQ(oc->pb, nullptr);
  }
}

// ---- opening files for the container library ---------------------------------------

TEST(UnicodeFormatIO, VideoUnderAnAwkwardNameInBothLocales) {
  test::LoadConverterLibraries();
  for (const auto &[locale, wrapped] : {std::pair{"C", true}, std::pair{"C.UTF-8", false}}) {
    SCOPED_TRACE(locale);
    USE_LOCALE(locale);
    test::TempDir dir;
    const std::string name = dir.file("Видео_テスト_ü.mkv");
    EXPECT_EQ(NameNeedsUnicodeURL(name), wrapped);
    Mux(name, "matroska", true);
    EXPECT_TRUE(fs::exists(fs::path(name))); // the name's own bytes, whatever the locale
    ExpectProbe(name, AV_CODEC_ID_MPEG4, 0.4);
  }
}

TEST(UnicodeFormatIO, AudioUnderAColonNameAndAsAFormedUrl) {
  USE_LOCALE("C.UTF-8");
  test::LoadConverterLibraries();
  test::TempDir dir;
  const std::string name = dir.file("clip:with:colon.wav");
  Mux(name, "wav", false);
  EXPECT_GE(fs::file_size(fs::path(name)), 16044u);
  ExpectProbe(name, AV_CODEC_ID_PCM_S16LE, 1.0);
  TInputFile in;
  ASSERT_EQ(OpenInputFile(Url(name), ff::av_find_input_format("wav"), nullptr, in), 0);
  EXPECT_TRUE(in.UsesUnicodeIO());
  EXPECT_EQ(ContextFileName(in->url), name);
}

TEST(UnicodeFormatIO, MuxerReopensAWrappedOutputByItsUrl) {
  // MOV "faststart" reads its own output again through io_open to move the index to
  // the front; without our hooks that second open of the URL fails.
  test::LoadConverterLibraries();
  test::TempDir dir;
  const std::string name = dir.file("fast:start.mov");
  Mux(name, "mov", false, "+faststart");
  std::vector<std::string> boxes; // top-level box types in file order
  const std::string bytes = ReadBytes(name);
  for (size_t pos = 0, size = 8; pos + 8 <= bytes.size() && size >= 8; pos += size) {
    size = 0;
    for (int i = 0; i < 4; ++i)
      size = size << 8 | static_cast<uint8_t>(bytes[pos + i]);
    boxes.push_back(bytes.substr(pos + 4, 4));
  }
  const auto moov = std::find(boxes.begin(), boxes.end(), "moov");
  ASSERT_NE(moov, boxes.end());
  EXPECT_LT(moov, std::find(boxes.begin(), boxes.end(), "mdat"));
  ExpectProbe(name, AV_CODEC_ID_PCM_S16LE, 1.0);
}

TEST(UnicodeFormatIO, MissingFilesGiveENOENT) {
  USE_LOCALE("C");
  test::LoadConverterLibraries();
  test::TempDir dir;
  Mux(dir.file("a.wav"), "wav", false);
  TInputFile in;
  ASSERT_EQ(OpenInputFile(dir.file("a.wav"), nullptr, nullptr, in), 0);
  // Wrapped (our IO) and plain (the library's file protocol) alike; a failed open
  // leaves the previous file closed rather than half replaced.
  for (const std::string &name : {dir.file("нет.mkv"), dir.file("no:such.wav"), dir.file("none.wav")}) {
    EXPECT_EQ(OpenInputFile(name, nullptr, nullptr, in), AVERROR(ENOENT)) << name;
    EXPECT_FALSE(in);
  }
}

TEST(UnicodeFormatIO, HooksHonourTheProtocolLists) {
  test::LoadConverterLibraries();
  test::TempDir dir;
  const std::string wrapped = Url(dir.file("x:y.bin")), plain = dir.file("plain.bin");
  WriteBytes(dir.file("x:y.bin"), "abc");
  WriteBytes(plain, "abc");
  FormatPtr ctx(ff::avformat_alloc_context());
  InstallUnicodeIOHooks(ctx.get());
  ctx->url = ff::av_strdup(plain.c_str()); // the library's own io_open compares with it

  AVIOContext *pb = nullptr;
  ctx->protocol_whitelist = ff::av_strdup("file,crypto");
  EXPECT_EQ(ctx->io_open(ctx.get(), &pb, wrapped.c_str(), AVIO_FLAG_READ, nullptr), AVERROR(EINVAL));
  ff::av_freep(&ctx->protocol_whitelist);
  ctx->protocol_whitelist = ff::av_strdup("file,unicode");
  ASSERT_EQ(ctx->io_open(ctx.get(), &pb, wrapped.c_str(), AVIO_FLAG_READ, nullptr), 0);
  EXPECT_TRUE(TUnicodeIO::Owns(pb));
  EXPECT_EQ(ff::avio_size(pb), 3);
  EXPECT_EQ(ctx->io_close2(ctx.get(), pb), 0);
  // Other URLs still reach the library's own callbacks.
  ASSERT_EQ(ctx->io_open(ctx.get(), &pb, plain.c_str(), AVIO_FLAG_READ, nullptr), 0);
  EXPECT_FALSE(TUnicodeIO::Owns(pb));
  EXPECT_EQ(ctx->io_close2(ctx.get(), pb), 0);
  ctx->protocol_blacklist = ff::av_strdup("unicode");
  EXPECT_EQ(ctx->io_open(ctx.get(), &pb, wrapped.c_str(), AVIO_FLAG_READ, nullptr), AVERROR(EINVAL));
}
