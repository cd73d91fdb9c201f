// The application's global object and the places of its files.
//
// TGlobalObject holds the two INI file paths, the application title, the version text
// and the two web addresses. One instance lives as long as the main window (or the
// command-line run); it is a plain value, handed to whoever needs the paths.
#pragma once

#include <string>

namespace tovi {

inline constexpr const char *SETTINGS_FILE_NAME = "tovivi4ziridavevudezu.ini";
inline constexpr const char *PROFILE_FILE_NAME = "tovimp4format.ini";

class TGlobalObject {
public:
  // Paths from ConfigDir() and FindProfileFile(); the texts at their start values.
  TGlobalObject();

  const std::string &SettingsFile() const { return settingsFile_; }
  const std::string &ProfileFile() const { return profileFile_; }
  const std::string &AppTitle() const { return appTitle_; }
  const std::string &VersionText() const { return versionText_; }
  const std::string &HelpPage() const { return helpPage_; }
  const std::string &WebSite() const { return webSite_; }

  // Each setter ignores a value that is too short: the two paths need more than 3
  // characters, the other texts at least 1.
  void SetSettingsFile(const std::string &v);
  void SetProfileFile(const std::string &v);
  void SetAppTitle(const std::string &v);
  void SetVersionText(const std::string &v);
  void SetHelpPage(const std::string &v);
  void SetWebSite(const std::string &v);

  // " " + major + "." + minor + release + build + " " (the last three written one
  // after another), as the main window shows it after the title.
  static std::string BuildVersionText(int major, int minor, int release, int build);

private:
  std::string settingsFile_;
  std::string profileFile_;
  std::string appTitle_ = "Tovi VI4 Zirid Avevudezu";
  std::string versionText_ = " ver 3.10 ";
  std::string helpPage_ = "https://www.tovi-video-converter.org/help.html";
  std::string webSite_ = "https://www.tovi-video-converter.org/";
};

// The text the application's error handler shows: a message whose last character sorts
// after "." gets a full stop ("Disk full" -> "Disk full."); one ending in "." or "!" (or
// any character before ".") is shown unchanged.
std::string ApplicationErrorText(const std::string &message);

// The folder shared by the application's settings, with a trailing '/':
// TOVI_CONFIG_DIR when set, else $XDG_CONFIG_HOME/tovi-video-converter/, else
// ~/.config/tovi-video-converter/. Created (with its parents) on first use. "" when no
// folder can be determined or created; the bare file names are then used.
std::string ConfigDir();

// The profile file to read: a copy in ConfigDir() wins; else the installed data folder's
// file; else the source tree's data folder (a build that was not installed). The
// config-folder path when none exists, so that readers fall back to their defaults.
std::string FindProfileFile();

// A file:// address of the program's README (the installed copy in the data folder, else
// the source tree's), which Help and Website open; "" when neither exists.
std::string ReadmeUrl();

// The folder where the program's shipped data lie (the profile file, skin pictures): the
// installed data folder when it holds the profile file, else the source tree's.
std::string DataDir();

// $HOME/videoconverter: the default output and snapshot folder, and the folder that
// replaces one the user cannot write to.
std::string DefaultOutputDir();

// The user's login name (for the permission message).
std::string LoginName();

// A folder is writable when a temporary file with the prefix "DA" can be created in it
// and deleted again. A folder that does not exist is not writable.
bool IsDirectoryWritable(const std::string &dir);

// Creates a folder and all its missing parents; true when it exists afterwards.
bool ForceDirectories(const std::string &dir);

} // namespace tovi
