// The "unicode" protocol: which names get wrapped under which locale, the native file
// operations, our AVIOContext, and whole files muxed to and probed from awkward names
// through the real libavformat. Each test runs in a process of its own (ctest).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <locale.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
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

// Switches the calling thread to a locale for the scope (the wrapping decision reads
// the thread's locale).
class ScopedLocale {
public:
  explicit ScopedLocale(const char *name) : loc_(newlocale(LC_ALL_MASK, name, nullptr)) {
    if (loc_) old_ = uselocale(loc_);
  }
  ~ScopedLocale() {
    if (loc_) {
      uselocale(old_);
      freelocale(loc_);
    }
  }
  bool ok() const { return loc_ != nullptr; }

private:
  locale_t loc_;
  locale_t old_ = nullptr;
};

#define USE_LOCALE(name)                                                                 \
  ScopedLocale scopedLocale(name);                                                       \
  ASSERT_TRUE(scopedLocale.ok()) << "locale " << name << " is missing"

std::string ErrText(int rc) {
  char buf[256] = {};
  ff::av_strerror(rc, buf, sizeof buf);
  return std::to_string(rc) + " " + buf;
}

void WriteBytes(const std::string &path, const std::string &bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::string ReadBytes(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

std::string Pattern(size_t size) {
  std::string s(size, '\0');
  for (size_t i = 0; i < size; ++i) s[i] = static_cast<char>((i * 7) % 251);
  return s;
}

std::string Url(const std::string &name) { return std::string(UNICODE_URL_PREFIX) + name; }

struct FreeOutputContext {
  void operator()(AVFormatContext *oc) const { ff::avformat_free_context(oc); }
};
using OutputContext = std::unique_ptr<AVFormatContext, FreeOutputContext>;

struct FreeCodecContext {
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
struct FreeDict {
  void operator()(AVDictionary *d) const { ff::av_dict_free(&d); }
};

OutputContext NewOutput(const char *formatName) {
  AVFormatContext *oc = nullptr;
  EXPECT_GE(ff::avformat_alloc_output_context2(&oc, nullptr, formatName, nullptr), 0);
  return OutputContext(oc);
}

// Ten 64x48 MPEG-4 frames at 25 fps into a Matroska file.
void MuxVideo(const std::string &name, bool expectUnicodeIO) {
  OutputContext oc = NewOutput("matroska");
  ASSERT_TRUE(oc);
  const AVCodec *codec = ff::avcodec_find_encoder(AV_CODEC_ID_MPEG4);
  ASSERT_NE(codec, nullptr);
  std::unique_ptr<AVCodecContext, FreeCodecContext> enc(ff::avcodec_alloc_context3(codec));
  enc->width = 64;
  enc->height = 48;
  enc->pix_fmt = AV_PIX_FMT_YUV420P;
  enc->time_base = {1, 25};
  enc->framerate = {25, 1};
  if (oc->oformat->flags & AVFMT_GLOBALHEADER) enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  {
    std::lock_guard lock(CodecLock());
    ASSERT_GE(ff::avcodec_open2(enc.get(), codec, nullptr), 0);
  }
  AVStream *st = ff::avformat_new_stream(oc.get(), nullptr);
  ASSERT_NE(st, nullptr);
  ASSERT_GE(ff::avcodec_parameters_from_context(st->codecpar, enc.get()), 0);
  st->time_base = enc->time_base;

  TOutputIO io;
  ASSERT_EQ(OpenOutputIO(oc.get(), name, AVIO_FLAG_WRITE, io), 0);
  EXPECT_EQ(io.UsesUnicodeIO(), expectUnicodeIO);
  ASSERT_GE(ff::avformat_write_header(oc.get(), nullptr), 0);

  std::unique_ptr<AVFrame, FreeFrame> frame(ff::av_frame_alloc());
  frame->format = enc->pix_fmt;
  frame->width = enc->width;
  frame->height = enc->height;
  ASSERT_GE(ff::av_frame_get_buffer(frame.get(), 0), 0);
  std::unique_ptr<AVPacket, FreePacket> pkt(ff::av_packet_alloc());
  auto drain = [&] {
    while (ff::avcodec_receive_packet(enc.get(), pkt.get()) >= 0) {
      ff::av_packet_rescale_ts(pkt.get(), enc->time_base, st->time_base);
      pkt->stream_index = st->index;
      ASSERT_GE(ff::av_interleaved_write_frame(oc.get(), pkt.get()), 0);
    }
  };
  for (int i = 0; i < 10; ++i) {
    ASSERT_GE(ff::av_frame_make_writable(frame.get()), 0);
    for (int p = 0; p < 3; ++p) {
      const int h = p ? enc->height / 2 : enc->height;
      for (int y = 0; y < h; ++y)
        std::memset(frame->data[p] + y * frame->linesize[p], p ? 128 : 20 * i, static_cast<size_t>(frame->linesize[p]));
    }
    frame->pts = i;
    ASSERT_GE(ff::avcodec_send_frame(enc.get(), frame.get()), 0);
    drain();
  }
  ASSERT_GE(ff::avcodec_send_frame(enc.get(), nullptr), 0);
  drain();
  ASSERT_GE(ff::av_write_trailer(oc.get()), 0);
  EXPECT_EQ(io.Close(), 0);
  EXPECT_EQ(oc->pb, nullptr);
}

// One second of 8 kHz mono 16-bit PCM in ten packets; no encoder needed.
void MuxPcm(const std::string &name, const char *formatName, const char *optionKey = nullptr,
            const char *optionValue = nullptr) {
  OutputContext oc = NewOutput(formatName);
  ASSERT_TRUE(oc);
  AVStream *st = ff::avformat_new_stream(oc.get(), nullptr);
  ASSERT_NE(st, nullptr);
  AVCodecParameters *par = st->codecpar;
  par->codec_type = AVMEDIA_TYPE_AUDIO;
  par->codec_id = AV_CODEC_ID_PCM_S16LE;
  par->format = AV_SAMPLE_FMT_S16;
  par->sample_rate = 8000;
  ff::av_channel_layout_default(&par->ch_layout, 1);
  par->bits_per_coded_sample = 16;
  par->block_align = 2;
  par->bit_rate = 128000;
  st->time_base = {1, 8000};

  TOutputIO io;
  ASSERT_EQ(OpenOutputIO(oc.get(), name, AVIO_FLAG_WRITE, io), 0);
  AVDictionary *d = nullptr;
  if (optionKey) ff::av_dict_set(&d, optionKey, optionValue, 0);
  const int rc = ff::avformat_write_header(oc.get(), &d);
  std::unique_ptr<AVDictionary, FreeDict> leftOver(d);
  ASSERT_GE(rc, 0) << ErrText(rc);
  std::unique_ptr<AVPacket, FreePacket> pkt(ff::av_packet_alloc());
  for (int i = 0; i < 10; ++i) {
    ASSERT_EQ(ff::av_new_packet(pkt.get(), 1600), 0);
    for (int b = 0; b < 1600; ++b) pkt->data[b] = static_cast<uint8_t>(b * i);
    pkt->pts = pkt->dts = i * 800;
    pkt->duration = 800;
    pkt->stream_index = 0;
    ff::av_packet_rescale_ts(pkt.get(), {1, 8000}, st->time_base);
    ASSERT_GE(ff::av_interleaved_write_frame(oc.get(), pkt.get()), 0);
  }
  ASSERT_GE(ff::av_write_trailer(oc.get()), 0);
  EXPECT_EQ(io.Close(), 0);
}

void ExpectProbedPcm(const std::string &name, bool expectUnicodeIO) {
  TInputFile in;
  const int rc = OpenInputFile(name, nullptr, nullptr, in);
  ASSERT_EQ(rc, 0) << ErrText(rc);
  EXPECT_EQ(in.UsesUnicodeIO(), expectUnicodeIO);
  ASSERT_GE(ff::avformat_find_stream_info(in.Context(), nullptr), 0);
  ASSERT_EQ(in->nb_streams, 1u);
  const AVCodecParameters *par = in->streams[0]->codecpar;
  EXPECT_EQ(par->codec_id, AV_CODEC_ID_PCM_S16LE);
  EXPECT_EQ(par->sample_rate, 8000);
  EXPECT_EQ(par->ch_layout.nb_channels, 1);
  EXPECT_NEAR(static_cast<double>(in->duration) / AV_TIME_BASE, 1.0, 0.01);
  EXPECT_EQ(ContextFileName(in->url), name);
}

void MuxAndProbeVideoName(const char *locale, bool expectWrapped) {
  USE_LOCALE(locale);
  test::LoadConverterLibraries();
  test::TempDir dir;
  const std::string name = dir.file("Видео_テスト_ü.mkv");
  EXPECT_EQ(NameNeedsUnicodeURL(name), expectWrapped);
  MuxVideo(name, expectWrapped);
  // The bytes on disk are the name's own UTF-8, whatever the locale.
  ASSERT_TRUE(fs::exists(fs::path(name)));

  TInputFile in;
  const int rc = OpenInputFile(name, nullptr, nullptr, in);
  ASSERT_EQ(rc, 0) << ErrText(rc);
  EXPECT_EQ(in.UsesUnicodeIO(), expectWrapped);
  EXPECT_EQ(std::string(in->url), expectWrapped ? Url(name) : name);
  EXPECT_EQ(ContextFileName(in->url), name);
  ASSERT_GE(ff::avformat_find_stream_info(in.Context(), nullptr), 0);
  ASSERT_EQ(in->nb_streams, 1u);
  const AVCodecParameters *par = in->streams[0]->codecpar;
  EXPECT_EQ(par->codec_type, AVMEDIA_TYPE_VIDEO);
  EXPECT_EQ(par->codec_id, AV_CODEC_ID_MPEG4);
  EXPECT_EQ(par->width, 64);
  EXPECT_EQ(par->height, 48);
  EXPECT_NEAR(static_cast<double>(in->duration) / AV_TIME_BASE, 0.4, 0.05);
}

// Top-level box types of an MP4/MOV file, in file order.
std::vector<std::string> TopLevelBoxes(const std::string &bytes) {
  std::vector<std::string> types;
  size_t pos = 0;
  while (pos + 8 <= bytes.size()) {
    uint64_t size = 0;
    for (int i = 0; i < 4; ++i) size = size << 8 | static_cast<uint8_t>(bytes[pos + i]);
    types.push_back(bytes.substr(pos + 4, 4));
    if (size == 1 && pos + 16 <= bytes.size()) {
      size = 0;
      for (int i = 8; i < 16; ++i) size = size << 8 | static_cast<uint8_t>(bytes[pos + i]);
    }
    if (size < 8) break;
    pos += size;
  }
  return types;
}

} // namespace

// ---- names ------------------------------------------------------------------------

TEST(UnicodeNames, WrappingFollowsTheLocaleCharacterSet) {
  {
    USE_LOCALE("C.UTF-8");
    for (const char *name : {"movie.mkv", "/tmp/a b/movie.mkv", "/tmp/Видео.mkv", "テスト.mkv", "ü"})
      EXPECT_EQ(FileNameToURL(name), name) << name;
    // Bytes that are no UTF-8 cannot survive the round trip.
    EXPECT_EQ(FileNameToURL("/tmp/\xff\xfe.mkv"), Url("/tmp/\xff\xfe.mkv"));
    EXPECT_EQ(FileNameToURL("/tmp/\xc3.mkv"), Url("/tmp/\xc3.mkv"));
  }
  {
    USE_LOCALE("C");
    for (const char *name : {"movie.mkv", "/tmp/a b/movie.mkv", "", "~!@#$%^&*()_+.avi"})
      EXPECT_EQ(FileNameToURL(name), name) << name;
    for (const char *name : {"/tmp/Видео.mkv", "テスト.mkv", "ü", "x\x7f\x80"})
      EXPECT_EQ(FileNameToURL(name), Url(name)) << name;
  }
}

TEST(UnicodeNames, ColonNamesDependOnlyOnTheProtocolPrefix) {
  USE_LOCALE("C");
  // Known protocols pass whatever follows, also characters the locale lacks.
  for (const char *name : {"http://example.com/Видео.mkv", "udp://239.0.0.1:1234", "rtp://h:5004",
                           "tcp://h:1", "pipe:0", "gopher://h/x", "stream:x", "unicode:utf8:/tmp/ü.avi"})
    EXPECT_EQ(FileNameToURL(name), name) << name;
  // Any other colon would make libavformat look for a protocol; the match is exact.
  for (const char *name : {"clip:with:colon.mp4", "/tmp/a:b.mkv", "mms://host/x", "HTTP://x", "ttp:x",
                           ":x", "https://example.com/a.mkv", "C:\\ä.avi"})
    EXPECT_EQ(FileNameToURL(name), Url(name)) << name;
  EXPECT_EQ(FileNameToURL("http"), "http");
  // A locale that holds every character changes nothing for colons.
  ScopedLocale utf8("C.UTF-8");
  ASSERT_TRUE(utf8.ok());
  EXPECT_EQ(FileNameToURL("clip:with:colon.mp4"), Url("clip:with:colon.mp4"));
  EXPECT_EQ(FileNameToURL("http://example.com/a b.mkv"), "http://example.com/a b.mkv");
}

TEST(UnicodeNames, UrlToFileNameConsumesTwoColons) {
  USE_LOCALE("C");
  const std::string longName = "/tmp/" + std::string(5000, 'a') + "ü.mkv";
  for (const std::string &name : {std::string("C:\\ä.avi"), std::string("clip:with:colon.wav"),
                                  std::string("/tmp/Видео.mkv"), std::string("/a/b:c/d.mkv"), longName}) {
    const std::string url = FileNameToURL(name);
    EXPECT_TRUE(IsUnicodeURL(url)) << name;
    EXPECT_EQ(URLToFileName(url), name);
    EXPECT_EQ(ContextFileName(url.c_str()), name);
  }
  EXPECT_EQ(URLToFileName("no colon"), "no colon");
  EXPECT_EQ(URLToFileName("one:colon"), "colon");
  EXPECT_EQ(URLToFileName("a:b:c:d"), "c:d");
  EXPECT_EQ(URLToFileName("a::"), "");
}

TEST(UnicodeNames, UnicodeUrlAndContextFileName) {
  EXPECT_FALSE(IsUnicodeURL("unicode:utf8:"));
  EXPECT_TRUE(IsUnicodeURL("unicode:utf8:x"));
  EXPECT_FALSE(IsUnicodeURL("Unicode:utf8:x"));
  EXPECT_FALSE(IsUnicodeURL("unicode:utf8x:"));
  EXPECT_FALSE(IsUnicodeURL(""));
  EXPECT_EQ(ContextFileName(nullptr), "");
  // Only a complete "unicode:utf8:" URL is turned back; other names stay as they are.
  for (const char *name : {"/plain/x.mkv", "http://h/a:b", "unicode:utf8:", "pipe:0"})
    EXPECT_EQ(ContextFileName(name), name);
}

TEST(UnicodeNames, LoaderMarksTheProtocolReady) {
  EXPECT_FALSE(UnicodeProtocolReady());
  test::LoadConverterLibraries();
  EXPECT_TRUE(UnicodeProtocolReady());
  RegisterUnicodeProtocol();
  EXPECT_TRUE(UnicodeProtocolReady());
}

// ---- native file operations -------------------------------------------------------

TEST(UnicodeFile, OpenModesCreateTruncateAndFail) {
  test::TempDir dir;
  const std::string path = dir.file("ä:b.bin");
  EXPECT_EQ(UnicodeFileOpen(Url(path), AVIO_FLAG_READ), AVERROR(ENOENT));
  EXPECT_EQ(AVERROR(ENOENT), -2);
  EXPECT_EQ(UnicodeFileOpen(Url(dir.file("no/such/dir.bin")), AVIO_FLAG_WRITE), AVERROR(ENOENT));
  EXPECT_EQ(UnicodeFileOpen(Url(dir.path().string()), AVIO_FLAG_READ), AVERROR(EISDIR));

  const mode_t oldMask = umask(022);
  int fd = UnicodeFileOpen(Url(path), AVIO_FLAG_WRITE);
  umask(oldMask);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(fcntl(fd, F_GETFD) & FD_CLOEXEC, FD_CLOEXEC);
  EXPECT_EQ(UnicodeFileWrite(fd, reinterpret_cast<const uint8_t *>("hello"), 5), 5);
  EXPECT_EQ(UnicodeFileClose(fd), 0);
  struct stat st {};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
  EXPECT_EQ(ReadBytes(path), "hello");

  // Opening an existing file for writing truncates it, in both write modes.
  for (int flags : {AVIO_FLAG_WRITE, AVIO_FLAG_READ_WRITE}) {
    WriteBytes(path, "old contents");
    fd = UnicodeFileOpen(Url(path), flags);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(UnicodeFileSeek(fd, 0, AVSEEK_SIZE), 0);
    EXPECT_EQ(UnicodeFileClose(fd), 0);
    EXPECT_EQ(ReadBytes(path), "");
  }
  // Reading never writes; a write-only descriptor never reads.
  WriteBytes(path, "abc");
  fd = UnicodeFileOpen(Url(path), AVIO_FLAG_READ);
  ASSERT_GE(fd, 0);
  EXPECT_LT(UnicodeFileWrite(fd, reinterpret_cast<const uint8_t *>("x"), 1), 0);
  EXPECT_EQ(UnicodeFileClose(fd), 0);
  fd = UnicodeFileOpen(Url(path), AVIO_FLAG_WRITE);
  uint8_t byte;
  EXPECT_EQ(UnicodeFileRead(fd, &byte, 1), AVERROR(EBADF));
  EXPECT_EQ(UnicodeFileClose(fd), 0);
  EXPECT_EQ(UnicodeFileClose(fd), AVERROR(EBADF));
}

TEST(UnicodeFile, ReadAndSeekSemantics) {
  test::TempDir dir;
  const std::string path = dir.file("Видео.bin");
  WriteBytes(path, "0123456789");
  const int fd = UnicodeFileOpen(Url(path), AVIO_FLAG_READ);
  ASSERT_GE(fd, 0);
  uint8_t buf[100];
  EXPECT_EQ(UnicodeFileRead(fd, buf, 4), 4);
  EXPECT_EQ(std::string(reinterpret_cast<char *>(buf), 4), "0123");
  EXPECT_EQ(UnicodeFileSeek(fd, 2, SEEK_CUR), 6);
  EXPECT_EQ(UnicodeFileRead(fd, buf, sizeof buf), 4);
  EXPECT_EQ(buf[0], '6');
  // The end is AVERROR_EOF, never 0, and stays so.
  EXPECT_EQ(UnicodeFileRead(fd, buf, sizeof buf), AVERROR_EOF);
  EXPECT_EQ(UnicodeFileRead(fd, buf, sizeof buf), AVERROR_EOF);
  EXPECT_EQ(UnicodeFileSeek(fd, 0, AVSEEK_SIZE), 10);
  EXPECT_EQ(UnicodeFileSeek(fd, 0, AVSEEK_SIZE | AVSEEK_FORCE), 10);
  EXPECT_EQ(UnicodeFileSeek(fd, -3, SEEK_END), 7);
  EXPECT_EQ(UnicodeFileRead(fd, buf, 1), 1);
  EXPECT_EQ(buf[0], '7');
  EXPECT_EQ(UnicodeFileSeek(fd, 1, SEEK_SET), 1);
  EXPECT_EQ(UnicodeFileSeek(fd, -5, SEEK_SET), AVERROR(EINVAL));
  EXPECT_EQ(UnicodeFileSeek(fd, 0, 42), AVERROR(EINVAL));
  EXPECT_EQ(UnicodeFileClose(fd), 0);
}

// ---- the AVIOContext --------------------------------------------------------------

TEST(UnicodeIO, ReadsAndSeeksAcrossBufferBoundaries) {
  test::LoadConverterLibraries();
  test::TempDir dir;
  const std::string path = dir.file("テスト.bin");
  const std::string data = Pattern(100000);
  WriteBytes(path, data);

  std::unique_ptr<TUnicodeIO> io;
  ASSERT_EQ(TUnicodeIO::Open(Url(path), AVIO_FLAG_READ, io), 0);
  AVIOContext *pb = io->Context();
  EXPECT_EQ(io->FileName(), path);
  EXPECT_TRUE(TUnicodeIO::Owns(pb));
  EXPECT_EQ(pb->seekable, AVIO_SEEKABLE_NORMAL);
  EXPECT_EQ(pb->write_flag, 0);
  EXPECT_EQ(ff::avio_size(pb), 100000);

  std::string whole(data.size(), '\0');
  int got = 0, n;
  while ((n = ff::avio_read(pb, reinterpret_cast<uint8_t *>(whole.data()) + got, 7000)) > 0) got += n;
  EXPECT_EQ(n, AVERROR_EOF);
  EXPECT_EQ(got, 100000);
  EXPECT_TRUE(whole == data);
  EXPECT_TRUE(ff::avio_feof(pb));

  uint8_t buf[64];
  EXPECT_EQ(ff::avio_seek(pb, 50000, SEEK_SET), 50000);
  ASSERT_EQ(ff::avio_read(pb, buf, 16), 16);
  EXPECT_EQ(std::string(reinterpret_cast<char *>(buf), 16), data.substr(50000, 16));
  EXPECT_EQ(ff::avio_seek(pb, -1000, SEEK_CUR), 50016 - 1000);
  ASSERT_EQ(ff::avio_read(pb, buf, 4), 4);
  EXPECT_EQ(std::string(reinterpret_cast<char *>(buf), 4), data.substr(49016, 4));
  EXPECT_EQ(ff::avio_seek(pb, 100000 - 10, SEEK_SET), 99990);
  EXPECT_EQ(ff::avio_read(pb, buf, sizeof buf), 10);
  EXPECT_EQ(ff::avio_read(pb, buf, sizeof buf), AVERROR_EOF);
  EXPECT_EQ(io->Close(), 0);
  EXPECT_EQ(io->Close(), 0);
  EXPECT_EQ(io->Context(), nullptr);
}

TEST(UnicodeIO, WritesTruncateAndFlushOnDestruction) {
  test::LoadConverterLibraries();
  test::TempDir dir;
  const std::string path = dir.file("out:ü.bin");
  WriteBytes(path, std::string(200000, 'x'));
  const std::string data = Pattern(50000);
  {
    std::unique_ptr<TUnicodeIO> io;
    ASSERT_EQ(TUnicodeIO::Open(Url(path), AVIO_FLAG_WRITE, io), 0);
    AVIOContext *pb = io->Context();
    EXPECT_EQ(pb->write_flag, 1);
    ff::avio_write(pb, reinterpret_cast<const uint8_t *>(data.data()), static_cast<int>(data.size()));
    EXPECT_EQ(ff::avio_seek(pb, 10, SEEK_SET), 10);
    ff::avio_write(pb, reinterpret_cast<const uint8_t *>("ABC"), 3);
    // No Close(): the destructor must flush what is still buffered.
  }
  std::string expected = data;
  expected.replace(10, 3, "ABC");
  EXPECT_TRUE(ReadBytes(path) == expected);

  // Read-write mode truncates too and reads back what it wrote.
  std::unique_ptr<TUnicodeIO> io;
  ASSERT_EQ(TUnicodeIO::Open(Url(path), AVIO_FLAG_READ_WRITE, io), 0);
  ff::avio_write(io->Context(), reinterpret_cast<const uint8_t *>("hello"), 5);
  ff::avio_flush(io->Context());
  EXPECT_EQ(ff::avio_size(io->Context()), 5);
  EXPECT_EQ(ff::avio_seek(io->Context(), 1, SEEK_SET), 1);
  EXPECT_EQ(io->Close(), 0);
  EXPECT_EQ(ReadBytes(path), "hello");
}

TEST(UnicodeIO, OpenFailuresLeaveTheOutputEmpty) {
  test::LoadConverterLibraries();
  test::TempDir dir;
  std::unique_ptr<TUnicodeIO> io;
  EXPECT_EQ(TUnicodeIO::Open(dir.file("plain.bin"), AVIO_FLAG_WRITE, io), AVERROR(EINVAL));
  EXPECT_EQ(TUnicodeIO::Open(Url(dir.file("нет.bin")), AVIO_FLAG_READ, io), AVERROR(ENOENT));
  EXPECT_EQ(io, nullptr);
  EXPECT_FALSE(fs::exists(dir.file("plain.bin")));
}

TEST(UnicodeIO, AFullDiskIsReportedByClose) {
  test::LoadConverterLibraries();
  test::TempDir dir;
  ASSERT_TRUE(fs::exists("/dev/full"));
  // A wrapped name (through our IO) and a plain one (through the library's IO).
  fs::create_symlink("/dev/full", dir.path() / "full:disk");
  fs::create_symlink("/dev/full", dir.path() / "full");
  std::unique_ptr<TUnicodeIO> io;
  ASSERT_EQ(TUnicodeIO::Open(Url(dir.file("full:disk")), AVIO_FLAG_WRITE, io), 0);
  ff::avio_write(io->Context(), reinterpret_cast<const uint8_t *>("data"), 4);
  EXPECT_EQ(io->Close(), AVERROR(ENOSPC));

  for (const std::string &name : {dir.file("full:disk"), dir.file("full")}) {
    OutputContext oc = NewOutput("wav");
    TOutputIO out;
    ASSERT_EQ(OpenOutputIO(oc.get(), name, AVIO_FLAG_WRITE, out), 0) << name;
    EXPECT_EQ(out.UsesUnicodeIO(), name.find(':') != std::string::npos);
    ff::avio_write(oc->pb, reinterpret_cast<const uint8_t *>("data"), 4);
    EXPECT_EQ(out.Close(), AVERROR(ENOSPC)) << name;
    EXPECT_EQ(oc->pb, nullptr);
    EXPECT_FALSE(out.IsOpen());
  }
}

// ---- opening files for the container library ---------------------------------------

TEST(UnicodeFormatIO, VideoUnderAnAwkwardNameInTheCLocale) { MuxAndProbeVideoName("C", true); }

TEST(UnicodeFormatIO, VideoUnderAnAwkwardNameInAUtf8Locale) { MuxAndProbeVideoName("C.UTF-8", false); }

TEST(UnicodeFormatIO, AudioUnderAColonName) {
  USE_LOCALE("C.UTF-8");
  test::LoadConverterLibraries();
  test::TempDir dir;
  const std::string name = dir.file("clip:with:colon.wav");
  MuxPcm(name, "wav");
  ASSERT_TRUE(fs::exists(fs::path(name)));
  EXPECT_GE(fs::file_size(fs::path(name)), 44u + 16000u);
  ExpectProbedPcm(name, true);

  // An already formed URL and a forced input format work the same.
  TInputFile in;
  ASSERT_EQ(OpenInputFile(Url(name), ff::av_find_input_format("wav"), nullptr, in), 0);
  EXPECT_TRUE(in.UsesUnicodeIO());
  EXPECT_EQ(ContextFileName(in->url), name);
}

TEST(UnicodeFormatIO, MuxerReopensAWrappedOutputByItsUrl) {
  // MOV "faststart" reads its own output again through io_open to move the index to
  // the front; without our hook that second open of the URL fails.
  test::LoadConverterLibraries();
  test::TempDir dir;
  const std::string name = dir.file("fast:start.mov");
  MuxPcm(name, "mov", "movflags", "+faststart");
  const std::vector<std::string> boxes = TopLevelBoxes(ReadBytes(name));
  const auto moov = std::find(boxes.begin(), boxes.end(), "moov");
  const auto mdat = std::find(boxes.begin(), boxes.end(), "mdat");
  ASSERT_NE(moov, boxes.end());
  ASSERT_NE(mdat, boxes.end());
  EXPECT_LT(moov, mdat);
  ExpectProbedPcm(name, true);
}

TEST(UnicodeFormatIO, MissingFilesGiveENOENT) {
  USE_LOCALE("C");
  test::LoadConverterLibraries();
  test::TempDir dir;
  // Wrapped (our IO) and plain (the library's file protocol) alike.
  for (const std::string &name : {dir.file("нет.mkv"), dir.file("no:such.wav"), dir.file("none.wav")}) {
    TInputFile in;
    EXPECT_EQ(OpenInputFile(name, nullptr, nullptr, in), AVERROR(ENOENT)) << name;
    EXPECT_FALSE(in);
  }
  // A failed open leaves the previous file closed rather than half replaced.
  MuxPcm(dir.file("a.wav"), "wav");
  TInputFile in;
  ASSERT_EQ(OpenInputFile(dir.file("a.wav"), nullptr, nullptr, in), 0);
  EXPECT_LT(OpenInputFile(dir.file("нет.wav"), nullptr, nullptr, in), 0);
  EXPECT_FALSE(in);
}

TEST(UnicodeFormatIO, HooksHonourTheProtocolLists) {
  test::LoadConverterLibraries();
  test::TempDir dir;
  const std::string wrapped = dir.file("x:y.bin");
  const std::string plain = dir.file("plain.bin");
  WriteBytes(wrapped, "abc");
  WriteBytes(plain, "abc");
  std::unique_ptr<AVFormatContext, FreeOutputContext> ctx(ff::avformat_alloc_context());
  InstallUnicodeIOHooks(ctx.get());
  ctx->url = ff::av_strdup(plain.c_str()); // the library's own io_open compares with it

  AVIOContext *pb = nullptr;
  ctx->protocol_whitelist = ff::av_strdup("file,crypto");
  EXPECT_EQ(ctx->io_open(ctx.get(), &pb, Url(wrapped).c_str(), AVIO_FLAG_READ, nullptr), AVERROR(EINVAL));
  ff::av_freep(&ctx->protocol_whitelist);
  ctx->protocol_whitelist = ff::av_strdup("file,unicode");
  ASSERT_EQ(ctx->io_open(ctx.get(), &pb, Url(wrapped).c_str(), AVIO_FLAG_READ, nullptr), 0);
  EXPECT_TRUE(TUnicodeIO::Owns(pb));
  EXPECT_EQ(ff::avio_size(pb), 3);
  EXPECT_EQ(ctx->io_close2(ctx.get(), pb), 0);

  // Other URLs still reach the library's own callbacks.
  ASSERT_EQ(ctx->io_open(ctx.get(), &pb, plain.c_str(), AVIO_FLAG_READ, nullptr), 0);
  EXPECT_FALSE(TUnicodeIO::Owns(pb));
  EXPECT_EQ(ff::avio_size(pb), 3);
  EXPECT_EQ(ctx->io_close2(ctx.get(), pb), 0);

  ctx->protocol_blacklist = ff::av_strdup("unicode");
  EXPECT_EQ(ctx->io_open(ctx.get(), &pb, Url(wrapped).c_str(), AVIO_FLAG_READ, nullptr), AVERROR(EINVAL));
}
