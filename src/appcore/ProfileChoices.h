// The user's per-profile choices: the choice lists of the profile file, the mapping of
// the lists' labels to engine values, and writing a profile's section of the settings
// file the way the output settings dialog's OK does.
//
// The settings dialog and the first-use seeding share this code, so a seeded section
// is exactly what Default followed by OK would have written.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "appcore/IniFile.h"

namespace tovi {

// A choice list split at every ","; a comma at the very end adds an empty item.
std::vector<std::string> SplitChoiceList(const std::string &text);

// Label -> value tables of the settings dialog. nullopt: the label is not in the table
// and nothing is written.
std::optional<std::string> VideoEncoderValue(const std::string &label); // "MPEG-4" -> "mpeg4"
std::optional<std::string> AudioEncoderValue(const std::string &label); // "AAC" -> "libfaac"
std::optional<std::string> ChannelValue(const std::string &label);      // "mono 1 channel" -> "1"
std::optional<std::string> VolumeValue(const std::string &label);       // "100%" -> "256"

// One choice control of the settings dialog.
struct TChoice {
  std::vector<std::string> Items; // empty when the control is disabled
  int Position = -1;              // selected item, -1 for none (or a typed value)
  std::string Text;               // the text shown: the selected item or the typed value
};

// The nine lists and the zoom of one profile.
struct TProfileChoices {
  TChoice VideoSize, VideoEncoder, VideoBitRate, FrameRate;
  TChoice SampleRate, AudioEncoder, Channel, AudioBitRate, Volume;
  std::string Zoom = "full"; // "full", "lbox", "pan", or "" when no entry is selected
  // Video profiles: the output size target as typed ("25M"), empty for none. Default:
  // the profile file's TargetSize key.
  std::string TargetSize;
};

// The lists of `code` from the profile file with the profile file's default positions
// selected and the zoom on "full": the dialog's state after its Default button.
TProfileChoices DefaultChoices(const TIniFile &profileFile, int code);

// Writes section "formatInfo" + code of the settings file as the dialog's OK does:
// Description, the nine positions, the value keys (through the label tables), the
// H.264 extras from the profile file when the encoder is "h264", "gsm"'s fixed rate and
// channel. Does not touch the section "settings".
void WriteProfileChoices(TIniFile &settingsFile, const TIniFile &profileFile, int code,
                         const std::string &description, const TProfileChoices &choices);

// A user who never confirmed the settings dialog for `code` has no section for it; a
// conversion would then read the builder's bare defaults (no video encoder: the video
// would silently be dropped). On first use the section is seeded from the profile
// file's default positions, as if the user had pressed Default and OK. Returns true when
// it seeded.
bool EnsureUserProfileSection(TIniFile &settingsFile, const TIniFile &profileFile, int code);

} // namespace tovi
