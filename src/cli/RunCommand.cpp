// tovi-convert run: one conversion task from a raw engine option list, run through the
// converter component. The options before each -i become that input's record options,
// the options after the last -i the output's; the component applies them in its own
// order (record fields and per-stream options as the task records define).
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "appcore/SizeTarget.h"
#include "cli/Commands.h"
#include "cli/ProgressFigure.h"
#include "cli/RunArguments.h"
#include "cli/StopSignals.h"
#include "converter/Converter.h"
#include "converter/FFmpegTask.h"
#include "media/FFmpegLogger.h"
#include "media/StringFormat.h"
#include "media/Texts.h"

namespace tovi::cli {
namespace {

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

// Every option line is checked by a scratch engine before the task is built: a name the
// engine does not know, or a value it refuses, is a mistake on the command line (the
// engine itself would drop the one and only log the other). Returns the message, or ""
// when every option passes.
std::string CheckOptionLines(const TRunArguments &args) {
  TFFmpeg scratch;
  scratch.Reset();
  std::vector<std::string> texts = args.InputOptions;
  texts.push_back(args.OutputOptions);
  for (const std::string &text : texts) {
    for (size_t start = 0; start < text.size();) {
      size_t end = text.find('\n', start);
      if (end == std::string::npos) end = text.size();
      const std::string line = text.substr(start, end - start);
      start = end + 1;
      const size_t eq = line.find('=');
      const std::string name = LowerName(line.substr(0, eq));
      const std::string value = eq == std::string::npos ? std::string() : line.substr(eq + 1);
      try {
        scratch.CheckOption(name, value);
      } catch (const std::exception &error) {
        return "option -" + name + ": " + error.what();
      }
    }
  }
  return {};
}

// The value of the last option line `name` in `lines` ("" when none).
std::string OptionValue(const std::string &lines, const std::string &name) {
  std::string value;
  for (size_t start = 0; start < lines.size();) {
    size_t end = lines.find('\n', start);
    if (end == std::string::npos) end = lines.size();
    const std::string line = lines.substr(start, end - start);
    start = end + 1;
    const size_t eq = line.find('=');
    if (LowerName(line.substr(0, eq)) == name) value = eq == std::string::npos ? "1" : line.substr(eq + 1);
  }
  return value;
}

// The audio bit rate the output options ask for ("ab", "128k" or bit/s), else the
// encoders' usual 128 kbit/s.
std::int64_t AudioBitRate(const std::string &lines) {
  const std::string text = OptionValue(lines, "ab");
  char *end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (text.empty() || !(value > 0)) return 128000;
  return static_cast<std::int64_t>(*end == 'k' || *end == 'K' ? value * 1000 : value);
}

} // namespace

int CmdRun(int argc, char **argv) {
  if (argc < 1) {
    std::fprintf(stderr, "tovi-convert: run needs at least -i INPUT and OUTPUT\n");
    PrintRunUsage(stderr);
    return 2;
  }
  TRunArguments args;
  const std::vector<std::string> words(argv, argv + argc);
  const bool json = std::find(words.begin(), words.end(), "--progress=json") != words.end();
  // With JSON progress a task that never starts says so on stdout as well.
  const auto refused = [json](int exitCode, const std::string &message) {
    std::fprintf(stderr, "tovi-convert: %s\n", message.c_str());
    if (json) {
      std::printf("{\"event\":\"refused\",\"task\":0,\"message\":%s}\n", JsonString(message).c_str());
      std::fflush(stdout);
    }
    return exitCode;
  };
  if (const int usage = ParseRunArguments(words, args, stderr)) {
    if (usage < 0) {
      PrintRunUsage(stdout);
      return 0;
    }
    if (json) return refused(usage, "usage error");
    return usage;
  }

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
  if (!converter.LoadLibraries(ec ? std::string() : (program.parent_path() / "LibAV").string()))
    return refused(1, converter.LastErrorText());
  if (const std::string mistake = CheckOptionLines(args); !mistake.empty()) return refused(2, mistake);
  // No user interface here: every event is handled on the thread that raises it.
  converter.SetTriggerEventInMainThread(false);
  converter.SetThreadCount(args.Threads);

  // One task: every input with its options, `outputOptions` into `outputFile`. "" or the
  // reason it cannot be built.
  const auto buildTask = [&](const std::string &outputOptions, const std::string &outputFile) -> std::string {
    try {
      TInputOptions input;
      InitInputOptions(input);
      input.ExtOptions = args.InputOptions[0];
      const int task = converter.AddTask(args.Inputs[0], &input);
      if (task < 0) return converter.LastErrorText();
      for (size_t i = 1; i < args.Inputs.size(); ++i) {
        InitInputOptions(input);
        input.ExtOptions = args.InputOptions[i];
        if (!converter.AddInputFile(task, args.Inputs[i], &input)) return converter.LastErrorText();
      }
      TOutputOptions output;
      InitOutputOptions(output);
      output.ExtOptions = outputOptions;
      output.Join = args.Join;
      if (!converter.SetOutputFile(task, outputFile, &output)) return converter.LastErrorText();
    } catch (const std::exception &error) {
      return error.what();
    }
    return {};
  };
  // A size target writes trial encodes and statistics into a folder beside the output.
  std::unique_ptr<TPassFolder> passes;
  if (args.TargetSize > 0) {
    passes = std::make_unique<TPassFolder>(std::filesystem::absolute(args.Output).string());
    if (passes->Path().empty())
      return refused(1, "cannot create a folder for the passes beside " + args.Output);
  }
  // The first encode: pass 1 of a size target (at a rate from the input's length; the
  // statistics matter, not its size), else the task itself.
  std::int64_t plannedRate = 0;
  std::int64_t audioRate = 0;
  if (args.TargetSize > 0) {
    TAVProbe &probe = converter.Probe();
    TFileStreamInfo info;
    const bool known = probe.LoadFile(args.Inputs[0]) && probe.GetFileStreamInfo(info) && info.Duration > 0;
    const bool hasAudio = known && probe.FirstAudioStreamIndex() >= 0;
    probe.CloseFile();
    if (!known) return refused(1, "--target-size: the length of " + args.Inputs[0] + " is unknown");
    audioRate =
        hasAudio && OptionValue(args.OutputOptions, "an").empty() ? AudioBitRate(args.OutputOptions) : 0;
    std::string why;
    const auto plan = PlanSizeTarget(args.TargetSize, double(info.Duration) / 1e6, audioRate, 25, &why);
    if (!plan) return refused(1, "--target-size: " + why);
    plannedRate = plan->VideoBitRate;
  }
  const auto passOptions = [&](int pass, std::int64_t rate) {
    return args.OutputOptions + "vb=" + std::to_string(rate) + "\n" + PassOptionLines(passes->Path(), pass) +
           "\n";
  };
  if (const std::string why =
          args.TargetSize > 0
              ? buildTask(passOptions(1, plannedRate),
                          passes->Path() + "/pass1" + std::filesystem::path(args.Output).extension().string())
              : buildTask(args.OutputOptions, args.Output);
      !why.empty())
    return refused(1, why);

  // Progress runs on the job's thread, notices on notice threads of their own: one lock
  // keeps their lines whole.
  std::mutex outputMutex; // protects stdout, stderr, figure, lastJson, progressShown and result
  const bool tty = isatty(fileno(stderr)) != 0;
  bool progressShown = false;
  TProgressFigure figure;
  std::string lastJson;
  TTerminateInfo result{0, false, true, "the task did not end"};
  std::int64_t reachedUs = 0; // output time of the last report
  std::atomic<bool> allEnded{false};

  // Runs on the job's thread.
  converter.SetOnProgress([&](TCustomConverter &, PProgressInfo p) {
    std::lock_guard lock(outputMutex);
    const auto now = TProgressFigure::TClock::now();
    reachedUs = std::max(reachedUs, p->CurrentDuration);
    // The final report of a job that was not stopped closes the file: 100 %.
    if (p->FileIndex < 0 && StopSignal() == 0)
      figure.Finish(now);
    else
      figure.Update(p->CurrentDuration, p->TotalDuration, now);
    if (args.JsonProgress) {
      const std::string line = StringFormat(
          "{\"event\":\"progress\",\"task\":%d,\"file\":%d,\"frame\":%d,\"fps\":%d,\"quality\":%s,"
          "\"bitrate\":%s,\"size\":%lld,\"time\":%lld,\"total\":%lld,\"percent\":%s,\"elapsed\":%s,"
          "\"left\":%s}",
          p->TaskIndex, p->FileIndex, p->FrameNumber, p->FPS, JsonNumber(p->Quality).c_str(),
          JsonNumber(p->BitRate).c_str(), static_cast<long long>(p->CurrentSize),
          static_cast<long long>(p->CurrentDuration), static_cast<long long>(p->TotalDuration),
          figure.Known() ? StringFormat("%.1f", figure.Percent()).c_str() : "null",
          JsonNumber(figure.ElapsedSeconds()).c_str(),
          figure.LeftSeconds() >= 0 ? JsonNumber(figure.LeftSeconds()).c_str() : "null");
      // The final report often repeats the last periodic one; a reader wants it once.
      if (line == lastJson) return;
      lastJson = line;
      std::printf("%s\n", line.c_str());
      std::fflush(stdout);
      return;
    }
    std::string line;
    if (p->FrameNumber >= 0) line += StringFormat("frame=%d fps=%d ", p->FrameNumber, p->FPS);
    if (p->Quality >= 0) line += StringFormat("q=%.1f ", double(p->Quality));
    line += StringFormat("size=%s time=%s bitrate=%.1fkbit/s ", ByteSizeText(p->CurrentSize).c_str(),
                         Seconds(p->CurrentDuration).c_str(), double(p->BitRate));
    line += figure.Text();
    std::fprintf(stderr, tty ? "\r%s\033[K" : "%s\n", line.c_str());
    std::fflush(stderr);
    progressShown = true;
  });
  // Runs on a notice thread of its own.
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

  if (args.JsonProgress) {
    std::string inputs;
    for (const std::string &name : args.Inputs)
      inputs += (inputs.empty() ? "" : ",") + JsonString(name);
    std::printf("{\"event\":\"start\",\"task\":0,\"inputs\":[%s],\"output\":%s}\n", inputs.c_str(),
                JsonString(args.Output).c_str());
    std::fflush(stdout);
  }
  CatchStopSignals();
  // Runs the task built last and clears it; true when it completed.
  const auto runTask = [&] {
    {
      std::lock_guard lock(outputMutex);
      figure = TProgressFigure();
      figure.Start(TProgressFigure::TClock::now());
      lastJson.clear();
      allEnded = false;
    }
    converter.StartTask(1);
    bool stopping = false;
    while (!allEnded) {
      if (StopSignal() != 0 && !stopping) {
        stopping = true;
        converter.Stop(true); // the trailer is written before this returns
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    converter.ClearTasks();
    std::lock_guard lock(outputMutex);
    return result.Finished && !result.Exception;
  };
  bool completed = runTask();
  std::string sizeNote;
  bool overTarget = false;
  if (args.TargetSize > 0 && completed) {
    // Pass 2 at the rate the measured length allows, then one correction when the
    // output misses [90 %, 100 %] of the target; the better result stays.
    std::string why;
    const auto plan = PlanSizeTarget(args.TargetSize, double(reachedUs) / 1e6, audioRate, 25, &why);
    if (!plan) return refused(1, "--target-size: " + why);
    std::int64_t rate = plan->VideoBitRate;
    int encodes = 1;
    if (const std::string error = buildTask(passOptions(2, rate), args.Output); !error.empty())
      return refused(1, error);
    completed = runTask();
    encodes += completed;
    std::int64_t size = FileBytes(args.Output);
    if (completed && !SizeInWindow(args.TargetSize, size)) {
      const std::string third =
          passes->Path() + "/pass3" + std::filesystem::path(args.Output).extension().string();
      rate = CorrectedVideoBitRate(*plan, rate, size);
      if (const std::string error = buildTask(passOptions(2, rate), third); !error.empty())
        return refused(1, error);
      if (runTask()) {
        ++encodes;
        const std::int64_t corrected = FileBytes(third);
        std::error_code renameError;
        if (KeepCorrectedOutput(args.TargetSize, size, corrected)) {
          std::filesystem::rename(third, args.Output, renameError);
          if (!renameError) size = corrected;
        }
      } else {
        // A stopped or failed correction leaves the second pass's output.
        std::lock_guard lock(outputMutex);
        result = TTerminateInfo{0, true, false, ""};
      }
    }
    if (completed) {
      overTarget = size > args.TargetSize;
      sizeNote = SizeOutcomeText(args.TargetSize, size, encodes);
      if (args.JsonProgress) {
        std::lock_guard lock(outputMutex);
        std::printf("{\"event\":\"size\",\"target\":%lld,\"size\":%lld,\"passes\":%d,\"over\":%s}\n",
                    static_cast<long long>(args.TargetSize), static_cast<long long>(size), encodes,
                    overTarget ? "true" : "false");
        std::fflush(stdout);
      }
    }
  }
  ReleaseStopSignals();
  passes.reset();

  std::lock_guard lock(outputMutex);
  if (progressShown && tty) std::fprintf(stderr, "\n");
  if (result.Finished && !result.Exception) {
    if (overTarget) {
      std::fprintf(stderr, "tovi-convert: %s is larger than the target: %s\n", args.Output.c_str(),
                   sizeNote.c_str());
      return 1;
    }
    std::fprintf(stderr, "tovi-convert: wrote %s%s\n", args.Output.c_str(),
                 sizeNote.empty() ? "" : (" (" + sizeNote + ")").c_str());
    return 0;
  }
  if (result.Exception) {
    std::fprintf(stderr, "tovi-convert: %s\n", result.ExceptionMsg.c_str());
    return 1;
  }
  if (StopSignal() != 0) {
    std::fprintf(stderr, "tovi-convert: stopped; %s holds the part converted so far\n", args.Output.c_str());
    return 128 + StopSignal();
  }
  std::fprintf(stderr, "tovi-convert: conversion stopped before the end; %s is incomplete\n",
               args.Output.c_str());
  return 1;
}

} // namespace tovi::cli
