// tovi-convert convert: the GUI's conversion start from the command line. The files
// become file-list rows, the options fill their records, and the same queue, parameter
// builder and converter component as the main window's do the work; the settings file
// is the GUI's own (the chosen profile, the user's per-profile settings, the output
// folder). Flags that only concern this run (--profile, --out, --zoom) are not written
// back.
#include <unistd.h>

#include <chrono>
#include <climits>
#include <csignal>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <set>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "appcore/ConversionQueue.h"
#include "appcore/GlobalObject.h"
#include "appcore/IniFile.h"
#include "appcore/ProfileCatalog.h"
#include "appcore/SizeTarget.h"
#include "appcore/WatermarkRenderer.h"
#include "cli/Commands.h"
#include "cli/ProgressFigure.h"
#include "cli/StopSignals.h"
#include "converter/Converter.h"
#include "media/EntryPoints.h"
#include "media/FFmpegLogger.h"
#include "media/FileUtils.h"
#include "media/StringFormat.h"

namespace tovi::cli {
namespace {

constexpr const char *kUsage =
    "usage: tovi-convert convert FILE... [OPTION]... [--] [FILE]...\n"
    "  --profile NAME|CODE   output profile (see tovi-convert profiles); default: the GUI's choice\n"
    "  --out DIR             output folder; default: the GUI's output folder\n"
    "  --trim START[-END]    convert from START to END (seconds or [HH:]MM:SS[.frac])\n"
    "  --crop T,B,L,R        crop margins in source pixels (made even)\n"
    "  --zoom full|lbox|pan  how the picture fits the profile's frame size\n"
    "  --brightness N        0..512, 255 unchanged      --contrast N    -100..100, 0 unchanged\n"
    "  --saturation N        0..512, 255 unchanged      --exposure N    -255..512, 0 unchanged\n"
    "  --watermark-text TEXT@X,Y[,OPACITY,START,END]\n"
    "  --watermark-image FILE@X,Y[,OPACITY,START,END]\n"
    "                        stamp a text or a picture at X,Y (source pixels) with OPACITY 0..255\n"
    "                        (default 125) from second START to second END (default: whole file)\n"
    "  --jobs N              files converted at the same time (default 1)\n"
    "  --target-size SIZE    make each output at most SIZE (25M, 8.5M, 700K or bytes; M =\n"
    "                        1,048,576 bytes) in two passes, and a third when the second\n"
    "                        misses 90..100 %; default: the profile's size target, if any\n"
    "  --yes-320x240         answer Yes when the profile's frame size is invalid (use 320x240)\n"
    "  -h, --help            this text\n"
    "  --                    ends the options: every later word is a FILE\n"
    "Progress: one line per file, redrawn on a terminal; whole lines tagged with the file\n"
    "otherwise or with --jobs above 1. Warnings and errors of the conversion are shown.\n"
    "Ctrl-C or SIGTERM stops: a file being converted is removed (it would be incomplete),\n"
    "files already done stay.\n"
    "Exit status: 0 all files converted, 1 a file failed, 2 bad usage, 130 stopped by\n"
    "Ctrl-C (143 by SIGTERM).\n";

int Fail(const std::string &message) {
  std::fprintf(stderr, "tovi-convert: %s\n", message.c_str());
  return 2;
}

bool ParseInt(const std::string &text, int lo, int hi, int &out) {
  std::int64_t v = 0;
  if (!IsIntegerText(text, &v) || v < lo || v > hi) return false;
  out = static_cast<int>(v);
  return true;
}

// Seconds ("12.5") or a clock time ("1:02:03.5") to microseconds.
bool ParseTime(const std::string &text, std::int64_t &us) {
  return !text.empty() && ff::av_parse_time(&us, text.c_str(), 1) >= 0 && us >= 0;
}

// "TEXT@X,Y[,OPACITY,START,END]" (or FILE@...) into a watermark.
bool ParseWatermark(const std::string &arg, bool picture, TWmRec &mark) {
  const auto at = arg.rfind('@');
  if (at == std::string::npos || at == 0) return false;
  std::vector<std::string> parts;
  std::string rest = arg.substr(at + 1);
  for (;;) {
    const auto comma = rest.find(',');
    parts.push_back(rest.substr(0, comma));
    if (comma == std::string::npos) break;
    rest.erase(0, comma + 1);
  }
  if (parts.size() != 2 && parts.size() != 3 && parts.size() != 5) return false;
  int x = 0, y = 0, opacity = 125, start = 0, end = INT_MAX;
  if (!ParseInt(parts[0], -100000, 100000, x) || !ParseInt(parts[1], -100000, 100000, y)) return false;
  if (parts.size() >= 3 && !ParseInt(parts[2], 0, 255, opacity)) return false;
  if (parts.size() == 5 && (!ParseInt(parts[3], 0, INT_MAX, start) || !ParseInt(parts[4], 0, INT_MAX, end)))
    return false;
  mark.Start = start;
  mark.End = end;
  if (picture) {
    mark.Kind = TWmRec::wkPicture;
    mark.PictureFile = FullPathName(arg.substr(0, at));
    mark.PictureLeft = x;
    mark.PictureTop = y;
    mark.PictureOpacity = opacity;
  } else {
    mark.Kind = TWmRec::wkText;
    mark.Text = arg.substr(0, at);
    mark.TextLeft = x;
    mark.TextTop = y;
    mark.TextOpacity = opacity;
  }
  return true;
}

// The options that take a value, as the user types them.
const std::set<std::string> kValueOptions = {
    "--profile",    "--out",        "--trim",     "--crop", "--zoom",           "--brightness",
    "--contrast",   "--saturation", "--exposure", "--jobs", "--watermark-text", "--watermark-image",
    "--target-size"};

// The terminal: progress lines and log lines from several threads. A redrawn progress
// line is cleared before another line is written over it.
class TScreen {
public:
  explicit TScreen(bool redraw) : redraw_(redraw) {}
  // A whole line (no line break at the end).
  void Line(const std::string &text) {
    std::lock_guard lock(mutex_);
    std::fprintf(stderr, "%s%s\n", lineOpen_ ? "\r\033[K" : "", text.c_str());
    lineOpen_ = false;
    std::fflush(stderr);
  }
  // Leaves a redrawn progress line as it stands, the next line below it.
  void KeepProgress() {
    std::lock_guard lock(mutex_);
    if (lineOpen_) std::fprintf(stderr, "\n");
    lineOpen_ = false;
  }
  // A progress line: redrawn in place on a terminal, else a whole line.
  void Progress(const std::string &text) {
    if (!redraw_) return Line(text);
    std::lock_guard lock(mutex_);
    std::fprintf(stderr, "\r%s\033[K", text.c_str());
    lineOpen_ = true;
    std::fflush(stderr);
  }

private:
  std::mutex mutex_; // protects lineOpen_ and the order of what reaches stderr
  const bool redraw_;
  bool lineOpen_ = false;
};

struct TRun {
  std::mutex lock;                     // protects rows, the counters, figures and slotFree
  std::condition_variable endedSignal; // signalled by every notice
  bool allEnded = false;
  int ended = 0; // task notices handled
  int failed = 0;
  int stopped = 0;
  std::vector<TFileRow> rows;
  std::vector<cli::TProgressFigure> figures; // per task
  // When a job slot became free: the next task to report began then (tasks start in
  // order as earlier ones end).
  std::deque<cli::TProgressFigure::TClock::time_point> slotFree;
};

} // namespace

int CmdConvert(int argc, char **argv) {
  std::vector<std::string> files;
  TStartOptions options;
  TlvFilesRecord edits;
  std::string trim, crop;
  std::vector<std::pair<bool, std::string>> marks;
  int jobs = 1;
  bool yes320 = false;
  bool optionsEnded = false;
  for (int i = 0; i < argc; ++i) {
    const std::string a = argv[i];
    std::string v;
    if (optionsEnded || a.empty() || a[0] != '-' || a == "-" || (a[1] != '-' && a != "-h")) {
      files.push_back(a); // a file name, even one starting with a single "-"
      continue;
    }
    if (a == "--") {
      optionsEnded = true;
      continue;
    }
    if (a == "--help" || a == "-h") {
      std::printf("%s", kUsage);
      return 0;
    }
    if (a == "--yes-320x240") {
      yes320 = true;
      continue;
    }
    if (!kValueOptions.count(a)) return Fail("unknown option " + a + " (see tovi-convert convert --help)");
    if (i + 1 >= argc) return Fail(a + " needs a value");
    v = argv[++i];
    if (a == "--profile") {
      const auto code = LookupProfile(v);
      if (!code) return Fail("no single profile matches \"" + v + "\" (see tovi-convert profiles)");
      options.ProfileCode = *code;
    } else if (a == "--out") {
      options.OutDir = FullPathName(v);
    } else if (a == "--trim") {
      trim = v;
    } else if (a == "--crop") {
      crop = v;
    } else if (a == "--zoom") {
      if (v != "full" && v != "lbox" && v != "pan") return Fail("--zoom takes full, lbox or pan");
      options.Zoom = v;
    } else if (a == "--brightness" || a == "--saturation") {
      if (!ParseInt(v, 0, 512, a == "--brightness" ? edits.Brightness : edits.Saturation))
        return Fail(a + " takes 0..512");
    } else if (a == "--contrast") {
      if (!ParseInt(v, -100, 100, edits.Contrast)) return Fail("--contrast takes -100..100");
    } else if (a == "--exposure") {
      if (!ParseInt(v, -255, 512, edits.Exposure)) return Fail("--exposure takes -255..512");
    } else if (a == "--watermark-text" || a == "--watermark-image") {
      marks.emplace_back(a == "--watermark-image", v);
    } else if (a == "--jobs") {
      if (!ParseInt(v, 1, 64, jobs)) return Fail("--jobs takes 1..64");
    } else if (a == "--target-size") {
      std::string why;
      options.TargetSize = ParseSizeTarget(v, &why);
      if (!options.TargetSize) return Fail("--target-size: " + (why.empty() ? "no size given" : why));
    }
  }
  if (files.empty()) return Fail(std::string("no input file given\n") + kUsage);

  TFFConverter converter;
  try {
    if (!converter.LoadLibraries("")) return Fail(converter.LastErrorText());
  } catch (const std::exception &e) {
    return Fail(e.what());
  }
  if (!trim.empty()) {
    const auto dash = trim.find('-', 1);
    std::int64_t start = 0, end = 0;
    if (!ParseTime(trim.substr(0, dash), start)) return Fail("--trim START[-END]: bad start " + trim);
    edits.TrimStart = start;
    if (dash != std::string::npos) {
      if (!ParseTime(trim.substr(dash + 1), end) || end <= start)
        return Fail("--trim: END must follow START");
      edits.TrimLength = end - start;
    }
  }
  if (!crop.empty()) {
    int m[4];
    std::string rest = crop;
    for (int k = 0; k < 4; ++k) {
      const auto comma = rest.find(',');
      if ((k < 3) == (comma == std::string::npos) || !ParseInt(rest.substr(0, comma), 0, 100000, m[k]))
        return Fail("--crop takes T,B,L,R (four margins in pixels)");
      rest = comma == std::string::npos ? "" : rest.substr(comma + 1);
      m[k] -= m[k] % 2; // the crop dialog keeps margins even too
    }
    edits.CropTop = m[0];
    edits.CropBottom = m[1];
    edits.CropLeft = m[2];
    edits.CropRight = m[3];
  }
  if (!marks.empty()) EnsureGuiApplication();
  for (const auto &[picture, argument] : marks) {
    TWmRec mark;
    if (!ParseWatermark(argument, picture, mark))
      return Fail(std::string(picture ? "--watermark-image FILE" : "--watermark-text TEXT") +
                  "@X,Y[,OPACITY,START,END]: cannot read " + argument);
    if (!picture) MeasureText(mark.Text, mark.Font, mark.TextWidth, mark.TextHeight);
    edits.Watermarks.push_back(mark);
  }

  const TGlobalObject global;
  TRun run;
  for (const auto &f : files) {
    TFileRow row;
    row.Caption = FullPathName(f);
    row.Record = edits;
    row.Record.SourceFile = row.Caption;
    run.rows.push_back(std::move(row));
  }
  options.AskDefaultSize = [&](const std::string &question) {
    std::fprintf(stderr, "tovi-convert: %s %s\n", question.c_str(),
                 yes320 ? "Yes (--yes-320x240)" : "No: keeping the source size (--yes-320x240 answers Yes)");
    return yes320;
  };
  options.Warn = [](const std::string &title, const std::string &message) {
    std::fprintf(stderr, "tovi-convert: %s: %s\n", title.c_str(), message.c_str());
  };

  // Warnings and errors explain a failure (a muxer's reason, an encoder's refusal); they
  // are shown as they come. The failure itself is printed with its file, so its llQuiet
  // copy is left out.
  const bool tty = isatty(fileno(stderr)) != 0;
  TScreen screen(tty && jobs == 1);
  TFFLogger &logger = TFFLogger::Instance();
  logger.SetTriggerEventInMainThread(false);
  logger.SetLogLevel(llWarning);
  // The handler refers to the screen: it goes before the screen does.
  struct TLogHandlerReset {
    ~TLogHandlerReset() { TFFLogger::Instance().SetOnLog({}); }
  } logHandlerReset;
  // Runs on any thread that logs.
  logger.SetOnLog([&screen](const void *, std::uint32_t, TLogLevel level, const std::string &text) {
    if (level == llQuiet || level > llWarning) return;
    std::string line = text;
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
      line.pop_back();
    if (!line.empty()) screen.Line("tovi-convert: " + line);
  });

  TConversionQueue queue(converter, global);
  converter.SetThreadCount(jobs > 1 ? 1 : 0);
  converter.SetPreviewBitmap(false);
  try {
    if (!queue.StartConversion(run.rows, options)) return 1;
  } catch (const std::exception &e) {
    std::fprintf(stderr, "tovi-convert: %s\n", e.what());
    return 1;
  }
  for (const auto &[row, why] : queue.RowErrors())
    std::fprintf(stderr, "tovi-convert: %s: %s\n", run.rows[static_cast<std::size_t>(row)].Caption.c_str(),
                 why.c_str());
  const int skipped = static_cast<int>(queue.RowErrors().size());
  int tasks = converter.TaskCount();
  if (tasks == 0) return 1;
  converter.SetPreview(false); // no preview window on a terminal
  run.figures.resize(static_cast<std::size_t>(tasks));

  // "[2/3] clip.mp4" for task 1.
  const auto tag = [&](int task) {
    const auto &row = run.rows[static_cast<std::size_t>(queue.TaskRows()[static_cast<std::size_t>(task)])];
    return StringFormat("[%d/%d] ", task + 1, tasks) + std::filesystem::path(row.Caption).filename().string();
  };

  // Runs on the job's thread (the canvas locked by the engine).
  converter.SetOnCustomHook(
      [&](TCustomConverter &, PHookInfo info) { queue.HandleCustomHook(*info, run.rows); });
  // Runs on the job's thread.
  converter.SetOnProgress([&](TCustomConverter &, PProgressInfo info) {
    std::lock_guard lock(run.lock);
    if (info->TaskIndex < 0 || info->TaskIndex >= tasks) return;
    queue.HandleProgress(*info, run.rows);
    cli::TProgressFigure &figure = run.figures[static_cast<std::size_t>(info->TaskIndex)];
    const auto now = cli::TProgressFigure::TClock::now();
    if (!figure.Started() && !run.slotFree.empty()) {
      figure.Start(run.slotFree.front());
      run.slotFree.pop_front();
    }
    // The final report of a job that was not stopped closes the file.
    const bool changed = info->FileIndex < 0 && cli::StopSignal() == 0
                             ? figure.Finish(now)
                             : figure.Update(info->CurrentDuration, info->TotalDuration, now);
    if (changed || (tty && jobs == 1)) screen.Progress(tag(info->TaskIndex) + "  " + figure.Text());
  });
  // Runs on a notice thread of its own.
  converter.SetOnTerminate([&](TCustomConverter &, const TTerminateInfo &info) {
    std::lock_guard lock(run.lock);
    if (info.TaskIndex < 0) {
      run.allEnded = true;
      run.endedSignal.notify_all();
      return;
    }
    const int row = queue.HandleTerminate(info, run.rows, false, false, nullptr);
    const auto &r = run.rows[static_cast<std::size_t>(row)];
    const auto now = cli::TProgressFigure::TClock::now();
    cli::TProgressFigure &figure = run.figures[static_cast<std::size_t>(info.TaskIndex)];
    // A task that ended before its first report still took a slot.
    if (!figure.Started() && !run.slotFree.empty()) {
      figure.Start(run.slotFree.front());
      run.slotFree.pop_front();
    }
    run.slotFree.push_back(now);
    const int pass = queue.TaskPass(info.TaskIndex);
    if (info.Finished) {
      // A short file may end before its first report: its 100 % is shown all the same.
      if (figure.Finish(now)) screen.Progress(tag(info.TaskIndex) + "  " + figure.Text());
      screen.KeepProgress();
      // A size-target row tells each pass; its Progress holds the outcome once decided.
      if (pass == 0)
        screen.Line(tag(info.TaskIndex) + " -> " + r.Record.DestinationFile);
      else if (pass == 1)
        screen.Line(tag(info.TaskIndex) + " pass 1 done");
      else
        screen.Line(tag(info.TaskIndex) + " -> " + r.Record.DestinationFile + " (" + r.Progress + ")");
    } else if (info.Exception) {
      ++run.failed;
      screen.KeepProgress();
      screen.Line(tag(info.TaskIndex) + " failed: " + info.ExceptionMsg);
    } else {
      // Stopped: the part written so far carries the name of a finished conversion, so
      // it goes. A task that never started has no file.
      ++run.stopped;
      std::error_code ec;
      // A stopped corrective encode leaves the second pass's whole output in place.
      if (pass == 3) {
        screen.Line(tag(info.TaskIndex) + " stopped; the second pass's output stays");
        ++run.ended;
        run.endedSignal.notify_all();
        return;
      }
      const bool written = std::filesystem::file_size(r.Record.DestinationFile, ec) > 0 && !ec;
      const bool removed = std::filesystem::remove(r.Record.DestinationFile, ec) && written;
      screen.Line(tag(info.TaskIndex) + " stopped" +
                  (removed ? "; the incomplete " + r.Record.DestinationFile + " was removed" : ""));
    }
    ++run.ended;
    run.endedSignal.notify_all();
  });
  cli::CatchStopSignals();
  // Rounds: the conversion, then the corrective encodes of size-target outputs that
  // missed their window (none when there is no target).
  for (;;) {
    {
      std::lock_guard lock(run.lock);
      run.slotFree.assign(static_cast<std::size_t>(std::min(jobs, tasks)),
                          cli::TProgressFigure::TClock::now());
    }
    converter.StartTask(jobs);
    {
      std::unique_lock lock(run.lock);
      bool stopping = false;
      // Notices arrive on threads of their own; the all-ended one comes last. Leaving
      // before every handler is done would free the rows under them. A stop signal is
      // polled: the handler itself may do next to nothing.
      while (!(run.allEnded && run.ended == tasks)) {
        if (cli::StopSignal() != 0 && !stopping) {
          stopping = true;
          lock.unlock();
          converter.Stop(true); // every job ends, its notice follows
          lock.lock();
          continue;
        }
        run.endedSignal.wait_for(lock, std::chrono::milliseconds(20));
      }
    }
    converter.ClearTasks();
    if (cli::StopSignal() != 0 || !queue.StartCorrections(run.rows)) break;
    std::lock_guard lock(run.lock);
    tasks = converter.TaskCount();
    run.allEnded = false;
    run.ended = 0;
    run.figures.assign(static_cast<std::size_t>(tasks), cli::TProgressFigure());
    run.slotFree.clear();
    screen.Line("tovi-convert: correcting " + std::to_string(tasks) +
                " output(s) that missed the size target");
  }
  cli::ReleaseStopSignals();
  for (const auto &[row, why] : queue.RowErrors())
    if (why.starts_with("corrective encode"))
      std::fprintf(stderr, "tovi-convert: %s: %s\n", run.rows[static_cast<std::size_t>(row)].Caption.c_str(),
                   why.c_str());
  // The closing note: every size target's outcome. An output over its target fails the
  // run, so that it is never taken for one that met it.
  int over = 0;
  if (!queue.SizeResults().empty()) std::fprintf(stderr, "tovi-convert: size targets:\n");
  for (const TSizeResult &result : queue.SizeResults()) {
    over += result.Over;
    std::fprintf(stderr, "  %s: %s\n", run.rows[static_cast<std::size_t>(result.Row)].Caption.c_str(),
                 result.Text.c_str());
  }
  if (cli::StopSignal() != 0) {
    std::fprintf(stderr, "tovi-convert: stopped by %s\n", cli::StopSignal() == SIGINT ? "Ctrl-C" : "SIGTERM");
    return 128 + cli::StopSignal();
  }
  return run.failed + run.stopped + skipped + over == 0 ? 0 : 1;
}

} // namespace tovi::cli
