// Conversion time of the engine against a bare decode -> encode -> mux loop on the same
// libraries with the same encoder settings, measured in the same run: (a) 720p H.264 to
// H.264 (libx264, preset "fast"), (b) 720p MPEG-4 to MPEG-4, each with one thread and
// with every core. The ratio is what the engine's loop, clocks and bookkeeping add.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>
#include <unistd.h>
#include <filesystem>
#include <functional>
#include <string>

#include "BenchUtil.h"
#include "engine/FFmpeg.h"
#include "media/EntryPoints.h"
#include "media/FFmpegLoader.h"
#include "media/Owners.h"
#include "media/SendReceive.h"

using namespace tovi;
namespace fs = std::filesystem;

namespace {

constexpr int kWidth = 1280, kHeight = 720, kFrames = 100, kRate = 25;

[[noreturn]] void Fail(const std::string &what) {
  std::fprintf(stderr, "engine_bench: %s\n", what.c_str());
  std::exit(1);
}

// A moving picture with detail, so that the encoders have real work.
void DrawFrame(AVFrame *frame, int index) {
  for (int y = 0; y < kHeight; ++y) {
    uint8_t *row = frame->data[0] + y * frame->linesize[0];
    for (int x = 0; x < kWidth; ++x)
      row[x] = uint8_t((x * 3 + y * 2 + index * 7) ^ ((x / 16 + y / 16 + index) & 1) * 60);
  }
  for (int p = 1; p < 3; ++p)
    for (int y = 0; y < kHeight / 2; ++y) {
      uint8_t *row = frame->data[p] + y * frame->linesize[p];
      for (int x = 0; x < kWidth / 2; ++x)
        row[x] = uint8_t(128 + ((x + index * p) & 63) - 32);
    }
  const int box = (index * 11) % (kWidth - 200);
  for (int y = 200; y < 400; ++y)
    std::fill_n(frame->data[0] + y * frame->linesize[0] + box, 200, uint8_t(235));
}

// Writes the source clip with one of the libraries' encoders.
void WriteClip(const std::string &path, const char *encoder, const char *options) {
  AVFormatContext *raw = nullptr;
  if (ff::avformat_alloc_output_context2(&raw, nullptr, nullptr, path.c_str()) < 0) Fail("muxer for " + path);
  FormatContextPtr oc(raw);
  const AVCodec *codec = ff::avcodec_find_encoder_by_name(encoder);
  if (!codec) Fail(std::string("no encoder ") + encoder);
  CodecContextPtr enc(ff::avcodec_alloc_context3(codec));
  enc->width = kWidth;
  enc->height = kHeight;
  enc->pix_fmt = AV_PIX_FMT_YUV420P;
  enc->time_base = {1, kRate};
  enc->framerate = {kRate, 1};
  if (oc->oformat->flags & AVFMT_GLOBALHEADER) enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  DictionaryPtr dict;
  ff::av_dict_parse_string(dict.Out(), options, "=", ":", 0);
  {
    std::lock_guard lock(CodecLock());
    if (ff::avcodec_open2(enc.get(), codec, dict.Out()) < 0) Fail("open encoder");
  }
  AVStream *st = ff::avformat_new_stream(oc.get(), nullptr);
  ff::avcodec_parameters_from_context(st->codecpar, enc.get());
  st->time_base = enc->time_base;
  if (ff::avio_open2(&oc->pb, path.c_str(), AVIO_FLAG_WRITE, nullptr, nullptr) < 0) Fail("create " + path);
  if (ff::avformat_write_header(oc.get(), nullptr) < 0) Fail("header");
  FramePtr frame = MakeFrame();
  frame->format = AV_PIX_FMT_YUV420P;
  frame->width = kWidth;
  frame->height = kHeight;
  ff::av_frame_get_buffer(frame.get(), 0);
  PacketPtr packet = MakePacket();
  const auto write = [&](AVPacket *p) {
    ff::av_packet_rescale_ts(p, enc->time_base, st->time_base);
    p->stream_index = 0;
    return ff::av_interleaved_write_frame(oc.get(), p);
  };
  for (int i = 0; i < kFrames; ++i) {
    ff::av_frame_make_writable(frame.get());
    DrawFrame(frame.get(), i);
    frame->pts = i;
    EncodeAndReceive(enc.get(), frame.get(), packet.get(), write);
  }
  EncodeAndReceive(enc.get(), nullptr, packet.get(), write);
  ff::av_write_trailer(oc.get());
  ff::avio_closep(&oc->pb);
}

struct Job {
  std::string input, output;
  std::vector<std::pair<std::string, std::string>> options; // engine options after -i
  int threads;
};

// CPU time (user + system, every thread of the process) of one call, in microseconds:
// steadier than wall time on a machine shared with other work.
double CpuMicros(const std::function<void()> &body) {
  const auto now = [] {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) * 1e6 +
           double(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec);
  };
  const double start = now();
  body();
  return now() - start;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

std::string BareOutput(const Job &job) {
  return job.output + ".bare" + fs::path(job.output).extension().string();
}

// Configures an engine for the job up to its output file.
void Configure(TCustomFFmpeg &engine, const Job &job) {
  engine.Reset();
  engine.SetThreadCount(job.threads);
  engine.SetVerbose(-1);
  if (!engine.AddInputFile(job.input)) Fail(engine.LastErrorText());
  for (const auto &[name, value] : job.options)
    engine.ParseOption(name, value);
  if (engine.AddOutputFile(job.output, false) < 0) Fail(engine.LastErrorText());
}

void RunEngine(const Job &job) {
  TCustomFFmpeg engine;
  Configure(engine, job);
  engine.Start(false);
  if (!engine.CompletedNormally()) Fail("engine job failed: " + engine.ErrorMessage());
}

// The bare loop: demux, decode, encode with a copy of the engine's encoder settings
// (generic and private options, given the same way), mux.
// `settings` and `codec`: the encoder the engine would use, from an engine configured alike.
void RunBaseline(const Job &job, const AVCodecContext *settings, const AVCodec *codec,
                 const std::vector<std::pair<std::string, std::string>> &privateOptions) {
  AVFormatContext *rawIn = nullptr;
  if (ff::avformat_open_input(&rawIn, job.input.c_str(), nullptr, nullptr) < 0) Fail("open " + job.input);
  InputFormatContextPtr ic(rawIn);
  ff::avformat_find_stream_info(ic.get(), nullptr);
  AVStream *ist = ic->streams[0];
  const AVCodec *decoderCodec = ff::avcodec_find_decoder(ist->codecpar->codec_id);
  CodecContextPtr dec(ff::avcodec_alloc_context3(decoderCodec));
  ff::avcodec_parameters_to_context(dec.get(), ist->codecpar);
  dec->pkt_timebase = ist->time_base;
  dec->thread_count = settings->thread_count;

  CodecContextPtr enc(ff::avcodec_alloc_context3(codec));
  ff::av_opt_copy(enc.get(), settings);
  enc->width = settings->width;
  enc->height = settings->height;
  enc->pix_fmt = settings->pix_fmt;
  enc->time_base = settings->time_base;
  enc->framerate = settings->framerate;
  enc->sample_aspect_ratio = settings->sample_aspect_ratio;
  enc->thread_count = settings->thread_count;
  DictionaryPtr dict;
  for (const auto &[name, value] : privateOptions)
    ff::av_dict_set(dict.Out(), name.c_str(), value.c_str(), 0);
  {
    std::lock_guard lock(CodecLock());
    if (ff::avcodec_open2(dec.get(), decoderCodec, nullptr) < 0) Fail("open decoder");
    if (ff::avcodec_open2(enc.get(), codec, dict.Out()) < 0) Fail("open encoder");
  }
  const std::string out = BareOutput(job);
  AVFormatContext *rawOut = nullptr;
  ff::avformat_alloc_output_context2(&rawOut, nullptr, nullptr, out.c_str());
  FormatContextPtr oc(rawOut);
  AVStream *ost = ff::avformat_new_stream(oc.get(), nullptr);
  ff::avcodec_parameters_from_context(ost->codecpar, enc.get());
  ost->time_base = enc->time_base;
  if (ff::avio_open2(&oc->pb, out.c_str(), AVIO_FLAG_WRITE, nullptr, nullptr) < 0) Fail("create " + out);
  if (ff::avformat_write_header(oc.get(), nullptr) < 0) Fail("header " + out);
  FramePtr frame = MakeFrame();
  PacketPtr in = MakePacket(), packet = MakePacket();
  std::int64_t next = 0;
  const auto write = [&](AVPacket *p) {
    ff::av_packet_rescale_ts(p, enc->time_base, ost->time_base);
    p->stream_index = 0;
    return ff::av_interleaved_write_frame(oc.get(), p);
  };
  const auto encode = [&](AVFrame *f) {
    f->pts = next++;
    f->pict_type = AV_PICTURE_TYPE_NONE;
    return EncodeAndReceive(enc.get(), f, packet.get(), write) == AVERROR_EOF ? -1 : 0;
  };
  while (ff::av_read_frame(ic.get(), in.get()) >= 0) {
    if (in->stream_index == 0) DecodeAndReceive(dec.get(), in.get(), frame.get(), encode);
    ff::av_packet_unref(in.get());
  }
  DecodeAndReceive(dec.get(), nullptr, frame.get(), encode);
  EncodeAndReceive(enc.get(), nullptr, packet.get(), write);
  ff::av_write_trailer(oc.get());
  ff::avio_closep(&oc->pb);
}

} // namespace

int main(int argc, char **argv) {
  auto &loader = TFFmpegLoader::Instance();
  if (!loader.LoadLibraries(CONVERTER_LIBRARIES)) Fail(loader.LastErrorText());
  ff::av_log_set_level(AV_LOG_ERROR);
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
  const fs::path dir = fs::temp_directory_path() / ("tovi_engine_bench_" + std::to_string(::getpid()));
  fs::create_directories(dir);
  const std::string h264 = (dir / "src_h264.mp4").string(), mpeg4 = (dir / "src_mpeg4.avi").string();
  WriteClip(h264, "libx264", "preset=veryfast");
  WriteClip(mpeg4, "mpeg4", "qscale=4");
  std::printf("source: %dx%d, %d frames at %d fps\n", kWidth, kHeight, kFrames, kRate);
  std::printf("%-26s %7s %9s %9s %6s %9s %9s %6s  %s\n", "case", "threads", "wall ms", "bare", "ratio",
              "cpu ms", "bare", "ratio", "output bytes engine / bare");

  struct Case {
    const char *name;
    std::string input, output;
    std::vector<std::pair<std::string, std::string>> options, privateOptions;
  };
  const Case cases[] = {
      {"H.264 -> H.264 (libx264)",
       h264,
       (dir / "out_h264.mp4").string(),
       {{"vcodec", "libx264"}, {"preset", "fast"}, {"b", "2000k"}},
       {{"preset", "fast"}}},
      {"MPEG-4 -> MPEG-4",
       mpeg4,
       (dir / "out_mpeg4.avi").string(),
       {{"vcodec", "mpeg4"}, {"b", "2000k"}},
       {}},
  };
  for (const Case &c : cases) {
    for (const int threads : {1, 0}) {
      const Job job{c.input, c.output, c.options, threads};
      TCustomFFmpeg model;
      Configure(model, Job{c.input, c.output + ".model" + fs::path(c.output).extension().string(), c.options,
                           threads});
      const AVCodecContext *settings = model.OutputFile(0).Streams.at(0).Encoder.get();
      const AVCodec *codec = model.OutputFile(0).Streams.at(0).Codec;
      RunEngine(job); // warm-up: libraries paged in, caches primed
      RunBaseline(job, settings, codec, c.privateOptions);
      // Alternating runs, so that load from other processes hits both sides alike.
      std::vector<double> engineWall, bareWall, engineCpu, bareCpu;
      for (int r = 0; r < rounds; ++r) {
        engineCpu.push_back(0);
        engineWall.push_back(
            bench::MedianMicros(1, [&] { engineCpu.back() = CpuMicros([&] { RunEngine(job); }); }));
        bareCpu.push_back(0);
        bareWall.push_back(bench::MedianMicros(1, [&] {
          bareCpu.back() = CpuMicros([&] { RunBaseline(job, settings, codec, c.privateOptions); });
        }));
      }
      const double ew = Median(engineWall), bw = Median(bareWall), ec = Median(engineCpu),
                   bc = Median(bareCpu);
      std::printf("%-26s %7s %9.0f %9.0f %6.3f %9.0f %9.0f %6.3f  %ju / %ju\n", c.name,
                  threads == 1 ? "1" : "all", ew / 1000, bw / 1000, ew / bw, ec / 1000, bc / 1000, ec / bc,
                  std::uintmax_t(fs::file_size(c.output)), std::uintmax_t(fs::file_size(BareOutput(job))));
    }
  }
  std::printf("peak RSS: %ld KiB\n", bench::PeakRssKiB());
  std::error_code ec;
  if (!std::getenv("TOVI_BENCH_KEEP")) fs::remove_all(dir, ec);
  return 0;
}
