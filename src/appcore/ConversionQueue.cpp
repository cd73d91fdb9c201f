#include "appcore/ConversionQueue.h"

#include <cmath>
#include <cstdlib>
#include <filesystem>

#include "appcore/IniFile.h"
#include "appcore/OutputNaming.h"
#include "appcore/ProfileCatalog.h"
#include "appcore/ProfileChoices.h"
#include "appcore/Settings.h"
#include "appcore/SizeTarget.h"
#include "media/FFmpegLogger.h"

namespace tovi {

std::optional<TThreadPriority> PriorityFromSetting(int value) {
  switch (value) {
  case 0: return TThreadPriority::Idle;
  case 1: return TThreadPriority::Normal;
  case 2: return TThreadPriority::Lower;
  case 3: return TThreadPriority::Lowest;
  default: return std::nullopt;
  }
}

std::string MissingStreams(const std::string &format, const std::string &videoEncoder, bool sourceHasVideo,
                           bool sourceHasAudio) {
  std::string fmt;
  for (const char c : format)
    fmt += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  const bool audioProfile = videoEncoder.find_first_not_of(" \t") == std::string::npos;
  // PSP files hold exactly one video and one audio stream (the muxer refuses anything
  // else); DV and the DVD/VCD-style MPEG profiles are built around a picture of a
  // norm's size and rate; an audio profile makes an audio file.
  const bool needsAudio = audioProfile || fmt == "psp";
  const bool needsVideo =
      !audioProfile && (fmt == "psp" || fmt == "dv" || videoEncoder == "mpeg2video" ||
                        fmt.ends_with("-dvd") || fmt.ends_with("-vcd") || fmt.ends_with("-svcd"));
  if (needsVideo && needsAudio && (!sourceHasVideo || !sourceHasAudio))
    return std::string("this profile needs a video and an audio stream and the source has no ") +
           (!sourceHasVideo && !sourceHasAudio ? "video and no audio"
            : !sourceHasVideo                  ? "video"
                                               : "audio");
  if (needsVideo && !sourceHasVideo) return "this profile needs a video stream and the source has none";
  if (needsAudio && !sourceHasAudio)
    return "this profile makes an audio file and the source has no audio stream";
  return {};
}

namespace {

double FramesPerSecond(const std::string &rate, const TSourceFacts &facts) {
  double num = 0, den = 1;
  const auto slash = rate.find('/');
  if (IsNumberText(rate.substr(0, slash), &num) &&
      (slash == std::string::npos || IsNumberText(rate.substr(slash + 1), &den)) && num > 0 && den > 0)
    return num / den;
  if (facts.FrameRateNum > 0 && facts.FrameRateDen > 0)
    return double(facts.FrameRateNum) / facts.FrameRateDen;
  return 25.0;
}

} // namespace

// One row converted to a size target.
struct TConversionQueue::TSizeJob {
  int Row = -1;
  TSizePlan Plan;
  std::int64_t UsedRate = 0; // video bit rate of the last encode
  std::string Output;        // the row's output
  std::string Suffix;        // ".mp4"
  std::unique_ptr<TPassFolder> Folder;
  TInputOptions In;     // as before AddTask, for the corrective encode
  TOutputOptions Out;   // pass 2's record
  bool TwoPass = false; // a statistics pass comes first
  int Passes = 0;
  std::int64_t SecondPassBytes = -1;
  bool NeedsCorrection = false;
  bool Done = false;
};

TConversionQueue::TConversionQueue(TCustomConverter &converter, const TGlobalObject &global)
    : converter_(converter), global_(global) {}

TConversionQueue::~TConversionQueue() = default;

int TConversionQueue::TaskPass(int task) const {
  if (task < 0 || task >= static_cast<int>(taskPasses_.size())) return 0;
  return taskPasses_[static_cast<std::size_t>(task)].second;
}

bool TConversionQueue::CorrectionsPending() const {
  for (const auto &job : sizeJobs_)
    if (job->NeedsCorrection) return true;
  return false;
}

std::string TConversionQueue::AddSizeTargetTasks(int row, std::int64_t target, TInputOptions &in,
                                                 TOutputOptions &out, const TSourceFacts &facts,
                                                 std::int64_t durationUs) {
  if (out.DisableVideo || out.VideoCodec.empty() || facts.VideoStreamCount <= 0)
    return "a size target needs a video profile and a source with video";
  const std::int64_t audioRate = out.DisableAudio || facts.AudioSampleRate <= 0 ? 0
                                 : out.AudioBitrate > 0                         ? out.AudioBitrate
                                                                                : 128000;
  std::string why;
  const auto plan = PlanSizeTarget(target, double(durationUs) / 1e6, audioRate,
                                   FramesPerSecond(out.FrameRate, facts), &why);
  if (!plan) return why;
  auto job = std::make_unique<TSizeJob>();
  job->Row = row;
  job->Plan = *plan;
  job->Output = out.FileName;
  job->Suffix = std::filesystem::path(out.FileName).extension().string();
  job->Folder = std::make_unique<TPassFolder>(out.FileName);
  if (job->Folder->Path().empty()) return "cannot create a folder for the passes beside " + out.FileName;
  const std::string folder = job->Folder->Path();

  const auto rate = static_cast<std::int32_t>(std::min<std::int64_t>(plan->VideoBitRate, INT32_MAX));
  out.VideoBitrate = rate;
  // A peak limit below the average would hold the encoder under the target.
  if (out.VideoMaxRate > 0 && out.VideoMaxRate < rate) out.VideoMaxRate = rate;
  if (out.VideoBufSize > 0 && out.VideoBufSize < out.VideoMaxRate) out.VideoBufSize = out.VideoMaxRate;
  job->UsedRate = rate;
  const auto withPass = [&](TOutputOptions o, int pass, const std::string &file) {
    o.FileName = file;
    o.ExtOptions += (o.ExtOptions.empty() ? "" : "\r\n") + PassOptionLines(folder, pass);
    // The device presets stop libx264 at quantiser 51, which leaves a busy picture above
    // a small target; x264 goes on to 69 when it is allowed to.
    if (o.VideoCodec == "libx264") o.ExtOptions += "\r\nqmax=69";
    return o;
  };
  job->In = in;
  // libx264 gets two real passes. The other encoders go through libavcodec's own rate
  // control, whose second pass refuses a rate below what its highest quantiser makes
  // (and FFmpeg 5.1's MPEG-4 family then frees its state twice while closing): they are
  // encoded in one pass at the planned rate, and the correction is their second.
  const bool twoPass = out.VideoCodec == "libx264";
  job->TwoPass = twoPass;
  TOutputOptions first = withPass(out, 1, folder + "/pass1" + job->Suffix);
  job->Out = twoPass ? withPass(out, 2, out.FileName) : out;

  for (int pass = twoPass ? 1 : 2; pass <= 2; ++pass) {
    TInputOptions input = job->In;
    TOutputOptions output = pass == 1 ? first : job->Out;
    const int task = converter_.AddTask(input.FileName, &input);
    const bool added = task >= 0 && converter_.SetOutputFile(task, output.FileName, &output);
    if (!added) {
      const std::string error = converter_.LastErrorText();
      if (task >= 0) converter_.RemoveTask(task);
      if (pass == 2 && twoPass) { // pass 1 alone would be of no use
        converter_.RemoveTask(converter_.TaskCount() - 1);
        taskRows_.pop_back();
        taskPasses_.pop_back();
      }
      return error;
    }
    taskRows_.push_back(row);
    taskPasses_.emplace_back(static_cast<int>(sizeJobs_.size()), pass);
  }
  sizeJobs_.push_back(std::move(job));
  return {};
}

void TConversionQueue::FinishSizeJob(TSizeJob &job, std::int64_t actual, std::vector<TFileRow> &rows) {
  TSizeResult result;
  result.Row = job.Row;
  result.TargetBytes = job.Plan.TargetBytes;
  result.ActualBytes = actual;
  result.Passes = job.Passes;
  result.Over = actual > job.Plan.TargetBytes;
  result.Text = SizeOutcomeText(result.TargetBytes, actual, job.Passes);
  rows[static_cast<std::size_t>(job.Row)].Progress = result.Text;
  sizeResults_.push_back(result);
  job.Done = true;
  job.NeedsCorrection = false;
  job.Folder.reset();
}

void TConversionQueue::SizeTaskEnded(int task, const TTerminateInfo &info, std::vector<TFileRow> &rows) {
  const auto [index, pass] = taskPasses_[static_cast<std::size_t>(task)];
  TSizeJob &job = *sizeJobs_[static_cast<std::size_t>(index)];
  TFileRow &row = rows[static_cast<std::size_t>(job.Row)];
  if (job.Done) return;
  if (!info.Finished) {
    if (pass == 3 && job.SecondPassBytes >= 0) {
      // The correction failed or was stopped: the second pass's output stands.
      FinishSizeJob(job, job.SecondPassBytes, rows);
    } else {
      job.Done = true;
      job.Folder.reset();
    }
    return;
  }
  ++job.Passes; // encodes made, the statistics pass included
  if (pass == 1) {
    row.Progress = "pass 1 done";
    return;
  }
  if (pass == 2) {
    job.SecondPassBytes = FileBytes(job.Output);
    if (job.SecondPassBytes < 0 || SizeInWindow(job.Plan.TargetBytes, job.SecondPassBytes)) {
      FinishSizeJob(job, job.SecondPassBytes, rows);
      return;
    }
    job.NeedsCorrection = true;
    row.Progress = SizeText(job.SecondPassBytes) + " of " + SizeText(job.Plan.TargetBytes) + ", correcting";
    return;
  }
  // The corrective encode: the better of it and the second pass's output stays, a
  // result within the target before one above it.
  const std::string third = job.Folder->Path() + "/pass3" + job.Suffix;
  const std::int64_t bytes = FileBytes(third);
  std::int64_t kept = job.SecondPassBytes;
  if (KeepCorrectedOutput(job.Plan.TargetBytes, job.SecondPassBytes, bytes)) {
    std::error_code ec;
    std::filesystem::rename(third, job.Output, ec);
    if (!ec) kept = bytes;
  }
  FinishSizeJob(job, kept, rows);
}

bool TConversionQueue::StartCorrections(std::vector<TFileRow> &rows) {
  if (!CorrectionsPending()) return false;
  converter_.ClearTasks();
  taskRows_.clear();
  taskPasses_.clear();
  for (std::size_t i = 0; i < sizeJobs_.size(); ++i) {
    TSizeJob &job = *sizeJobs_[i];
    if (!job.NeedsCorrection) continue;
    job.NeedsCorrection = false;
    TInputOptions input = job.In;
    TOutputOptions output = job.Out;
    const std::int64_t rate = CorrectedVideoBitRate(job.Plan, job.UsedRate, job.SecondPassBytes);
    output.VideoBitrate = static_cast<std::int32_t>(std::min<std::int64_t>(rate, INT32_MAX));
    if (output.VideoMaxRate > 0 && output.VideoMaxRate < output.VideoBitrate)
      output.VideoMaxRate = output.VideoBitrate;
    if (output.VideoBufSize > 0 && output.VideoBufSize < output.VideoMaxRate)
      output.VideoBufSize = output.VideoMaxRate;
    output.FileName = job.Folder->Path() + "/pass3" + job.Suffix;
    const int task = converter_.AddTask(input.FileName, &input);
    const bool added = task >= 0 && converter_.SetOutputFile(task, output.FileName, &output);
    if (!added) {
      if (task >= 0) converter_.RemoveTask(task);
      rowErrors_.emplace_back(job.Row, "corrective encode: " + converter_.LastErrorText());
      FinishSizeJob(job, job.SecondPassBytes, rows);
      continue;
    }
    job.UsedRate = output.VideoBitrate;
    rows[static_cast<std::size_t>(job.Row)].Progress.clear();
    taskRows_.push_back(job.Row);
    taskPasses_.emplace_back(static_cast<int>(i), 3);
  }
  return !taskRows_.empty();
}

std::string TConversionQueue::OutputFolder() const {
  return outDir_ ? *outDir_ : TAppSettings(global_.SettingsFile()).OutPutDir();
}

bool TConversionQueue::StartConversion(std::vector<TFileRow> &rows, const TStartOptions &options) {
  TAppSettings settings(global_.SettingsFile());
  const TIniFile profile(global_.ProfileFile());
  rowErrors_.clear();
  outDir_ = options.OutDir;

  if (auto priority = PriorityFromSetting(settings.Priority())) converter_.SetThreadPriority(*priority);
  std::size_t checked = 0;
  for (const auto &row : rows)
    checked += row.Checked;
  if (checked == 0) {
    if (options.Warn) options.Warn("Warning", "Please select a file by clicking the check box!");
    return false;
  }
  taskRows_.clear();
  taskRows_.reserve(checked);
  taskPasses_.clear();
  sizeJobs_.clear();
  sizeResults_.clear();
  converter_.ClearTasks();
  converter_.SetPreview(true);
  // The hook handler (HandleCustomHook) also plans each frame: the adjustments go on the
  // YUV planes and only the watermark boxes go through the 24-bit bitmap.
  converter_.SetCustomHookPlanning(true);

  const int code = options.ProfileCode ? *options.ProfileCode : settings.FormatCode();
  // A user who never confirmed the settings dialog for this profile gets the profile's
  // defaults written first; without them the builder would drop the video.
  EnsureUserProfileSection(settings.Ini(), profile, code);
  const std::string section = ProfileSection(code);
  const std::string suffix = "." + profile.ReadString(section, "FileExt", "mp4");
  const TParameterBuilder builder(profile, settings.Ini(), options.AskDefaultSize);

  for (std::size_t r = 0; r < rows.size(); ++r) {
    TFileRow &row = rows[r];
    if (!row.Checked || (options.SkipDone && row.State == TRowState::Done)) continue;
    const int rowIndex = static_cast<int>(r);
    TlvFilesRecord &rec = row.Record;
    const auto skip = [&](const std::string &why) {
      rowErrors_.emplace_back(rowIndex, why);
      row.State = TRowState::Waiting;
    };

    // Pictures are read before the job starts: a missing one is a clear error here, not
    // a log line per frame and an output without its watermark.
    try {
      for (const TWmRec &mark : rec.Watermarks)
        if (mark.Kind == TWmRec::wkPicture && !mark.PictureFile.empty()) renderer_.Picture(mark.PictureFile);
    } catch (const TWatermarkError &e) {
      skip(e.what());
      continue;
    }

    TInputOptions in;
    InitInputOptions(in);
    in.FileName = row.Caption;
    // The probe must describe this very file: a stale probe of an earlier row would
    // name and size this row's output after the wrong source.
    TAVProbe &probe = converter_.Probe();
    if (!probe.LoadFile(row.Caption)) {
      skip(probe.LastErrorText().empty() ? "Cannot open " + row.Caption : probe.LastErrorText());
      continue;
    }
    if (rec.TrimStart >= 0) in.StartTime = rec.TrimStart;
    std::string output;
    if (!row.ReplaceOutput.empty()) {
      // What an interrupted run half wrote is converted again under its own name; a free
      // name would leave the broken file beside the good one.
      output = row.ReplaceOutput;
      if (const std::string folder = std::filesystem::path(output).parent_path().string();
          !folder.empty() && !ForceDirectories(folder)) {
        probe.CloseFile();
        skip("Cannot create output directory:" + folder);
        continue;
      }
    } else if (outDir_) {
      if (!ForceDirectories(*outDir_)) {
        probe.CloseFile();
        skip("Cannot create output directory:" + *outDir_);
        continue;
      }
      output = UnusedOutputName(*outDir_, probe.FileName(), suffix);
    } else {
      output = MakeOutputName(settings, probe.FileName(), suffix, options.Warn);
    }
    rec.ZoomMode = options.Zoom ? *options.Zoom : settings.Ini().ReadString(section, "paraZoom", "lbox");

    TOutputOptions out;
    InitOutputOptions(out);
    out.FileName = output;
    if (rec.AnyCropMargin()) {
      out.CropTop = rec.CropTop;
      out.CropBottom = rec.CropBottom;
      out.CropLeft = rec.CropLeft;
      out.CropRight = rec.CropRight;
    }
    if (rec.TrimLength > 0) out.Duration = rec.TrimLength;
    const TSourceFacts facts = SourceFactsFromProbe(probe);
    if (const std::string missing =
            MissingStreams(profile.ReadString(section, "Format", ""),
                           settings.Ini().ReadString(section, "paraVideoEncoder", ""),
                           facts.VideoStreamCount > 0, probe.FirstAudioStreamIndex() >= 0);
        !missing.empty()) {
      probe.CloseFile();
      skip(profile.ReadString(section, "Description", section) + ": " + missing);
      continue;
    }
    try {
      builder.BuildConversionParameters(rec, code, out, facts, in);
    } catch (...) {
      probe.CloseFile();
      throw;
    }
    // The size target: the start's, else the row's, else the profile's (the user's
    // section when it has the key, even empty, else the profile file's).
    std::optional<std::int64_t> target = options.TargetSize;
    if (!target) {
      const std::string text = !rec.TargetSize.empty() ? rec.TargetSize
                               : settings.Ini().ValueExists(section, "TargetSize")
                                   ? settings.Ini().ReadString(section, "TargetSize", "")
                                   : profile.ReadString(section, "TargetSize", "");
      std::string why;
      target = ParseSizeTarget(text, &why);
      if (!why.empty()) {
        probe.CloseFile();
        skip(why);
        continue;
      }
    }
    if (target) {
      TFileStreamInfo info;
      std::int64_t duration = probe.GetFileStreamInfo(info) ? info.Duration : -1;
      if (duration > 0) {
        const std::int64_t start = std::max<std::int64_t>(rec.TrimStart, 0);
        duration = std::max<std::int64_t>(duration - start, 0);
        if (rec.TrimLength > 0) duration = std::min(duration, rec.TrimLength);
      }
      out.CustomHook = rec.NeedsCustomHook();
      const std::string why = AddSizeTargetTasks(rowIndex, *target, in, out, facts, duration);
      probe.CloseFile();
      if (!why.empty()) {
        skip("size target " + SizeText(*target) + ": " + why);
        continue;
      }
      rec.DestinationFile = output;
      row.Progress.clear();
      continue;
    }
    const int task = converter_.AddTask(row.Caption, &in);
    if (task < 0) {
      probe.CloseFile();
      skip(converter_.LastErrorText());
      continue;
    }
    out.CustomHook = rec.NeedsCustomHook();
    if (!converter_.SetOutputFile(task, output, &out)) {
      const std::string why = converter_.LastErrorText();
      converter_.RemoveTask(task);
      probe.CloseFile();
      skip(why);
      continue;
    }
    probe.CloseFile();
    rec.DestinationFile = output;
    row.Progress.clear();
    row.State = TRowState::Queued;
    row.ReplaceOutput.clear();
    taskRows_.push_back(rowIndex);
    taskPasses_.emplace_back(-1, 0);
  }
  return true;
}

std::optional<int> TConversionQueue::ProgressPercent(const TProgressInfo &info) {
  if (info.TotalDuration <= 0) return std::nullopt;
  return static_cast<int>(info.CurrentDuration * 100 / info.TotalDuration);
}

std::optional<int> TConversionQueue::HandleProgress(const TProgressInfo &info,
                                                    std::vector<TFileRow> &rows) const {
  const auto percent = ProgressPercent(info);
  if (info.TaskIndex < 0 || info.TaskIndex >= static_cast<int>(taskRows_.size())) return percent;
  TFileRow &row = rows[static_cast<std::size_t>(taskRows_[static_cast<std::size_t>(info.TaskIndex)])];
  if (row.State == TRowState::Queued) row.State = TRowState::Converting;
  if (percent) {
    const auto [job, pass] = taskPasses_[static_cast<std::size_t>(info.TaskIndex)];
    const char *stage = pass == 1                                                        ? " pass 1"
                        : pass == 2 && sizeJobs_[static_cast<std::size_t>(job)]->TwoPass ? " pass 2"
                        : pass == 3                                                      ? " correction"
                                                                                         : "";
    row.Progress = std::to_string(*percent) + "%" + stage;
  }
  return percent;
}

void TConversionQueue::HandleCustomHook(THookInfo &info, const std::vector<TFileRow> &rows) {
  if (info.TaskIndex < 0 || info.TaskIndex >= static_cast<int>(taskRows_.size())) return;
  const TlvFilesRecord &rec =
      rows[static_cast<std::size_t>(taskRows_[static_cast<std::size_t>(info.TaskIndex)])].Record;
  if (!info.Bitmap) {
    if (info.Plan) renderer_.Plan(rec, info.PTS, info.Planes, *info.Plan);
    return;
  }
  try {
    renderer_.Render(*info.Bitmap, rec, info.PTS, info.Planned);
  } catch (const TWatermarkError &e) {
    // Unreachable in practice: every picture was loaded at the start and stays cached.
    // Should it happen, this frame stays as decoded and hooking ends for the task.
    TFFLogger::Instance().Log(this, llError, e.what());
    info.Update = false;
    info.StopHook = true;
  }
}

int TConversionQueue::HandleTerminate(const TTerminateInfo &info, std::vector<TFileRow> &rows,
                                      bool openFolder, bool shutDown, ICompletionActions *actions) {
  if (info.TaskIndex < 0 || info.TaskIndex >= static_cast<int>(taskRows_.size())) return -1;
  const int row = taskRows_[static_cast<std::size_t>(info.TaskIndex)];
  const auto [sizeJob, pass] = taskPasses_[static_cast<std::size_t>(info.TaskIndex)];
  if (pass > 0) SizeTaskEnded(info.TaskIndex, info, rows);
  // A sized row is done once its job is: after the second pass, or after the correction
  // (even a failed correction leaves the second pass's output standing).
  const bool sizedRowDone =
      pass > 0 && sizeJobs_[static_cast<std::size_t>(sizeJob)]->Done &&
      (info.Finished || sizeJobs_[static_cast<std::size_t>(sizeJob)]->SecondPassBytes >= 0);
  if (!info.Finished) {
    rows[static_cast<std::size_t>(row)].State = sizedRowDone ? TRowState::Done : TRowState::Failed;
    return row; // stopped or failed: the row keeps its last percentage
  }
  if (pass == 0) rows[static_cast<std::size_t>(row)].Progress = "100%";
  if (pass == 0 || sizedRowDone) rows[static_cast<std::size_t>(row)].State = TRowState::Done;
  // With corrections to come, the run is not over yet.
  if (info.TaskIndex + 1 == static_cast<int>(taskRows_.size()) && actions && !CorrectionsPending()) {
    if (openFolder) {
      const std::string folder = OutputFolder();
      if (folder.size() > 2) actions->OpenOutputFolder(folder);
    }
    if (shutDown) actions->ShutDown();
  }
  return row;
}

} // namespace tovi
