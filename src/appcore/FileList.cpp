#include "appcore/FileList.h"

#include <algorithm>
#include <filesystem>

#include "appcore/GlobalObject.h"
#include "appcore/IniFile.h"
#include "appcore/ProfileCatalog.h"
#include "appcore/Settings.h"

namespace tovi {

int AddFilesToList(std::vector<TFileRow> &rows, const std::vector<std::string> &paths,
                   TCustomConverter &converter, const TGlobalObject &global, const TWarningSink &warn) {
  converter.ClearTasks();
  TAppSettings settings(global.SettingsFile());
  const TIniFile profile(global.ProfileFile());
  const int code = settings.FormatCode();
  const std::string section = ProfileSection(code);
  const std::string suffix = "." + profile.ReadString(section, "FileExt", "mp4");
  const std::string zoom = settings.Ini().ReadString(section, "paraZoom", "lbox");

  int added = 0;
  for (std::size_t i = 0; i < paths.size(); ++i) {
    const std::string &path = paths[i];
    std::error_code ec;
    if (path.empty() || std::filesystem::is_directory(path, ec)) continue;
    if (std::any_of(rows.begin(), rows.end(), [&](const TFileRow &r) { return r.Caption == path; })) continue;
    const std::string destination = MakeOutputName(settings, path, suffix, warn);
    TInputOptions in;
    InitInputOptions(in);
    in.FileName = path;
    int task = -1;
    try {
      task = converter.AddTask(path, &in);
    } catch (const std::exception &) {
      task = -1; // a file the engine refuses is skipped like one it cannot open
    }
    if (task < 0) continue;
    TFileStreamInfo info;
    TAVProbe *probe = converter.InputProbe(task, 0);
    const bool known = probe && probe->GetFileStreamInfo(info) && info.Duration > 0;

    TFileRow row;
    row.Caption = path;
    row.Checked = true;
    row.Record.SelectionIndex = static_cast<std::int32_t>(i);
    row.Record.SourceFile = path;
    row.Record.DestinationFile = destination;
    row.Record.DurationSeconds = known ? static_cast<std::int32_t>(info.Duration / 1000000) : 0;
    row.Record.ZoomMode = zoom;
    rows.push_back(std::move(row));
    ++added;
    converter.RemoveTask(task);
    converter.ClearTasks();
  }
  return added;
}

int RowAfterRemove(int countBefore, int removed) {
  const int countAfter = countBefore - 1;
  if (countAfter <= 0) return -1;
  return removed < countAfter ? removed : countAfter - 1;
}

} // namespace tovi
