// The general keys of the settings file (section "settings") with their read
// defaults, and the output-folder rules of the main window.
//
// Every accessor reads or writes the file at once (TIniFile keeps no copy), so the GUI
// and the command line always see each other's changes.
#pragma once

#include <cstdint>
#include <string>

#include "appcore/IniFile.h"

namespace tovi {

inline constexpr const char *SETTINGS_SECTION = "settings";

class TAppSettings {
public:
  explicit TAppSettings(const std::string &settingsFile) : ini_(settingsFile) {}

  TIniFile &Ini() { return ini_; }
  const TIniFile &Ini() const { return ini_; }

  // Output folder of conversions; default DefaultOutputDir().
  std::string OutPutDir() const;
  void SetOutPutDir(const std::string &dir);
  // Folder of snapshots; default DefaultOutputDir().
  std::string SnapOutPutDir() const;
  void SetSnapOutPutDir(const std::string &dir);

  // The chosen profile. FormatName defaults to the main window's default text, which
  // names no profile; FormatCode defaults to 1.
  std::string FormatName() const;
  int FormatCode() const;
  void SetFormat(const std::string &name, int code);

  // Preview volume 0..128: default 0; a stored value outside 0..128 reads as 64.
  int Volume() const;
  void SetVolume(int volume);
  bool Mute() const;
  void SetMute(bool mute);
  // Conversion thread priority: 0 idle, 1 normal, 2 lower, 3 lowest; default 1.
  int Priority() const;
  void SetPriority(int priority);
  bool SnapFullSize() const;
  bool SnapSmallSize() const;
  bool SnapBmp() const;
  bool SnapJpg() const;
  void SetSnapFullSize(bool on);
  void SetSnapSmallSize(bool on);
  void SetSnapBmp(bool on);
  void SetSnapJpg(bool on);
  // Snapshot JPEG quality 1..100, default 30.
  int JpgCmp() const;
  void SetJpgCmp(int quality);

  // Category expanded/collapsed state of the profile tree (section "lstformat"); an
  // absent key reads as collapsed.
  bool CategoryCollapsed(int category) const;
  void SetCategoryCollapsed(int category, bool collapsed);

private:
  TIniFile ini_;
};

// The main window's first-show rule for both folders: a stored folder that fails the
// writability test is replaced by DefaultOutputDir(), which is written back. Returns the
// output folder to show.
std::string CheckOutputFolders(TAppSettings &settings);

// The outcome of choosing an output folder with Browse.
struct TFolderChoice {
  enum class TResult { Unchanged, Invalid, Written, Substituted };
  TResult Result = TResult::Unchanged;
  std::string Message;     // the warning to show for Invalid and Substituted
  std::string WrittenPath; // the folder now stored as OutPutDir
};

// Browse's rule once the chooser returned `chosen`: empty or the current folder changes
// nothing; a path shorter than 4 characters is refused ("The path … is not a valid
// directory."); a writable folder is stored; an unwritable one is replaced by
// DefaultOutputDir() and the permission message returned.
TFolderChoice ChooseOutputFolder(TAppSettings &settings, const std::string &chosen,
                                 const std::string &current);
// The same rule for the snapshot folder (the preferences' Browse), stored as SnapOutPutDir.
TFolderChoice ChooseSnapshotFolder(TAppSettings &settings, const std::string &chosen,
                                   const std::string &current);

} // namespace tovi
