// tovi-convert run: one conversion task from a raw engine option list, run through the
// converter component. The options before each -i become that input's record options,
// the options after the last -i the output's; the component applies them in its own
// order (record fields and per-stream options as the task records define).
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "cli/Commands.h"
#include "converter/Converter.h"
#include "media/FFmpegLogger.h"
#include "media/StringFormat.h"
#include "media/Texts.h"

namespace tovi::cli {
namespace {

// Engine options that take no value on the command line. Each gets "1", unless the
// next word is "0" or "1", which is then taken as its value.
const std::set<std::string> kFlagOptions = {
    "an",    "benchmark",  "copyts",   "deinterlace", "dump",     "force_fps", "hex",    "intra",
    "isync", "loop_input", "newaudio", "newsubtitle", "newvideo", "psnr",      "qphist", "re",
    "sameq", "shortest",   "sn",       "vn",          "vstats",   "xerror",    "y"};

// The signal that asked us to stop (0 = none). Set by the handler, polled by the main
// thread, which then stops the task cleanly.
std::atomic<int> gStopSignal{0};
extern "C" void OnStopSignal(int signal) {
  gStopSignal = signal;
  // A second Ctrl-C ends the program at once.
  std::signal(signal, SIG_DFL);
}

void PrintRunUsage(std::FILE *out) {
  std::fprintf(out,
               "usage: tovi-convert run [OPTION]... -i INPUT [[OPTION]... -i INPUT]... [OPTION]... OUTPUT\n"
               "\n"
               "Runs one conversion task with the engine's own option list.\n"
               "  -name value | name=value   an engine option (e.g. -vcodec mpeg4, ab=128k); before\n"
               "                             -i it belongs to that input, after the last -i to OUTPUT\n"
               "  -name                      an option without a value (an, vn, sn, y, shortest,\n"
               "                             deinterlace, sameq, copyts, intra, isync, xerror, psnr,\n"
               "                             qphist, vstats, re, dump, hex, loop_input, force_fps,\n"
               "                             newvideo, newaudio, newsubtitle, benchmark): value \"1\",\n"
               "                             or the next word when it is \"0\" or \"1\"\n"
               "  -i INPUT                   an input file, with the options given since the last -i\n"
               "  --join                     joins every input, one after the other, into OUTPUT\n"
               "  --threads N                decoder and encoder threads (0 = all cores; default 0)\n"
               "  --progress=json            one JSON object per line on stdout for every progress\n"
               "                             report and every termination notice\n"
               "  --verbose                  also show the engine's and the libraries' notes\n"
               "                             (errors and warnings are always shown)\n"
               "The last word is the output file; it is overwritten when it exists.\n"
               "Ctrl-C stops the conversion cleanly (the output is finished up to that point).\n"
               "Exit status: 0 when the conversion completed, 1 when it failed or did not finish,\n"
               "2 for a usage error, 130 when stopped by Ctrl-C (143 by SIGTERM).\n");
}

std::string Seconds(std::int64_t us) { return StringFormat("%.1fs", double(us) / 1e6); }

std::string JsonString(const std::string &text) {
  std::string out = "\"";
  for (const char c : text) {
    switch (c) {
    case '"': out += "\\\""; break;
    case '\\': out += "\\\\"; break;
    case '\n': out += "\\n"; break;
    case '\r': out += "\\r"; break;
    case '\t': out += "\\t"; break;
    default:
      if (static_cast<unsigned char>(c) < 0x20)
        out += StringFormat("\\u%04x", unsigned(static_cast<unsigned char>(c)));
      else
        out += c;
    }
  }
  return out + "\"";
}

// A JSON number for a float (JSON has no NaN or infinity).
std::string JsonNumber(double value) {
  if (value != value || value > 1e300 || value < -1e300) return "null";
  return StringFormat("%.2f", value);
}

// The task as the command line describes it.
struct TRunArguments {
  std::vector<std::string> Inputs;
  std::vector<std::string> InputOptions; // name=value lines per input
  std::string OutputOptions;
  std::string Output;
  bool Join = false;
  int Threads = 0;
  bool JsonProgress = false;
  bool Verbose = false;
};

// Parses the words; returns 0 or the usage-error exit code (after a message).
int ParseRunArguments(std::vector<std::string> words, TRunArguments &args) {
  args.Output = words.back();
  words.pop_back();
  if (args.Output.empty() || (args.Output[0] == '-' && args.Output != "-")) {
    std::fprintf(stderr, "tovi-convert: the last word must be the output file\n");
    return 2;
  }
  std::string pending; // options since the last -i
  const auto addOption = [&](const std::string &name, const std::string &value) {
    if (name.find_first_of("\r\n") != std::string::npos || value.find_first_of("\r\n") != std::string::npos) {
      std::fprintf(stderr, "tovi-convert: option %s: line breaks are not allowed\n", name.c_str());
      return false;
    }
    pending.append(name).append("=").append(value).append("\n");
    return true;
  };
  for (size_t i = 0; i < words.size(); ++i) {
    const std::string &word = words[i];
    if (word == "--join") {
      args.Join = true;
    } else if (word == "--progress=json") {
      args.JsonProgress = true;
    } else if (word == "--verbose") {
      args.Verbose = true;
    } else if (word == "--threads") {
      char *end = nullptr;
      const long value = i + 1 < words.size() ? std::strtol(words[i + 1].c_str(), &end, 10) : -1;
      if (i + 1 >= words.size() || *end != 0 || words[i + 1].empty() || value < 0 || value > 1024) {
        std::fprintf(stderr, "tovi-convert: --threads needs a thread count (0 = all cores)\n");
        return 2;
      }
      args.Threads = int(value);
      ++i;
    } else if (word == "-i") {
      if (i + 1 >= words.size()) {
        std::fprintf(stderr, "tovi-convert: -i needs a file name\n");
        return 2;
      }
      args.Inputs.push_back(words[++i]);
      args.InputOptions.push_back(pending);
      pending.clear();
    } else if (word.starts_with("--")) {
      std::fprintf(stderr, "tovi-convert: unknown option '%s'\n", word.c_str());
      return 2;
    } else if (word.size() > 1 && word[0] == '-') {
      const std::string name = word.substr(1);
      std::string value = "1";
      if (kFlagOptions.count(name)) {
        if (i + 1 < words.size() && (words[i + 1] == "0" || words[i + 1] == "1")) value = words[++i];
      } else if (i + 1 < words.size()) {
        value = words[++i];
      } else {
        std::fprintf(stderr, "tovi-convert: option -%s needs a value\n", name.c_str());
        return 2;
      }
      if (!addOption(name, value)) return 2;
    } else if (const size_t eq = word.find('='); eq != std::string::npos && eq > 0) {
      if (!addOption(word.substr(0, eq), word.substr(eq + 1))) return 2;
    } else {
      std::fprintf(stderr, "tovi-convert: unexpected word '%s'\n", word.c_str());
      return 2;
    }
  }
  if (args.Inputs.empty()) {
    std::fprintf(stderr, "tovi-convert: At least one input file must be specified\n");
    return 2;
  }
  args.OutputOptions = pending;
  return 0;
}

} // namespace

int CmdRun(int argc, char **argv) {
  if (argc < 1 || std::strcmp(argv[0], "--help") == 0 || std::strcmp(argv[0], "-h") == 0) {
    PrintRunUsage(argc < 1 ? stderr : stdout);
    return argc < 1 ? 2 : 0;
  }
  TRunArguments args;
  if (const int usage = ParseRunArguments(std::vector<std::string>(argv, argv + argc), args)) return usage;

  // Log lines go to stderr as they come (on any thread); the task's final failure is
  // printed once at the end, so its llQuiet copy is left out.
  TFFLogger &logger = TFFLogger::Instance();
  logger.SetTriggerEventInMainThread(false);
  const TLogLevel shown = args.Verbose ? llVerbose : llWarning;
  logger.SetLogLevel(shown);
  logger.SetOnLog([shown](const void *, std::uint32_t, TLogLevel level, const std::string &text) {
    if (level == llQuiet || level > shown) return;
    std::string line = text;
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
      line.pop_back();
    if (!line.empty()) std::fprintf(stderr, "%s\n", line.c_str());
  });

  TFFConverter converter;
  // The "LibAV" folder beside the program is searched first, then the system's.
  std::error_code ec;
  const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (!converter.LoadLibraries(ec ? std::string() : (program.parent_path() / "LibAV").string())) {
    std::fprintf(stderr, "tovi-convert: %s\n", converter.LastErrorText().c_str());
    return 1;
  }
  // No user interface here: every event is handled on the thread that raises it.
  converter.SetTriggerEventInMainThread(false);
  converter.SetThreadCount(args.Threads);

  try {
    TInputOptions input;
    InitInputOptions(input);
    input.ExtOptions = args.InputOptions[0];
    const int task = converter.AddTask(args.Inputs[0], &input);
    if (task < 0) {
      std::fprintf(stderr, "tovi-convert: %s\n", converter.LastErrorText().c_str());
      return 1;
    }
    for (size_t i = 1; i < args.Inputs.size(); ++i) {
      InitInputOptions(input);
      input.ExtOptions = args.InputOptions[i];
      if (!converter.AddInputFile(task, args.Inputs[i], &input)) {
        std::fprintf(stderr, "tovi-convert: %s\n", converter.LastErrorText().c_str());
        return 1;
      }
    }
    TOutputOptions output;
    InitOutputOptions(output);
    output.ExtOptions = args.OutputOptions;
    output.Join = args.Join;
    if (!converter.SetOutputFile(task, args.Output, &output)) {
      std::fprintf(stderr, "tovi-convert: %s\n", converter.LastErrorText().c_str());
      return 1;
    }
  } catch (const std::exception &error) {
    std::fprintf(stderr, "tovi-convert: %s\n", error.what());
    return 1;
  }

  // Progress runs on the job's thread, notices on notice threads of their own: one lock
  // keeps their lines whole.
  std::mutex outputMutex; // protects stdout, stderr, progressShown and the task result
  const bool tty = isatty(fileno(stderr)) != 0;
  bool progressShown = false;
  TTerminateInfo result{0, false, true, "the task did not end"};
  std::atomic<bool> allEnded{false};

  converter.SetOnProgress([&](TCustomConverter &, PProgressInfo p) {
    std::lock_guard lock(outputMutex);
    if (args.JsonProgress) {
      std::printf("{\"event\":\"progress\",\"task\":%d,\"file\":%d,\"frame\":%d,\"fps\":%d,\"quality\":%s,"
                  "\"bitrate\":%s,\"size\":%lld,\"time\":%lld,\"total\":%lld}\n",
                  p->TaskIndex, p->FileIndex, p->FrameNumber, p->FPS, JsonNumber(p->Quality).c_str(),
                  JsonNumber(p->BitRate).c_str(), static_cast<long long>(p->CurrentSize),
                  static_cast<long long>(p->CurrentDuration), static_cast<long long>(p->TotalDuration));
      std::fflush(stdout);
      return;
    }
    std::string line;
    if (p->FrameNumber >= 0) line += StringFormat("frame=%d fps=%d ", p->FrameNumber, p->FPS);
    if (p->Quality >= 0) line += StringFormat("q=%.1f ", double(p->Quality));
    line += StringFormat("size=%s time=%s bitrate=%.1fkbit/s", ByteSizeText(p->CurrentSize).c_str(),
                         Seconds(p->CurrentDuration).c_str(), double(p->BitRate));
    if (p->TotalDuration > 0) {
      const std::int64_t percent = std::min<std::int64_t>(100, p->CurrentDuration * 100 / p->TotalDuration);
      line += StringFormat(" %d%%", p->FileIndex < 0 ? 100 : int(percent));
    }
    std::fprintf(stderr, tty ? "\r%s\033[K" : "%s\n", line.c_str());
    std::fflush(stderr);
    progressShown = true;
  });
  converter.SetOnTerminate([&](TCustomConverter &, const TTerminateInfo &info) {
    std::lock_guard lock(outputMutex);
    if (args.JsonProgress) {
      std::printf("{\"event\":\"terminate\",\"task\":%d,\"finished\":%s,\"error\":%s,\"message\":%s}\n",
                  info.TaskIndex, info.Finished ? "true" : "false", info.Exception ? "true" : "false",
                  JsonString(info.ExceptionMsg).c_str());
      std::fflush(stdout);
    }
    if (info.TaskIndex == -1)
      allEnded = true;
    else
      result = info;
  });

  gStopSignal = 0;
  std::signal(SIGINT, OnStopSignal);
  std::signal(SIGTERM, OnStopSignal);
  converter.StartTask(1);
  bool stopping = false;
  while (!allEnded) {
    if (gStopSignal != 0 && !stopping) {
      stopping = true;
      converter.Stop(true); // the trailer is written before this returns
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  std::signal(SIGINT, SIG_DFL);
  std::signal(SIGTERM, SIG_DFL);
  converter.ClearTasks();

  std::lock_guard lock(outputMutex);
  if (progressShown && tty) std::fprintf(stderr, "\n");
  if (result.Finished && !result.Exception) {
    std::fprintf(stderr, "tovi-convert: wrote %s\n", args.Output.c_str());
    return 0;
  }
  if (result.Exception) {
    std::fprintf(stderr, "tovi-convert: %s\n", result.ExceptionMsg.c_str());
    return 1;
  }
  if (gStopSignal != 0) {
    std::fprintf(stderr, "tovi-convert: stopped; %s holds the part converted so far\n", args.Output.c_str());
    return 128 + gStopSignal;
  }
  std::fprintf(stderr, "tovi-convert: conversion stopped before the end; %s is incomplete\n",
               args.Output.c_str());
  return 1;
}

} // namespace tovi::cli
