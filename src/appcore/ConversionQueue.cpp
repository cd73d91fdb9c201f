#include "appcore/ConversionQueue.h"

#include "appcore/OutputNaming.h"
#include "appcore/ProfileCatalog.h"
#include "appcore/ProfileChoices.h"
#include "appcore/Settings.h"
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

TConversionQueue::TConversionQueue(TCustomConverter &converter, const TGlobalObject &global)
    : converter_(converter), global_(global) {}

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
  converter_.ClearTasks();
  converter_.SetPreview(true);
  // The hook handler (HandleCustomHook) also plans each frame: without adjustments only
  // the watermark boxes go through the 24-bit bitmap.
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
    if (!row.Checked) continue;
    const int rowIndex = static_cast<int>(r);
    TlvFilesRecord &rec = row.Record;
    const auto skip = [&](const std::string &why) { rowErrors_.emplace_back(rowIndex, why); };

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
    if (outDir_) {
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
    taskRows_.push_back(rowIndex);
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
  if (percent && info.TaskIndex >= 0 && info.TaskIndex < static_cast<int>(taskRows_.size()))
    rows[static_cast<std::size_t>(taskRows_[static_cast<std::size_t>(info.TaskIndex)])].Progress =
        std::to_string(*percent) + "%";
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
    renderer_.Render(*info.Bitmap, rec, info.PTS);
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
  if (!info.Finished) return row; // stopped or failed: the row keeps its last percentage
  rows[static_cast<std::size_t>(row)].Progress = "100%";
  if (info.TaskIndex + 1 == static_cast<int>(taskRows_.size()) && actions) {
    if (openFolder) {
      const std::string folder = OutputFolder();
      if (folder.size() > 2) actions->OpenOutputFolder(folder);
    }
    if (shutDown) actions->ShutDown();
  }
  return row;
}

} // namespace tovi
