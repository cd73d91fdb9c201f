// How long Stop takes to end a call that waits on a named pipe delivering nothing, in
// the converter (adding a task, and a running job whose pipe stalls after a clip), the
// probe (LoadFile) and the player (Open, and playing a pipe that stalls). Each case is
// measured 20 times; the figures are the median and the worst, in milliseconds, from
// the Stop call to the end of the waiting call. The baseline is the same Stop on a
// call that does not wait (a regular file), so the figures show what the wait adds.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include "converter/AVProbe.h"
#include "converter/Converter.h"
#include "media/EntryPoints.h"
#include "media/FFmpegLoader.h"
#include "media/Owners.h"
#include "media/SendReceive.h"
#include "player/Player.h"
#include "support/StalledPipe.h"

using namespace tovi;
namespace fs = std::filesystem;
using TPipe = tovi::test::TStalledPipe;

namespace {

constexpr int kRounds = 20;
constexpr int kWidth = 176, kHeight = 144, kFrames = 50, kRate = 25;
// How long each waiting call is left to settle into its wait before Stop: 300 ms and a
// seeded share of 100 ms, so that the stop lands anywhere in the reader's short poll
// steps rather than always at the same point of one.
std::chrono::microseconds Settle() {
  static std::mt19937 random(15);
  return std::chrono::microseconds(300000 + std::uniform_int_distribution<int>(0, 99999)(random));
}

[[noreturn]] void Fail(const std::string &what) {
  std::fprintf(stderr, "stall_bench: %s\n", what.c_str());
  std::exit(1);
}

double MsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

// A 2-second MPEG-2 clip in Matroska: its header names the stream, so it opens from a
// pipe without waiting for more than the clip.
void WriteClip(const std::string &path) {
  AVFormatContext *raw = nullptr;
  if (ff::avformat_alloc_output_context2(&raw, nullptr, "matroska", path.c_str()) < 0)
    Fail("muxer for " + path);
  FormatContextPtr oc(raw);
  const AVCodec *codec = ff::avcodec_find_encoder_by_name("mpeg2video");
  if (!codec) Fail("no mpeg2video encoder");
  CodecContextPtr enc(ff::avcodec_alloc_context3(codec));
  enc->width = kWidth;
  enc->height = kHeight;
  enc->pix_fmt = AV_PIX_FMT_YUV420P;
  enc->time_base = {1, kRate};
  enc->framerate = {kRate, 1};
  enc->gop_size = 12;
  if (oc->oformat->flags & AVFMT_GLOBALHEADER) enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  {
    std::lock_guard lock(CodecLock());
    if (ff::avcodec_open2(enc.get(), codec, nullptr) < 0) Fail("open encoder");
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
    for (int p = 0; p < 3; ++p) {
      const int h = p ? kHeight / 2 : kHeight, w = p ? kWidth / 2 : kWidth;
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
          frame->data[p][y * frame->linesize[p] + x] = uint8_t(p ? 128 : (x + y + i * 5) & 255);
    }
    frame->pts = i;
    EncodeAndReceive(enc.get(), frame.get(), packet.get(), write);
  }
  EncodeAndReceive(enc.get(), nullptr, packet.get(), write);
  ff::av_write_trailer(oc.get());
  ff::avio_closep(&oc->pb);
}

std::vector<char> ReadAll(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct TFigures {
  double median = 0, worst = 0;
  int hung = 0; // rounds the stop did not end within 30 s
};

// `call` runs on a thread of its own; `stop` is called once the call has settled,
// and the time until the call returns is taken. A call the stop did not end is freed
// by releasing `pipe`.
double OneStop(const std::function<void()> &call, const std::function<void()> &stop, TPipe &pipe,
               bool &hung) {
  std::atomic<bool> ended{false};
  std::thread worker([&] {
    call();
    ended = true;
  });
  std::this_thread::sleep_for(Settle());
  if (ended) Fail("a call meant to wait on a pipe ended by itself");
  const auto start = std::chrono::steady_clock::now();
  stop();
  while (!ended && MsSince(start) < 30000)
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  const double ms = MsSince(start);
  hung = !ended;
  if (hung) std::fprintf(stderr, "stall_bench: a stop did not end the call\n");
  pipe.Release();
  worker.join();
  return ms;
}

TFigures Measure(const char *label, const std::function<double(bool &)> &round) {
  std::vector<double> ms;
  TFigures f;
  for (int i = 0; i < kRounds; ++i) {
    bool hung = false;
    ms.push_back(round(hung));
    f.hung += hung;
  }
  std::sort(ms.begin(), ms.end());
  f.median = (ms[kRounds / 2 - 1] + ms[kRounds / 2]) / 2;
  f.worst = ms.back();
  std::printf("%-44s median %7.1f ms   worst %7.1f ms%s\n", label, f.median, f.worst,
              f.hung ? "   (HUNG)" : "");
  std::fflush(stdout);
  return f;
}

} // namespace

int main() {
  ::setenv("SDL_VIDEODRIVER", "dummy", 1);
  ::setenv("SDL_AUDIODRIVER", "dummy", 1);
  auto &loader = TFFmpegLoader::Instance();
  if (!loader.LoadLibraries(PLAYER_LIBRARIES)) Fail(loader.LastErrorText());
  const fs::path dir = fs::temp_directory_path() / ("tovi_stall_bench_" + std::to_string(::getpid()));
  fs::create_directories(dir);
  const std::string clip = (dir / "clip.mkv").string();
  WriteClip(clip);
  const std::vector<char> bytes = ReadAll(clip);
  int counter = 0;
  const auto pipeName = [&] { return (dir / ("pipe" + std::to_string(counter++) + ".mkv")).string(); };

  std::printf("Stop latency on a stalled named pipe, %d rounds each, %u cores\n", kRounds,
              std::thread::hardware_concurrency());
  int hung = 0;

  // ---- converter ----
  const auto addRound = [&](TPipe::TKind kind, bool &h) {
    TPipe pipe(pipeName(), kind);
    if (!pipe.Ready()) Fail("mkfifo");
    TFFConverter converter;
    return OneStop([&] { (void)converter.AddTask(pipe.Name()); }, [&] { converter.Stop(false); }, pipe, h);
  };
  hung += Measure("converter AddTask, silent pipe", [&](bool &h) { return addRound(TPipe::Silent, h); }).hung;
  hung += Measure("converter AddTask, no writer", [&](bool &h) { return addRound(TPipe::NoWriter, h); }).hung;
  hung += Measure("converter job, pipe stalls after the clip", [&](bool &h) {
            TPipe pipe(pipeName(), TPipe::Silent);
            if (!pipe.Ready()) Fail("mkfifo");
            pipe.Feed(bytes);
            TFFConverter converter;
            converter.SetTriggerEventInMainThread(false);
            const int task = converter.AddTask(pipe.Name());
            if (task < 0) Fail(converter.LastErrorText());
            TOutputOptions out;
            InitOutputOptions(out);
            out.VideoCodec = "mpeg4";
            const std::string output = (dir / "out.mkv").string();
            fs::remove(output);
            if (!converter.SetOutputFile(task, output, &out)) Fail(converter.LastErrorText());
            converter.StartTask(1);
            std::this_thread::sleep_for(Settle());
            const auto start = std::chrono::steady_clock::now();
            converter.Stop(true);
            h = false; // Stop(true) returns once the job has ended
            return MsSince(start);
          }).hung;

  // ---- probe ----
  const auto probeRound = [&](TPipe::TKind kind, bool &h) {
    TPipe pipe(pipeName(), kind);
    if (!pipe.Ready()) Fail("mkfifo");
    TAVProbe probe;
    return OneStop([&] { (void)probe.LoadFile(pipe.Name()); }, [&] { probe.Stop(); }, pipe, h);
  };
  hung += Measure("probe LoadFile, silent pipe", [&](bool &h) { return probeRound(TPipe::Silent, h); }).hung;
  hung += Measure("probe LoadFile, no writer", [&](bool &h) { return probeRound(TPipe::NoWriter, h); }).hung;

  // ---- player ----
  const auto openRound = [&](TPipe::TKind kind, bool &h) {
    TPipe pipe(pipeName(), kind);
    if (!pipe.Ready()) Fail("mkfifo");
    TFFPlayer player;
    return OneStop([&] { (void)player.Open(pipe.Name(), 0, false); }, [&] { player.Stop(false); }, pipe, h);
  };
  hung += Measure("player Open, silent pipe", [&](bool &h) { return openRound(TPipe::Silent, h); }).hung;
  hung += Measure("player Open, no writer", [&](bool &h) { return openRound(TPipe::NoWriter, h); }).hung;
  hung += Measure("player playing, pipe stalls after the clip", [&](bool &h) {
            TPipe pipe(pipeName(), TPipe::Silent);
            if (!pipe.Ready()) Fail("mkfifo");
            pipe.Feed(bytes);
            TFFPlayer player;
            if (!player.Open(pipe.Name(), 0, false)) Fail(player.LastErrorText());
            std::this_thread::sleep_for(Settle());
            const auto start = std::chrono::steady_clock::now();
            player.Stop(true);
            h = false;
            return MsSince(start);
          }).hung;

  // ---- baseline: the same stops on calls that do not wait ----
  Measure("baseline: probe LoadFile + Stop, regular file", [&](bool &h) {
    TAVProbe probe;
    h = false;
    const auto start = std::chrono::steady_clock::now();
    (void)probe.LoadFile(clip);
    probe.Stop();
    return MsSince(start);
  });

  fs::remove_all(dir);
  return hung ? 1 : 0;
}
