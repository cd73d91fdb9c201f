// What the output settings dialog does, without its widgets: the controls' state loaded
// from the profile file and the user's section of the settings file, the key filters
// and the checks made when the user leaves a typed field, and confirming the choices.
//
// The lists and the label -> value tables are in ProfileChoices.h; the dialog and the
// first-use seeding share them.
#pragma once

#include <optional>
#include <string>

#include "appcore/IniFile.h"
#include "appcore/ProfileChoices.h"

namespace tovi {

class TAppSettings;

// The dialog's state for profile `code`: the nine lists from the profile file, each
// positioned from the user's section (default 0). A negative position in one of the
// five fields that take typed values (frame size, video bit rate, frame rate, sample
// rate, audio bit rate) stands for a typed value: Position -1 and Text the stored
// paraVideoSize ("320x240"), paraVideoBitRate ("800"), paraFrameRate ("25"),
// paraSampleRate ("44100") or paraAudioBitRate ("96"). A negative or out-of-range
// position of the other lists selects nothing. Zoom from paraZoom (default "full"):
// "full", "lbox", "pan"; any other value ("center") selects nothing ("").
//
// Without a user's section for the profile, the profile file's default positions (as
// Default shows them).
//
// Used both when the dialog shows and when another profile is chosen in it, so a
// typed value comes back in either case.
TProfileChoices LoadUserChoices(const TIniFile &settingsFile, const TIniFile &profileFile, int code);

// The video group is off (disabled and grey) when the profile offers no video encoder,
// the audio group when it offers no audio encoder.
inline bool VideoOptionsEnabled(const TProfileChoices &c) { return !c.VideoEncoder.Items.empty(); }
inline bool AudioOptionsEnabled(const TProfileChoices &c) { return !c.AudioEncoder.Items.empty(); }

// The four fields the user may type into.
enum class TTypedField { tfFrameSize, tfVideoBitRate, tfSampleRate, tfAudioBitRate };

// The key filter of a typed field, for one printable character about to be inserted
// into `current`. Frame size: digits, and one "x" while the text holds none. Bit rates
// and the sample rate: digits; the audio bit rate also one "." (its lists hold rates
// such as 12.2, which could not be typed otherwise). Editing keys (Backspace, arrows)
// never reach this test.
bool TypedKeyAccepted(TTypedField field, const std::string &current, char key);

// The message shown for a refused key of the bit rate and sample rate fields; empty for
// the frame size, whose refused keys only beep.
std::string RefusedKeyMessage(TTypedField field);

// The check made when the user leaves a typed field.
struct TFieldCheck {
  enum class TResult { Accepted, Invalid, Corrected };
  TResult Result = TResult::Accepted;
  std::string Title;   // of the message box; empty when nothing is shown
  std::string Message; // shown when not Accepted
  std::string Value;   // Corrected: the text the field takes
};

// Frame size: a text holding "as source" (any case) is accepted; otherwise it is split
// at its last "x" and both parts must be whole numbers ("Frame Size is not a valid
// value!", the field then selects its second item). Two even parts above 0 are accepted;
// otherwise each part is rounded down to an even number (0 becomes 2) and the field
// takes the corrected size with "Frame Size must be a multiple of 2." + line break +
// "The correct value:" + size (title "Input Error!").
// Numbers: the exact text "as source" or a whole number (the audio bit rate also a
// decimal number); else "Video BitRate is not a valid value!", "Audio SampleRate is not
// a valid value!" or "Audio BitRate is not a valid value!".
TFieldCheck CheckTypedField(TTypedField field, const std::string &text);

// The position OK stores for a list showing `text`: the selected item while the text
// is that item's; else the first item with that text (the user typed an item); else -1
// (a typed value, or nothing selected).
int ConfirmedPosition(const TChoice &choice);

// OK: writes the user's section of profile `code` (WriteProfileChoices, with `name` as
// its Description), then makes `code` the chosen profile (FormatName = `name`,
// FormatCode = `code`).
void ConfirmOutputSettings(TAppSettings &settings, const TIniFile &profileFile, int code,
                           const std::string &name, const TProfileChoices &choices);

} // namespace tovi
