// Starting a conversion from the file list, and what the converter's events mean for
// the list: the task records of every checked row, the task-to-row map, the picture
// adjustments and watermarks stamped in the custom hook, progress percentages and the
// completion actions after the last task.
//
// The window-free half of the main window's conversion handling: the GUI and the
// command line both drive it. It does not own the rows; they must stay in place (and
// their records unchanged) from StartConversion until the all-ended notice, since the
// custom hook reads them on the worker thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "appcore/FileRecord.h"
#include "appcore/GlobalObject.h"
#include "appcore/OutputNaming.h"
#include "appcore/ParameterBuilder.h"
#include "appcore/WatermarkRenderer.h"
#include "converter/Converter.h"

namespace tovi {

// Where a row stands in the conversions: not in a run, given a task and an output name
// by a start, being converted, finished, or stopped/failed.
enum class TRowState { Waiting, Queued, Converting, Done, Failed };

// One row of the file list.
struct TFileRow {
  std::string Caption; // the source's full path
  bool Checked = true;
  TlvFilesRecord Record;
  std::string Progress; // the Progress column: "" or percent + "%"
  TRowState State = TRowState::Waiting;
  // The output of an interrupted run that the next start converts again under the same
  // name (replacing what was half written); "" to choose a free name as usual.
  std::string ReplaceOutput;
};

// The completion actions chosen in the progress window; the application implements
// them with the desktop's services (file browser, logind), tests with fakes.
class ICompletionActions {
public:
  virtual ~ICompletionActions() = default;
  virtual void OpenOutputFolder(const std::string &folder) = 0;
  virtual void ShutDown() = 0;
};

// Choices of one start beyond the settings file (the command line's flags).
struct TStartOptions {
  std::optional<int> ProfileCode;    // default: the settings' FormatCode
  std::optional<std::string> OutDir; // default: the settings' OutPutDir (MakeOutputName)
  std::optional<std::string> Zoom;   // default: the profile's paraZoom from the settings file
  // Bytes the outputs must not pass (--target-size). Default: the row's TargetSize, else
  // the profile's TargetSize (user's section, else the profile file); none when empty.
  std::optional<std::int64_t> TargetSize;
  TDefaultSizeQuestion AskDefaultSize;
  TWarningSink Warn; // warnings to show ("Warning" boxes)
  // Resuming a list restored after a crash: rows already Done are not converted again.
  bool SkipDone = false;
};

// The outcome of one row converted to a size target (the closing note lists them).
struct TSizeResult {
  int Row = -1;
  std::int64_t TargetBytes = 0;
  std::int64_t ActualBytes = 0;
  int Passes = 0;
  bool Over = false; // the output is larger than the target: not a success
  std::string Text;  // SizeOutcomeText, also the row's Progress
};

class TConversionQueue {
public:
  TConversionQueue(TCustomConverter &converter, const TGlobalObject &global);
  ~TConversionQueue();
  TConversionQueue(const TConversionQueue &) = delete;
  TConversionQueue &operator=(const TConversionQueue &) = delete;

  // Builds one task per checked row (steps in the order the main window takes them).
  // False, with the message given to options.Warn, when no row is checked; a row whose
  // file cannot be probed or whose task the converter refuses is skipped with a
  // message in RowErrors (and Waiting). A row given a task is Queued with its output
  // name in DestinationFile: its ReplaceOutput when set, else a free name. The caller
  // then starts the converter (one task at a time). Throws TConversionError for a broken profile file value.
  bool StartConversion(std::vector<TFileRow> &rows, const TStartOptions &options);

  // A row with a size target gets two tasks: pass 1 (statistics, its output in a
  // temporary folder) and pass 2 (the output). When pass 2 misses [90 %, 100 %] of the
  // target, the row needs a corrective encode: after the all-ended notice (tasks
  // cleared), the caller asks StartCorrections for the next round and, when it returns
  // true, starts the converter again. Rounds end with StartCorrections returning false.
  bool StartCorrections(std::vector<TFileRow> &rows);

  // 0 for an ordinary task; 1, 2 or 3 for the pass a size-target task runs.
  int TaskPass(int task) const;
  // The size-target outcomes of the last start, in the order they were decided.
  const std::vector<TSizeResult> &SizeResults() const { return sizeResults_; }

  // Task index -> row index, for the tasks of the last start (or correction round).
  const std::vector<int> &TaskRows() const { return taskRows_; }
  // Rows skipped by the last start, with the reason.
  const std::vector<std::pair<int, std::string>> &RowErrors() const { return rowErrors_; }

  // A progress report: the task's row gets percent + "%" (nothing while the total is
  // unknown or 0) and is Converting from its first report on. Returns the percentage.
  std::optional<int> HandleProgress(const TProgressInfo &info, std::vector<TFileRow> &rows) const;
  static std::optional<int> ProgressPercent(const TProgressInfo &info);

  // The custom hook (worker thread, canvas already locked by the engine): the row's
  // adjustments and watermarks. A picture that cannot be read stops the hook for the
  // task (logged by the converter) rather than throwing once per frame.
  void HandleCustomHook(THookInfo &info, const std::vector<TFileRow> &rows);

  // A termination notice: a finished task's row is Done, its Progress "100%"; a stopped or
  // failed one is Failed. After
  // the last task of the start has finished, the chosen completion actions run (open
  // folder first, then shut down). Returns the row index the notice concerned (-1 for
  // the all-ended notice).
  int HandleTerminate(const TTerminateInfo &info, std::vector<TFileRow> &rows, bool openFolder, bool shutDown,
                      ICompletionActions *actions);

  // The output folder the completion action opens.
  std::string OutputFolder() const;

private:
  struct TSizeJob;
  // Adds the two passes of a size-target row; "" or the reason it cannot.
  std::string AddSizeTargetTasks(int row, std::int64_t target, TInputOptions &in, TOutputOptions &out,
                                 const TSourceFacts &facts, std::int64_t durationUs);
  // A size-target task ended; the row's Progress tells what came of it.
  void SizeTaskEnded(int task, const TTerminateInfo &info, std::vector<TFileRow> &rows);
  void FinishSizeJob(TSizeJob &job, std::int64_t actual, std::vector<TFileRow> &rows);
  bool CorrectionsPending() const;

  TCustomConverter &converter_;
  const TGlobalObject &global_;
  std::vector<int> taskRows_;
  std::vector<std::pair<int, std::string>> rowErrors_;
  std::optional<std::string> outDir_;
  TWatermarkRenderer renderer_;
  // Per task of the current round: the size job (index into sizeJobs_, -1 for none)
  // and the pass it runs.
  std::vector<std::pair<int, int>> taskPasses_;
  std::vector<std::unique_ptr<TSizeJob>> sizeJobs_;
  std::vector<TSizeResult> sizeResults_;
};

// Why a profile cannot be made from a source: "" when it can. `format` is the profile's
// Format key, `videoEncoder` the user's paraVideoEncoder (empty for an audio profile).
// Decided by what the profile's container or device requires (a PSP file needs video and
// audio, DV and MPEG-2 video profiles need video, an audio profile needs audio); other
// video profiles take a source without video or without audio.
std::string MissingStreams(const std::string &format, const std::string &videoEncoder, bool sourceHasVideo,
                           bool sourceHasAudio);

// Priority setting of the settings file (0 idle, 1 normal, 2 lower, 3 lowest) as a
// thread priority; nullopt for other values (left unchanged).
std::optional<TThreadPriority> PriorityFromSetting(int value);

} // namespace tovi
