#include "appcore/Settings.h"

#include "appcore/GlobalObject.h"

namespace tovi {

std::string TAppSettings::OutPutDir() const {
  return ini_.ReadString(SETTINGS_SECTION, "OutPutDir", DefaultOutputDir());
}
void TAppSettings::SetOutPutDir(const std::string &dir) {
  ini_.WriteString(SETTINGS_SECTION, "OutPutDir", dir);
}
std::string TAppSettings::SnapOutPutDir() const {
  return ini_.ReadString(SETTINGS_SECTION, "SnapOutPutDir", DefaultOutputDir());
}
void TAppSettings::SetSnapOutPutDir(const std::string &dir) {
  ini_.WriteString(SETTINGS_SECTION, "SnapOutPutDir", dir);
}

std::string TAppSettings::FormatName() const {
  return ini_.ReadString(SETTINGS_SECTION, "FormatName", "Apple iPod Video MPEG-4 Movie (*.mp4)");
}
int TAppSettings::FormatCode() const {
  return static_cast<int>(ini_.ReadInteger(SETTINGS_SECTION, "FormatCode", 1));
}
void TAppSettings::SetFormat(const std::string &name, int code) {
  ini_.WriteString(SETTINGS_SECTION, "FormatName", name);
  ini_.WriteInteger(SETTINGS_SECTION, "FormatCode", code);
}

int TAppSettings::Volume() const {
  const auto v = ini_.ReadInteger(SETTINGS_SECTION, "volume", 0);
  return v < 0 || v > 128 ? 64 : static_cast<int>(v);
}
void TAppSettings::SetVolume(int volume) { ini_.WriteInteger(SETTINGS_SECTION, "volume", volume); }
bool TAppSettings::Mute() const { return ini_.ReadBool(SETTINGS_SECTION, "mute", false); }
void TAppSettings::SetMute(bool mute) { ini_.WriteBool(SETTINGS_SECTION, "mute", mute); }
int TAppSettings::Priority() const {
  return static_cast<int>(ini_.ReadInteger(SETTINGS_SECTION, "priority", 1));
}
void TAppSettings::SetPriority(int priority) { ini_.WriteInteger(SETTINGS_SECTION, "priority", priority); }
bool TAppSettings::SnapFullSize() const { return ini_.ReadBool(SETTINGS_SECTION, "snapFullSize", true); }
bool TAppSettings::SnapSmallSize() const { return ini_.ReadBool(SETTINGS_SECTION, "snapSmallSize", true); }
bool TAppSettings::SnapBmp() const { return ini_.ReadBool(SETTINGS_SECTION, "snapBmp", true); }
bool TAppSettings::SnapJpg() const { return ini_.ReadBool(SETTINGS_SECTION, "snapJpg", true); }
int TAppSettings::JpgCmp() const {
  return static_cast<int>(ini_.ReadInteger(SETTINGS_SECTION, "jpgCmp", 30));
}
void TAppSettings::SetSnapFullSize(bool on) { ini_.WriteBool(SETTINGS_SECTION, "snapFullSize", on); }
void TAppSettings::SetSnapSmallSize(bool on) { ini_.WriteBool(SETTINGS_SECTION, "snapSmallSize", on); }
void TAppSettings::SetSnapBmp(bool on) { ini_.WriteBool(SETTINGS_SECTION, "snapBmp", on); }
void TAppSettings::SetSnapJpg(bool on) { ini_.WriteBool(SETTINGS_SECTION, "snapJpg", on); }
void TAppSettings::SetJpgCmp(int quality) { ini_.WriteInteger(SETTINGS_SECTION, "jpgCmp", quality); }

bool TAppSettings::CategoryCollapsed(int category) const {
  return ini_.ReadBool("lstformat", std::to_string(category), true);
}
void TAppSettings::SetCategoryCollapsed(int category, bool collapsed) {
  ini_.WriteBool("lstformat", std::to_string(category), collapsed);
}

std::string CheckOutputFolders(TAppSettings &settings) {
  std::string out = settings.OutPutDir();
  if (!IsDirectoryWritable(out)) {
    out = DefaultOutputDir();
    settings.SetOutPutDir(out);
  }
  if (!IsDirectoryWritable(settings.SnapOutPutDir())) settings.SetSnapOutPutDir(DefaultOutputDir());
  return out;
}

namespace {

template <class Store>
TFolderChoice ChooseFolder(const std::string &chosen, const std::string &current, Store store) {
  TFolderChoice choice;
  if (chosen.empty() || chosen == current) return choice;
  if (chosen.size() < 4) {
    choice.Result = TFolderChoice::TResult::Invalid;
    choice.Message = "The path " + chosen + " is not a valid directory.";
    return choice;
  }
  if (IsDirectoryWritable(chosen)) {
    choice.Result = TFolderChoice::TResult::Written;
    choice.WrittenPath = chosen;
  } else {
    choice.Result = TFolderChoice::TResult::Substituted;
    choice.Message = "You login as " + TrimBlanks(LoginName()) +
                     " .You don't have permission to write to directory:" + chosen;
    choice.WrittenPath = DefaultOutputDir();
  }
  store(choice.WrittenPath);
  return choice;
}

} // namespace

TFolderChoice ChooseOutputFolder(TAppSettings &settings, const std::string &chosen,
                                 const std::string &current) {
  return ChooseFolder(chosen, current, [&](const std::string &dir) { settings.SetOutPutDir(dir); });
}

TFolderChoice ChooseSnapshotFolder(TAppSettings &settings, const std::string &chosen,
                                   const std::string &current) {
  return ChooseFolder(chosen, current, [&](const std::string &dir) { settings.SetSnapOutPutDir(dir); });
}

} // namespace tovi
