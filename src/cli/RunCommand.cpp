// tovi-convert run: one engine job from a raw engine option list.
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "cli/Commands.h"
#include "engine/FFmpeg.h"
#include "media/FFmpegLoader.h"
#include "media/FFmpegLogger.h"
#include "media/Texts.h"

namespace tovi::cli {
namespace {

// Engine options that take no value on the command line. Each gets "1", unless the
// next word is "0" or "1", which is then taken as its value.
const std::set<std::string> kFlagOptions = {
    "an",    "benchmark",  "copyts",   "deinterlace", "dump",     "force_fps", "hex",    "intra",
    "isync", "loop_input", "newaudio", "newsubtitle", "newvideo", "psnr",      "qphist", "re",
    "sameq", "shortest",   "sn",       "vn",          "vstats",   "xerror",    "y"};

std::atomic<bool> interrupted{false};
extern "C" void OnInterrupt(int) { interrupted = true; }

void PrintRunUsage(std::FILE *out) {
  std::fprintf(out,
               "usage: tovi-convert run [OPTION]... -i INPUT [[OPTION]... -i INPUT]... [OPTION]... OUTPUT\n"
               "\n"
               "Runs one conversion with the engine's own option list, applied in order.\n"
               "  -name value | name=value   an engine option (e.g. -vcodec mpeg4, ab=128k)\n"
               "  -name                      an option without a value (an, vn, sn, y, shortest,\n"
               "                             deinterlace, sameq, copyts, intra, isync, xerror, psnr,\n"
               "                             qphist, vstats, re, dump, hex, loop_input, force_fps,\n"
               "                             newvideo, newaudio, newsubtitle, benchmark): value \"1\",\n"
               "                             or the next word when it is \"0\" or \"1\"\n"
               "  -i INPUT                   opens an input file with the options given so far\n"
               "  --join                     joins every input, one after the other, into OUTPUT\n"
               "  --threads N                decoder and encoder threads (0 = all cores; default 0)\n"
               "  --verbose                  also show the engine's and the libraries' notes\n"
               "                             (errors and warnings are always shown)\n"
               "The last word is the output file; it is overwritten when it exists.\n"
               "Exit status: 0 when the conversion completed, 1 when it failed or was stopped,\n"
               "2 for a usage error.\n");
}

std::string SizeText(std::int64_t bytes) { return ByteSizeText(bytes); }

std::string Seconds(std::int64_t us) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.1fs", double(us) / 1e6);
  return buffer;
}

} // namespace

int CmdRun(int argc, char **argv) {
  if (argc < 1 || std::strcmp(argv[0], "--help") == 0 || std::strcmp(argv[0], "-h") == 0) {
    PrintRunUsage(argc < 1 ? stderr : stdout);
    return argc < 1 ? 2 : 0;
  }
  TFFmpegLoader &loader = TFFmpegLoader::Instance();
  if (!loader.LoadLibraries(CONVERTER_LIBRARIES)) {
    std::fprintf(stderr, "tovi-convert: %s\n", loader.LastErrorText().c_str());
    return 1;
  }
  std::vector<std::string> words(argv, argv + argc);
  const std::string output = words.back();
  words.pop_back();
  if (output.empty() || (output[0] == '-' && output != "-")) {
    std::fprintf(stderr, "tovi-convert: the last word must be the output file\n");
    return 2;
  }

  TCustomFFmpeg engine;
  engine.Reset();
  bool join = false;
  int threads = 0;
  const bool verbose = std::find(words.begin(), words.end(), "--verbose") != words.end();
  // Log lines go to stderr as they come (on any thread); the job's final failure is
  // printed once at the end, so its llQuiet copy is left out.
  TFFLogger &logger = TFFLogger::Instance();
  logger.SetTriggerEventInMainThread(false);
  logger.SetLogLevel(verbose ? llVerbose : llWarning);
  const TLogLevel shown = verbose ? llVerbose : llWarning;
  logger.SetOnLog([shown](const void *, std::uint32_t, TLogLevel level, const std::string &text) {
    if (level == llQuiet || level > shown) return;
    std::string line = text;
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
      line.pop_back();
    if (!line.empty()) std::fprintf(stderr, "%s\n", line.c_str());
  });
  try {
    // --threads applies to every input, so it is read first.
    for (size_t i = 0; i < words.size(); ++i) {
      if (words[i] == "--threads") {
        if (i + 1 >= words.size()) {
          std::fprintf(stderr, "tovi-convert: --threads needs a number\n");
          return 2;
        }
        char *end = nullptr;
        const long value = std::strtol(words[i + 1].c_str(), &end, 10);
        if (*end != 0 || value < 0 || value > 1024) {
          std::fprintf(stderr, "tovi-convert: '%s' is not a valid thread count\n", words[i + 1].c_str());
          return 2;
        }
        threads = int(value);
      }
    }
    engine.SetThreadCount(threads);
    for (size_t i = 0; i < words.size(); ++i) {
      const std::string &word = words[i];
      if (word == "--verbose") {
      } else if (word == "--join") {
        join = true;
      } else if (word == "--threads") {
        ++i;
      } else if (word == "-i") {
        if (i + 1 >= words.size()) {
          std::fprintf(stderr, "tovi-convert: -i needs a file name\n");
          return 2;
        }
        const std::string &input = words[++i];
        if (!engine.AddInputFile(input)) {
          std::fprintf(stderr, "tovi-convert: %s\n", engine.LastErrorText().c_str());
          return 1;
        }
      } else if (word.size() > 1 && word[0] == '-') {
        const std::string name = word.substr(1);
        if (kFlagOptions.count(name)) {
          std::string value = "1";
          if (i + 1 < words.size() && (words[i + 1] == "0" || words[i + 1] == "1")) value = words[++i];
          engine.ParseOption(name, value);
        } else {
          if (i + 1 >= words.size()) {
            std::fprintf(stderr, "tovi-convert: option -%s needs a value\n", name.c_str());
            return 2;
          }
          engine.ParseOption(name, words[++i]);
        }
      } else if (const size_t eq = word.find('='); eq != std::string::npos && eq > 0) {
        engine.ParseOption(word.substr(0, eq), word.substr(eq + 1));
      } else {
        std::fprintf(stderr, "tovi-convert: unexpected word '%s'\n", word.c_str());
        return 2;
      }
    }
  } catch (const std::exception &error) {
    std::fprintf(stderr, "tovi-convert: %s\n", error.what());
    return 1;
  }
  if (engine.InputFileCount() == 0) {
    std::fprintf(stderr, "tovi-convert: At least one input file must be specified\n");
    return 2;
  }
  try {
    if (engine.AddOutputFile(output, join) < 0) {
      std::fprintf(stderr, "tovi-convert: %s\n", engine.LastErrorText().c_str());
      return 1;
    }
  } catch (const std::exception &error) {
    std::fprintf(stderr, "tovi-convert: %s\n", error.what());
    return 1;
  }

  const bool tty = isatty(fileno(stderr)) != 0;
  bool progressShown = false;
  // Runs on the job's thread; only this thread writes to stderr while the job runs.
  engine.SetOnProgress([&](TCustomFFmpeg &job, int inputIndex, int frame, int fps, float quality,
                           float bitRate, std::int64_t size, std::int64_t timeUs, std::int64_t totalUs) {
    std::string line;
    if (frame >= 0) line += "frame=" + std::to_string(frame) + " fps=" + std::to_string(fps) + " ";
    if (quality >= 0) {
      char q[16];
      std::snprintf(q, sizeof q, "q=%.1f ", double(quality));
      line += q;
    }
    char rest[128];
    std::snprintf(rest, sizeof rest, "size=%s time=%s bitrate=%.1fkbit/s", SizeText(size).c_str(),
                  Seconds(timeUs).c_str(), double(bitRate));
    line += rest;
    if (totalUs > 0) {
      const int percent = int(std::min<std::int64_t>(100, timeUs * 100 / totalUs));
      // The final report of a job that ran to its end is 100% whatever time it reached.
      const bool complete = inputIndex < 0 && !job.StopRequested();
      line += " " + std::to_string(complete ? 100 : percent) + "%";
    }
    if (tty)
      std::fprintf(stderr, "\r%s\033[K", line.c_str());
    else
      std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
    progressShown = true;
  });

  std::signal(SIGINT, OnInterrupt);
  std::signal(SIGTERM, OnInterrupt);
  TConvertThread *worker = engine.Start(true, TThreadPriority::Normal);
  if (worker) {
    worker->Resume();
    while (engine.Busy()) {
      if (interrupted.exchange(false)) engine.Stop(true);
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    engine.Stop(true); // waits for the thread to leave the job
  }
  std::signal(SIGINT, SIG_DFL);
  std::signal(SIGTERM, SIG_DFL);
  if (progressShown && tty) std::fprintf(stderr, "\n");

  if (engine.CompletedNormally()) {
    std::fprintf(stderr, "tovi-convert: wrote %s\n", output.c_str());
    return 0;
  }
  if (engine.ErrorOccurred())
    std::fprintf(stderr, "tovi-convert: %s\n", engine.ErrorMessage().c_str());
  else
    std::fprintf(stderr, "tovi-convert: conversion stopped before the end; %s is incomplete\n",
                 output.c_str());
  return 1;
}

} // namespace tovi::cli
