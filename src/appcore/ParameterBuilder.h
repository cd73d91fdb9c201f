// The conversion parameter builder: turns the chosen profile (profile file), the user's
// per-profile settings (settings file) and the source's stream facts into the task
// records of one file.
//
// Zoom modes: "full" stretches to the target size (after the user's crop), "lbox"
// letterboxes (scale to fit, pad to the target size), "pan" cuts the sides (or top and
// bottom) to the target's shape and scales without distortion. "center" is accepted
// from settings files but was never offered by the settings dialog and had no coherent
// meaning of its own; it is treated as "lbox". Any other text leaves the source's frame
// size.
//
// The builder keeps no state between calls and opens both files for each read.
#pragma once

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>

#include "appcore/FileRecord.h"
#include "appcore/IniFile.h"
#include "converter/TaskOptions.h"

namespace tovi {

class TCustomAVProbe;

// What the builder needs to know about the source (-1 where unknown).
struct TSourceFacts {
  int VideoStreamCount = 0;
  int Width = -1, Height = -1;              // first video stream, pixels
  int FrameRateNum = -1, FrameRateDen = -1; // first video stream, frames per second
  int VideoBitRate = -1;                    // bit/s
  int AudioSampleRate = -1;                 // Hz, first audio stream
  int AudioBitRate = -1;                    // bit/s
};

// The facts of the file open in `probe`.
TSourceFacts SourceFactsFromProbe(TCustomAVProbe &probe);

// Asked when the user's frame size is neither a size nor "as source": "Error output
// Video Size.Use the default size 320x240?". True (Yes) gives 320x240, false (No) keeps
// the source's size. The GUI asks in a message box, the command line answers from a flag.
using TDefaultSizeQuestion = std::function<bool(const std::string &question)>;
inline constexpr const char *DEFAULT_SIZE_QUESTION = "Error output Video Size.Use the default size 320x240?";

// A profile-file value that must be a number and is not; it ends the whole start and is
// shown to the user.
class TConversionError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

class TParameterBuilder {
public:
  TParameterBuilder(const TIniFile &profileFile, const TIniFile &settingsFile,
                    TDefaultSizeQuestion askDefaultSize);

  // Fills `output` (holding on entry its FileName, the crop margins copied from the
  // item when any is above 0, and Duration) and `input` for one file: `item` gives the
  // zoom mode and the user's crop margins, `code` the profile. Throws TConversionError
  // for a fallback value in the profile file that is not a number.
  void BuildConversionParameters(const TlvFilesRecord &item, int code, TOutputOptions &output,
                                 const TSourceFacts &source, TInputOptions &input) const;

  // The range test of the profile's choice list for `kind` ("audiosamplerate",
  // "audiobitrate", "videobitrate", "framerate"): the first item (or the second when
  // the first is "as source") is the lower bound, the last the upper; bit rates are
  // compared in kbit/s (value / 1000).
  bool SourceValueInRange(int code, const std::string &kind, double value) const;

private:
  std::string Setting(int code, const char *key, const char *defaultValue) const;
  std::string Profile(int code, const char *key, const char *defaultValue) const;
  void AudioRates(int code, const TSourceFacts &source, TOutputOptions &output, bool guarded) const;
  void Volume(int code, TOutputOptions &output) const;

  const TIniFile &profile_;
  const TIniFile &settings_;
  TDefaultSizeQuestion askDefaultSize_;
};

// The frame arithmetic of the zoom modes, exposed for tests and for the preview of the
// settings dialog. W x H is the target, SW x SH the source; CT, CB, CL, CR the item's
// crop margins. Fills FrameSize, AspectRatio and the crop margins of `output` (which
// must already hold 0 instead of -1) and returns the filter text (empty when none).
std::string LetterboxFilter(int W, int H, int SW, int SH, const TlvFilesRecord &item, TOutputOptions &output);
std::string PanAndScan(int W, int H, int SW, int SH, const TlvFilesRecord &item, TOutputOptions &output);
// The encoder name to give the engine for a settings value: a name whose encoder this
// FFmpeg build marks experimental ("vorbis", written by the "OGG" label) becomes the
// build's regular encoder of the same format ("libvorbis"), since the engine refuses
// experimental encoders. Other names, and any name while the libraries are not loaded,
// are returned as they are.
std::string StableEncoderName(const std::string &name);

// H.263 takes only its standard picture sizes: a width above 176 snaps up to 352x288,
// above 352 to 704x576. Sizes named in the standard list are kept.
void SnapH263Size(const std::string &sizeText, int &W, int &H);

} // namespace tovi
