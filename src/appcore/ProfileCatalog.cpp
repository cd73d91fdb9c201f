#include "appcore/ProfileCatalog.h"

#include <array>

#include "appcore/IniFile.h"
#include "appcore/Settings.h"

namespace tovi {
namespace {

using namespace std::string_view_literals;

constexpr std::array kIPod{
    "iPod Video MPEG-4 (*.mp4)"sv,
    "iPod Video H.264 (*.mp4)"sv,
    "iPod MPEG-4 Excellent (320 x 240)(*.mp4)"sv,
    "iPod MPEG-4 Normal (320 x 240)(*.mp4)"sv,
    "iPod MPEG-4 Mini (320 x 240)(*.mp4)"sv,
    "iPod Touch MPEG-4 Excellent (*.mp4)"sv,
    "iPod Touch MPEG-4 (480 x 320) (*.mp4)"sv,
    "iPod Touch MPEG-4 (320 x 240) (*.mp4)"sv,
    "iPod Touch MPEG-4 Wide Screen (*.mp4)"sv,
};
constexpr std::array kIPhone{
    "iPhone MPEG-4 Extra Video (*.mp4)"sv,    "iPhone MPEG-4 Wide Screen (*.mp4)"sv,
    "iPhone MPEG-4 Movie (*.mp4)"sv,          "iPhone Movie for 480p TV Out (*.mp4)"sv,
    "iPhone Movie for 576p TV Out (*.mp4)"sv,
};
constexpr std::array kAppleTV{
    "Apple TV (640 x 480) MPEG-4 Excellent (*.mp4)"sv, "Apple TV (640 x 480) MPEG-4 Normal (*.mp4)"sv,
    "Apple TV (640 x 480) MPEG-4 Mini (*.mp4)"sv,      "Apple H.264 (320 x 240) (*.mp4)"sv,
    "Apple H.264 480P (640 x 480) (*.mp4)"sv,          "Apple H.264 720p (1280 x 720) (*.mp4)"sv,
};
constexpr std::array kGPhone{"GPhone MPEG-4 Movie (*.mp4)"sv};
constexpr std::array kPSP{
    "PSP MPEG-4 Excellent Quality (*.mp4)"sv,
    "PSP MPEG-4 Normal Quality (*.mp4)"sv,
    "PSP MPEG-4 Mini Size (*.mp4)"sv,
    "PSP H.264/AVC Video (*.mp4)"sv,
    "PSP Video (480P) (*.mp4)"sv,
};
constexpr std::array kPS3{
    "PS3 MPEG-4 Video (480P) (*.mp4)"sv,
    "PS3 MPEG-4 Video (480P) Excellent (*.mp4)"sv,
    "PS3 MPEG-4 Video (720P) (*.mp4)"sv,
    "PS3 MPEG-4 Video (1080P) (*.mp4)"sv,
};
constexpr std::array kZune{
    "Microsoft Zune MPEG-4 Video (*.mp4)"sv,
    "Microsoft Zune MPEG-4 AVC Video (*.mp4)"sv,
    "Microsoft Zune Windows Media Video (*.wmv)"sv,
};
constexpr std::array kWalkman{
    "Sony Walkman MPEG-4 Video (*.mp4)"sv,
    "Sony Walkman AVC Video (*.mp4)"sv,
    "Sony Walkman WMV Video (*.wmv)"sv,
};
constexpr std::array kArchos{
    "Archos H.264 Video (*.mp4)"sv,     "Archos MPEG4 Video (*.mp4)"sv,
    "Archos 105 Video (*.wmv)"sv,       "Archos 404/405 Video (*.avi)"sv,
    "Archos 504/604 Video (*.avi)"sv,   "Archos 605/705/TV+ Video (*.avi)"sv,
    "Archos AV500/700 Video (*.avi)"sv,
};
constexpr std::array kZen{
    "Creative Zen H.264 Video (*.mp4)"sv,   "Creative Zen MPEG4 Video (*.mp4)"sv,
    "Creative Zen Xvid Video (*.avi)"sv,    "Creative Zen X-Fi Video (*.avi)"sv,
    "Creative Zen Vison Video (*.avi)"sv,   "Creative Zen Vison M Video (*.avi)"sv,
    "Creative Zen Vison W Video (*.avi)"sv,
};
constexpr std::array kIRiver{
    "iRiver H.264 Video (*.mp4)"sv,
    "iRiver MPEG4 Video (*.mp4)"sv,
    "iRiver WMV Video (*.wmv)"sv,
    "iRiver Xvid Video (*.avi)"sv,
    "iRiver E10 Video (*.avi)"sv,
    "iRiver U10/Clix Video (*.avi)"sv,
    "iRiver B20/X20/Clix 2/E100/Lplayer Video (*.avi)"sv,
    "iRiver Spinn/D28/DICPLE D30 Video (*.avi)"sv,
    "iRiver P10/P20 Video (*.avi)"sv,
    "iRiver PMP-120/140/IMP-1000/1100 Video (*.avi)"sv,
};
constexpr std::array kSansa{
    "Sandisk Sansa AVI Video (*.avi)"sv,
    "Sandisk Sansa WMV Video (*.wmv)"sv,
    "Sandisk Sansa MPEG-4 Video (*.mp4)"sv,
};
constexpr std::array kXbox{
    "Microsoft Xbox WMV Video (*.wmv)"sv,
    "Microsoft Xbox AVI Video (*.avi)"sv,
    "Microsoft Xbox MPEG-4 Video (*.mp4)"sv,
};
constexpr std::array kWii{"Nitendeo Wii AVI Video (*.avi)"sv, "Nitendeo Wii MOV Video (*.mov)"sv};
constexpr std::array kMobile{
    "Mobile Phone 3GP h263 Video(*.3gp)"sv,  "Mobile Phone 3GP MPEG-4 Video(*.3gp)"sv,
    "Mobile Phone 3GP2 h263 Video(*.3gp)"sv, "Mobile Phone 3GP2 MPEG-4 Video(*.3gp)"sv,
    "Mobile Phone MPEG-4 Video(*.mp4)"sv,    "Nokia N Series MPEG-4 Video(*.mp4)"sv,
};
constexpr std::array kBlackBerry{"BlackBerry MPEG-4 Video(*.mp4)"sv};
constexpr std::array kNokia{"Nokia N Series MPEG-4 Video (*.mp4)"sv};
constexpr std::array kWinMobile{
    "Dell Axim 51 Video (*.wmv)"sv,          "Dell Axim 51V Video (*.wmv)"sv,
    "HP iPAQ hw6500 Series Video (*.wmv)"sv, "HP iPAQ hx2000/rx3000/rx1900 Series Video (*.wmv)"sv,
    "HP iPAQ hx4700 Series Video (*.wmv)"sv, "Palm Treo Series Video (*.wmv)"sv,
    "HTC Touch Diamond Video (*.wmv)"sv,     "General Pocket PC Video (*.wmv)"sv,
};
constexpr std::array kMov{"MOV - Quick Time Video (*.mov)"sv};
constexpr std::array kFlash{"Flash Video Format (*.flv)"sv, "Flash SWF Format (*.swf)"sv};
constexpr std::array kGigabeat{"Toshiba Gigabeat WMV Movie (*.wmv)"sv};
constexpr std::array kHD{
    "HD AVI Video (*.avi)"sv,  "HD Divx Video (*.avi)"sv,     "HD H.264/MPEG-4 AVC Video (*.mp4)"sv,
    "HD MOV Video (*.mov)"sv,  "HD WMV Video (*.wmv)"sv,      "HD MPEG-4 Video (*.mp4)"sv,
    "HD Xvid Video (*.avi)"sv, "HD MPEG2-PS Video (*.mpg)"sv, "HD MPEG2-TS Video (*.ts)"sv,
};
constexpr std::array kMkv{"MKV - Matroska Video (*.mkv)"sv};
constexpr std::array kGeneralVideo{
    "MPEG-1 Video (*.mpg)"sv,
    "MPEG-2 Video (*.mpg)"sv,
    "MPEG-4 Video (*.mp4)"sv,
    "H.264/MPEG-4 AVC Video (*.mp4)"sv,
    "AVI Video (*.avi)"sv,
    "WMV Video (*.wmv)"sv,
    "Divx Video (*.avi)"sv,
    "Xvid Video (*.avi)"sv,
    "DV - NTSC -Digital Video Format (*.dv)"sv,
    "DV - PAL -Digital Video Format (*.dv)"sv,
};
constexpr std::array kGeneralAudio{
    "MP3 MPEG Layer-3 Audio (*.mp3)"sv, "AAC Advenced Audio Codec (*.aac)"sv,
    "M4A MPEG-4 Audio (*.m4a)"sv,       "WMA - Windows Meida Audio (*.wma)"sv,
    "WAV - Waveform Audio (*.wav)"sv,   "OGG Vorbis Audio Codec (*.ogg)"sv,
    "AC-3 Audio Codec (*.ac3)"sv,
};

// Categories 25 and later were added for today's devices and sites; docs/profiles.md
// says what each profile is for.
constexpr std::array kPhones{
    "Phone and Tablet H.264 1080p (*.mp4)"sv,
    "Phone and Tablet HEVC 1080p (*.mp4)"sv,
    "Phone and Tablet HEVC 2160p 4K (*.mp4)"sv,
    "Older Phones H.264 720p (*.mp4)"sv,
};
constexpr std::array kWeb{
    "Video Site Upload H.264 1080p (*.mp4)"sv,
    "Video Site Upload H.264 2160p 4K (*.mp4)"sv,
    "WebM VP9 + Opus (*.webm)"sv,
    "WebM AV1 + Opus (*.webm)"sv,
    "MP4 AV1 + Opus (*.mp4)"sv,
};
constexpr std::array kSizeLimited{
    "8 MB H.264 MP4 (*.mp4)"sv,
    "25 MB H.264 MP4 (*.mp4)"sv,
    "50 MB H.264 MP4 (*.mp4)"sv,
    "100 MB H.264 MP4 (*.mp4)"sv,
};
constexpr std::array kAudio{
    "Opus Audio (*.ogg)"sv,
    "ALAC Apple Lossless Audio (*.m4a)"sv,
    "FLAC 24-bit Lossless Audio (*.flac)"sv,
};

const std::array<TProfileCategory, 29> kCategories{{
    {"Apple iPod", kIPod},
    {"Apple iPhone", kIPhone},
    {"Apple TV", kAppleTV},
    {"GPhone", kGPhone},
    {"Sony PSP", kPSP},
    {"Sony PS3", kPS3},
    {"Microsoft Zune", kZune},
    {"Sony Walkman", kWalkman},
    {"Archos", kArchos},
    {"Creative Zen", kZen},
    {"iRiver", kIRiver},
    {"Sandisk Sansa", kSansa},
    {"Microsoft xbox 360", kXbox},
    {"Nitendeo WII", kWii},
    {"Mobile Phone", kMobile},
    {"BlackBerry", kBlackBerry},
    {"Nokia", kNokia},
    {"Windows Mobile", kWinMobile},
    {"Quick Time Video - MOV", kMov},
    {"Flash Video", kFlash},
    {"Toshiba Gigabeat", kGigabeat},
    {"HD Video", kHD},
    {"Matroska Video - MKV", kMkv},
    {"General Video formates", kGeneralVideo},
    {"General Audio formates", kGeneralAudio},
    {"Phones and Tablets", kPhones},
    {"Web and Sharing", kWeb},
    {"Size Limited", kSizeLimited},
    {"Audio", kAudio},
}};

} // namespace

std::span<const TProfileCategory> ProfileCategories() { return kCategories; }

int ProfileCount() {
  int n = 0;
  for (const auto &c : kCategories)
    n += static_cast<int>(c.Profiles.size());
  return n;
}

std::vector<int> AllProfileCodes() {
  std::vector<int> codes;
  for (std::size_t c = 0; c < kCategories.size(); ++c)
    for (std::size_t p = 0; p < kCategories[c].Profiles.size(); ++p)
      codes.push_back(static_cast<int>(c * 100 + p));
  return codes;
}

std::string_view ProfileName(int code) {
  if (code < 0) return {};
  const auto c = static_cast<std::size_t>(code / 100), p = static_cast<std::size_t>(code % 100);
  if (c >= kCategories.size() || p >= kCategories[c].Profiles.size()) return {};
  return kCategories[c].Profiles[p];
}

std::string ProfileSection(int code) { return "formatInfo" + std::to_string(code); }

std::optional<int> FindProfileByName(const std::string &name) {
  const std::string wanted = TrimBlanks(name);
  for (int code : AllProfileCodes())
    if (ProfileName(code) == wanted) return code;
  return std::nullopt;
}

std::optional<int> LookupProfile(const std::string &text) {
  std::int64_t code = 0;
  if (IsIntegerText(text, &code)) {
    if (code >= 0 && code < 100000 && !ProfileName(static_cast<int>(code)).empty())
      return static_cast<int>(code);
    return std::nullopt;
  }
  if (auto exact = FindProfileByName(text)) return exact;
  const std::string wanted = LowerCase(TrimBlanks(text));
  if (wanted.empty()) return std::nullopt;
  std::optional<int> found;
  for (int c : AllProfileCodes()) {
    if (LowerCase(std::string(ProfileName(c))).find(wanted) == std::string::npos) continue;
    if (found) return std::nullopt; // ambiguous
    found = c;
  }
  return found;
}

namespace {
void AppendProfiles(std::vector<TTreeRow> &rows, std::size_t at, int category) {
  const auto &profiles = kCategories[static_cast<std::size_t>(category)].Profiles;
  for (std::size_t p = 0; p < profiles.size(); ++p) {
    TTreeRow row;
    row.Text = std::string(profiles[p]);
    row.Info.IsProfile = true;
    row.Info.Code = category * 100 + static_cast<int>(p);
    rows.insert(rows.begin() + static_cast<std::ptrdiff_t>(at + p), std::move(row));
  }
}
} // namespace

std::vector<TTreeRow> BuildTreeRows(const TAppSettings &settings) {
  std::vector<TTreeRow> rows;
  for (std::size_t c = 0; c < kCategories.size(); ++c) {
    TTreeRow row;
    row.Text = std::string(kCategories[c].Name);
    row.Info.IsCategory = true;
    row.Info.Caption = row.Text;
    row.Info.Code = static_cast<int>(c);
    row.Info.Collapsed = settings.CategoryCollapsed(static_cast<int>(c));
    const bool expanded = !row.Info.Collapsed;
    rows.push_back(std::move(row));
    if (expanded) AppendProfiles(rows, rows.size(), static_cast<int>(c));
  }
  return rows;
}

void ToggleCategory(std::vector<TTreeRow> &rows, std::size_t row) {
  if (row >= rows.size() || !rows[row].Info.IsCategory) return;
  TItemInfo &info = rows[row].Info;
  if (info.Collapsed) {
    AppendProfiles(rows, row + 1, info.Code);
    rows[row].Info.Collapsed = false;
  } else {
    std::size_t end = row + 1;
    while (end < rows.size() && rows[end].Info.IsProfile)
      ++end;
    rows.erase(rows.begin() + static_cast<std::ptrdiff_t>(row + 1),
               rows.begin() + static_cast<std::ptrdiff_t>(end));
    rows[row].Info.Collapsed = true;
  }
}

void SaveTreeState(const std::vector<TTreeRow> &rows, TAppSettings &settings) {
  for (const auto &r : rows)
    if (r.Info.IsCategory) settings.SetCategoryCollapsed(r.Info.Code, r.Info.Collapsed);
}

} // namespace tovi
