#include "appcore/OutputSettings.h"

#include <cctype>

#include "appcore/ProfileCatalog.h"
#include "appcore/Settings.h"

namespace tovi {
namespace {

constexpr const char *kAsSource = "as source";

// Positions `c` from the user's section. `typedKey` names the value key of a field that
// takes typed values (nullptr for a pick list), with the text shown for a typed value
// when the key is absent.
void Position(TChoice &c, const TIniFile &settings, const std::string &section, const char *positionKey,
              const char *typedKey = nullptr, const char *typedDefault = nullptr) {
  const auto pos = settings.ReadInteger(section, positionKey, 0);
  c.Position = -1;
  c.Text.clear();
  if (pos < 0) {
    if (typedKey) c.Text = settings.ReadString(section, typedKey, typedDefault);
    return;
  }
  if (pos < static_cast<std::int64_t>(c.Items.size())) {
    c.Position = static_cast<int>(pos);
    c.Text = c.Items[static_cast<std::size_t>(pos)];
  }
}

bool AllDigits(const std::string &text) {
  if (text.empty()) return false;
  for (const char ch : text)
    if (!std::isdigit(static_cast<unsigned char>(ch))) return false;
  return true;
}

TFieldCheck Invalid(const std::string &message) {
  TFieldCheck check;
  check.Result = TFieldCheck::TResult::Invalid;
  check.Title = "Warning";
  check.Message = message;
  return check;
}

TFieldCheck CheckFrameSize(const std::string &text) {
  if (LowerCase(text).find(kAsSource) != std::string::npos) return {};
  const auto x = text.rfind('x');
  const std::string w = x == std::string::npos ? std::string() : text.substr(0, x);
  const std::string h = x == std::string::npos ? std::string() : text.substr(x + 1);
  // Whole numbers without a sign: a size is never negative. Nine digits at most, so the
  // arithmetic below cannot overflow.
  if (!AllDigits(w) || !AllDigits(h) || w.size() > 9 || h.size() > 9)
    return Invalid("Frame Size is not a valid value!");
  const long width = std::stol(w), height = std::stol(h);
  if (width % 2 == 0 && height % 2 == 0 && width > 0 && height > 0) return {};
  const auto even = [](long v) { return v < 2 ? 2 : v - v % 2; };
  TFieldCheck check;
  check.Result = TFieldCheck::TResult::Corrected;
  check.Title = "Input Error!";
  check.Value = std::to_string(even(width)) + "x" + std::to_string(even(height));
  check.Message = "Frame Size must be a multiple of 2.\nThe correct value:" + check.Value;
  return check;
}

} // namespace

TProfileChoices LoadUserChoices(const TIniFile &settings, const TIniFile &profile, int code) {
  TProfileChoices c = DefaultChoices(profile, code);
  const std::string s = ProfileSection(code);
  // Never confirmed: the profile's own defaults, which the first conversion with it
  // would store too. Reading position 0 everywhere would offer, for instance, the
  // lowest volume of the list.
  if (!settings.SectionExists(s)) return c;
  Position(c.VideoSize, settings, s, "iVideoSize", "paraVideoSize", "320x240");
  Position(c.VideoEncoder, settings, s, "iVideoEncoder");
  Position(c.VideoBitRate, settings, s, "iVideoBitRate", "paraVideoBitRate", "800");
  Position(c.FrameRate, settings, s, "iFrameRate", "paraFrameRate", "25");
  Position(c.SampleRate, settings, s, "iSampleRate", "paraSampleRate", "44100");
  Position(c.AudioEncoder, settings, s, "iAudioEncoder");
  Position(c.Channel, settings, s, "iChannel");
  Position(c.AudioBitRate, settings, s, "iAudioBitRate", "paraAudioBitRate", "96");
  Position(c.Volume, settings, s, "iVolume");
  const std::string zoom = settings.ReadString(s, "paraZoom", "full");
  c.Zoom = zoom == "full" || zoom == "lbox" || zoom == "pan" ? zoom : std::string();
  // A section written before size targets existed has no key: the profile's stands.
  if (VideoOptionsEnabled(c) && settings.ValueExists(s, "TargetSize"))
    c.TargetSize = settings.ReadString(s, "TargetSize", "");
  return c;
}

bool TypedKeyAccepted(TTypedField field, const std::string &current, char key) {
  if (std::isdigit(static_cast<unsigned char>(key))) return true;
  switch (field) {
  case TTypedField::tfFrameSize: return key == 'x' && current.find('x') == std::string::npos;
  case TTypedField::tfAudioBitRate: return key == '.' && current.find('.') == std::string::npos;
  case TTypedField::tfVideoBitRate:
  case TTypedField::tfSampleRate: break;
  }
  return false;
}

std::string RefusedKeyMessage(TTypedField field) {
  return field == TTypedField::tfFrameSize ? std::string() : std::string("Please enter numerical.");
}

TFieldCheck CheckTypedField(TTypedField field, const std::string &text) {
  if (field == TTypedField::tfFrameSize) return CheckFrameSize(text);
  if (text == kAsSource || IsIntegerText(text)) return {};
  switch (field) {
  case TTypedField::tfVideoBitRate: return Invalid("Video BitRate is not a valid value!");
  case TTypedField::tfSampleRate: return Invalid("Audio SampleRate is not a valid value!");
  case TTypedField::tfAudioBitRate:
    if (IsNumberText(text)) return {};
    return Invalid("Audio BitRate is not a valid value!");
  case TTypedField::tfFrameSize: break;
  }
  return {};
}

int ConfirmedPosition(const TChoice &c) {
  const int count = static_cast<int>(c.Items.size());
  if (c.Position >= 0 && c.Position < count && c.Items[static_cast<std::size_t>(c.Position)] == c.Text)
    return c.Position;
  for (int i = 0; i < count; ++i)
    if (c.Items[static_cast<std::size_t>(i)] == c.Text && !c.Text.empty()) return i;
  return -1;
}

void ConfirmOutputSettings(TAppSettings &settings, const TIniFile &profile, int code, const std::string &name,
                           const TProfileChoices &choices) {
  TProfileChoices confirmed = choices;
  for (TChoice *c : {&confirmed.VideoSize, &confirmed.VideoEncoder, &confirmed.VideoBitRate,
                     &confirmed.FrameRate, &confirmed.SampleRate, &confirmed.AudioEncoder, &confirmed.Channel,
                     &confirmed.AudioBitRate, &confirmed.Volume})
    c->Position = ConfirmedPosition(*c);
  WriteProfileChoices(settings.Ini(), profile, code, name, confirmed);
  settings.SetFormat(name, code);
}

} // namespace tovi
