// Settings file: read defaults, round trips through the INI writer, the folder rules,
// the global object's paths and the first-use seeding of a profile's section.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "AppcoreTestSupport.h"
#include "appcore/GlobalObject.h"
#include "appcore/IniFile.h"
#include "appcore/ProfileCatalog.h"
#include "appcore/ProfileChoices.h"
#include "appcore/Settings.h"

using namespace tovi;
using tovi::test::ConfigFolder;

namespace {

std::string ReadAll(const std::string &file) {
  std::ifstream in(file);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

} // namespace

TEST(Settings, DefaultsWithoutAFile) {
  ConfigFolder cfg;
  TAppSettings s(cfg.SettingsFile());
  EXPECT_EQ(s.OutPutDir(), DefaultOutputDir());
  EXPECT_EQ(s.SnapOutPutDir(), DefaultOutputDir());
  EXPECT_EQ(s.FormatName(), "Apple iPod Video MPEG-4 Movie (*.mp4)");
  EXPECT_FALSE(FindProfileByName(s.FormatName())) << "the default name is not a catalogue row";
  EXPECT_EQ(s.FormatCode(), 1);
  EXPECT_EQ(s.Volume(), 0);
  EXPECT_FALSE(s.Mute());
  EXPECT_EQ(s.Priority(), 1);
  EXPECT_TRUE(s.SnapFullSize() && s.SnapSmallSize() && s.SnapBmp() && s.SnapJpg());
  EXPECT_EQ(s.JpgCmp(), 30);
  EXPECT_TRUE(s.CategoryCollapsed(0));
  EXPECT_TRUE(s.CategoryCollapsed(24));
  EXPECT_FALSE(std::filesystem::exists(cfg.SettingsFile())) << "reading never creates the file";
}

TEST(Settings, VolumeOutsideItsRangeReadsAs64) {
  ConfigFolder cfg;
  TAppSettings s(cfg.SettingsFile());
  for (const auto &[stored, read] : {std::pair{128, 128}, {0, 0}, {129, 64}, {-1, 64}}) {
    s.SetVolume(stored);
    EXPECT_EQ(s.Volume(), read) << stored;
  }
}

TEST(IniFile, RoundTripKeepsOtherSectionsAndMatchesNamesWithoutCase) {
  ConfigFolder cfg;
  const std::string file = cfg.File("x.ini");
  {
    std::ofstream out(file);
    out << "; a comment\n[Settings]\nOutPutDir = /data/out \nother=1\n\n[formatInfo1]\nparaZoom=pan\n";
  }
  TIniFile ini(file);
  EXPECT_EQ(ini.ReadString("settings", "outputdir", "?"), "/data/out");
  EXPECT_EQ(ini.ReadString("FORMATINFO1", "PARAZOOM", "?"), "pan");
  EXPECT_TRUE(ini.WriteString("settings", "OUTPUTDIR", "/new"));
  EXPECT_TRUE(ini.WriteInteger("formatinfo1", "iVolume", 3));
  EXPECT_TRUE(ini.WriteBool("lstformat", "7", false));
  EXPECT_EQ(ini.ReadString("Settings", "OutPutDir", "?"), "/new");
  EXPECT_EQ(ini.ReadInteger("formatInfo1", "ivolume", -1), 3);
  EXPECT_EQ(ini.ReadString("formatInfo1", "paraZoom", "?"), "pan");
  EXPECT_EQ(ini.ReadString("lstformat", "7", "?"), "0");
  EXPECT_EQ(ini.ReadInteger("Settings", "other", 0), 1);
  const std::string text = ReadAll(file);
  EXPECT_NE(text.find("; a comment"), std::string::npos);
  EXPECT_EQ(text.find("OutPutDir"), std::string::npos) << "the key line is replaced, not duplicated";
  EXPECT_EQ(ini.ReadSections(), (std::vector<std::string>{"Settings", "formatInfo1", "lstformat"}));
  // Not a number: the default.
  EXPECT_EQ(ini.ReadInteger("formatInfo1", "paraZoom", 42), 42);
}

// A folder name may hold line breaks; written plainly, the text after a break would come
// back as keys and sections of its own.
TEST(IniFile, ValuesWithLineBreaksCannotCreateKeysOrSections) {
  ConfigFolder cfg;
  const std::string file = cfg.File("x.ini");
  {
    std::ofstream out(file);
    // Written by an earlier version: backslashes stand for themselves.
    out << "[Settings]\nOutPutDir=C:\\new\\r\\n\\\\x\nmute=0\n";
  }
  TIniFile ini(file);
  EXPECT_EQ(ini.ReadString("Settings", "OutPutDir", "?"), "C:\\new\\r\\n\\\\x");

  const std::vector<std::string> values{
      "/home/u/a\n[x]\nkey=value",       // LF, a section header and a key line inside
      "/home/u/b\r\nmute=1\r[Other]\rz", // CR LF and lone CRs
      "C:\\new\\n\\r\n\\",               // backslashes next to "n" and "r", a break, a last backslash
      "plain\\path\\n",                  // no break: stored as it stands
  };
  for (const std::string &value : values) {
    ASSERT_TRUE(ini.WriteString("Settings", "OutPutDir", value));
    EXPECT_EQ(ini.ReadString("Settings", "OutPutDir", "?"), value);
    EXPECT_EQ(ini.ReadSections(), std::vector<std::string>{"Settings"}) << value;
    EXPECT_FALSE(ini.ValueExists("Settings", "key"));
    EXPECT_FALSE(ini.ReadBool("Settings", "mute", true));
    EXPECT_EQ(TIniFile(file).ReadString("settings", "outputdir", "?"), value) << "a fresh reader agrees";
  }
  EXPECT_NE(ReadAll(file).find("OutPutDir=plain\\path\\n\n"), std::string::npos)
      << "a value without a break is written exactly as before";
  // Blanks at the ends go, as for every value; inner ones stay.
  ASSERT_TRUE(ini.WriteString("Settings", "note", " \n a\n b \r\n"));
  EXPECT_EQ(ini.ReadString("Settings", "note", "?"), "a\n b");
  // Names that no line can hold are refused, and the file is left as it was.
  const std::string before = ReadAll(file);
  for (const auto &[section, key] : {std::pair<std::string, std::string>{"Settings\n[x", "k"},
                                     {"a]b", "k"},
                                     {"Settings", "k\nz"},
                                     {"Settings", "k=v"},
                                     {"Settings", "[k"},
                                     {"Settings", "k*"},
                                     {"Settings", ""}})
    EXPECT_FALSE(ini.WriteString(section, key, "v")) << section << "/" << key;
  EXPECT_EQ(ReadAll(file), before);
}

// A section header reads back without the blanks around its name, so a name written
// with blanks must match it, or every write would add one more header.
TEST(IniFile, SectionNamesMatchWithoutTheBlanksAroundThem) {
  ConfigFolder cfg;
  const std::string file = cfg.File("x.ini");
  TIniFile ini(file);
  ASSERT_TRUE(ini.WriteString(" Settings\t", "k", "v"));
  EXPECT_EQ(ini.ReadString(" Settings\t", "k", "?"), "v");
  EXPECT_EQ(ini.ReadString("settings", "k", "?"), "v");
  EXPECT_TRUE(ini.SectionExists(" SETTINGS "));
  EXPECT_TRUE(ini.ValueExists(" settings", "K"));
  ASSERT_TRUE(ini.WriteString(" Settings\t", "k", "w"));
  ASSERT_TRUE(ini.WriteString("settings ", "other", "1"));
  EXPECT_EQ(ini.ReadSections(), std::vector<std::string>{"Settings"});
  EXPECT_EQ(ini.ReadString("Settings", "k", "?"), "w");
  EXPECT_EQ(ini.ReadInteger(" settings ", "other", 0), 1);
  EXPECT_TRUE(ini.EraseSection(" settings"));
  EXPECT_TRUE(ini.ReadSections().empty());
}

// Editors put a byte order mark before the first line, and a tool that prepends one to a
// file that has one leaves two. The file must read the same before and after a write.
TEST(IniFile, ByteOrderMarksBeforeTheFirstSectionReadTheSameAfterAWrite) {
  ConfigFolder cfg;
  const std::string file = cfg.File("x.ini");
  std::ofstream(file, std::ios::binary) << "\xEF\xBB\xBF\xEF\xBB\xBF[General]\nkey=1\n";
  TIniFile ini(file);
  EXPECT_EQ(ini.ReadSections(), std::vector<std::string>{"General"});
  EXPECT_EQ(ini.ReadInteger("General", "key", 0), 1);
  ASSERT_TRUE(ini.WriteString("Other", "k", "v"));
  EXPECT_EQ(ini.ReadSections(), (std::vector<std::string>{"General", "Other"}));
  EXPECT_EQ(ini.ReadInteger("General", "key", 0), 1);
}

TEST(IniFile, UnwritableFolderFailsTheWrite) {
  TIniFile ini("/nonexistent-folder-tovi/x.ini");
  EXPECT_FALSE(ini.WriteString("a", "b", "c"));
  EXPECT_EQ(ini.ReadString("a", "b", "dflt"), "dflt");
}

TEST(GlobalObject, PathsFromTheConfigFolderAndShortValuesIgnored) {
  ConfigFolder cfg;
  TGlobalObject g;
  EXPECT_EQ(g.SettingsFile(), cfg.SettingsFile());
  EXPECT_EQ(g.ProfileFile(), tovi::test::ShippedProfileFile()) << "no copy in the config folder";
  {
    std::ofstream copy(cfg.File(PROFILE_FILE_NAME));
    copy << "[formatInfo0]\nFileExt=m4v\n";
  }
  EXPECT_EQ(TGlobalObject().ProfileFile(), cfg.File(PROFILE_FILE_NAME)) << "a user's copy wins";
  g.SetSettingsFile("a.i");
  g.SetAppTitle("");
  EXPECT_EQ(g.SettingsFile(), cfg.SettingsFile());
  EXPECT_EQ(g.AppTitle(), "Tovi VI4 Zirid Avevudezu");
  g.SetSettingsFile("/a.ini");
  EXPECT_EQ(g.SettingsFile(), "/a.ini");
  EXPECT_EQ(g.VersionText(), " ver 3.10 ");
  EXPECT_EQ(TGlobalObject::BuildVersionText(3, 1, 0, 7), " 3.107 ");
  EXPECT_EQ(ApplicationErrorText("Disk full"), "Disk full.");
  EXPECT_EQ(ApplicationErrorText("Disk full."), "Disk full.");
  EXPECT_EQ(ApplicationErrorText("Disk full!"), "Disk full!");
  EXPECT_EQ(ApplicationErrorText(""), "");
  // Help and Website open a README that exists, not an address nobody serves.
  const std::string prefix = "file://";
  ASSERT_EQ(g.HelpPage().rfind(prefix, 0), 0u) << g.HelpPage();
  EXPECT_TRUE(std::filesystem::is_regular_file(g.HelpPage().substr(prefix.size()))) << g.HelpPage();
  EXPECT_EQ(g.WebSite(), g.HelpPage());
}

TEST(OutputFolders, UnwritableFoldersAreReplacedAndWrittenBack) {
  ConfigFolder cfg;
  TAppSettings s(cfg.SettingsFile());
  const auto good = cfg.Path() / "out";
  std::filesystem::create_directory(good);
  s.SetOutPutDir(good.string());
  s.SetSnapOutPutDir("/nonexistent-folder-tovi");
  EXPECT_EQ(CheckOutputFolders(s), good.string());
  EXPECT_EQ(s.SnapOutPutDir(), DefaultOutputDir());

  s.SetOutPutDir("/nonexistent-folder-tovi/out");
  EXPECT_EQ(CheckOutputFolders(s), DefaultOutputDir());
  EXPECT_EQ(s.OutPutDir(), DefaultOutputDir());
  EXPECT_TRUE(IsDirectoryWritable(good.string()));
  EXPECT_FALSE(IsDirectoryWritable((good / "missing").string()));
  if (::geteuid() != 0) {
    ::chmod(good.c_str(), 0555);
    EXPECT_FALSE(IsDirectoryWritable(good.string()));
    ::chmod(good.c_str(), 0755);
  }
  EXPECT_TRUE(std::filesystem::is_empty(good)) << "the writability probe leaves nothing behind";
}

TEST(OutputFolders, BrowseRefusesShortPathsAndSubstitutesUnwritableOnes) {
  ConfigFolder cfg;
  TAppSettings s(cfg.SettingsFile());
  auto c = ChooseOutputFolder(s, "/mn", "/x");
  EXPECT_EQ(c.Result, TFolderChoice::TResult::Invalid);
  EXPECT_EQ(c.Message, "The path /mn is not a valid directory.");
  EXPECT_FALSE(s.Ini().ValueExists("settings", "OutPutDir"));

  EXPECT_EQ(ChooseOutputFolder(s, "/same", "/same").Result, TFolderChoice::TResult::Unchanged);

  c = ChooseOutputFolder(s, "/nonexistent-folder-tovi", "/x");
  EXPECT_EQ(c.Result, TFolderChoice::TResult::Substituted);
  EXPECT_NE(c.Message.find(" .You don't have permission to write to directory:/nonexistent-folder-tovi"),
            std::string::npos);
  EXPECT_EQ(s.OutPutDir(), DefaultOutputDir());

  c = ChooseOutputFolder(s, cfg.Path().string(), "/x");
  EXPECT_EQ(c.Result, TFolderChoice::TResult::Written);
  EXPECT_EQ(s.OutPutDir(), cfg.Path().string());
}

// Without a section for the chosen profile the builder would read an empty video
// encoder and drop the video; the section is seeded as Default + OK would write it.
TEST(ProfileSeeding, FirstUseWritesTheProfileDefaultsOnce) {
  ConfigFolder cfg;
  TIniFile settings(cfg.SettingsFile());
  const TIniFile profile(tovi::test::ShippedProfileFile());
  ASSERT_TRUE(EnsureUserProfileSection(settings, profile, 1)); // iPod Video H.264
  const std::string s = ProfileSection(1);
  EXPECT_EQ(settings.ReadString(s, "Description", ""), "iPod Video H.264 (*.mp4)");
  EXPECT_EQ(settings.ReadString(s, "paraVideoEncoder", ""), "libx264");
  EXPECT_EQ(settings.ReadString(s, "paraAudioEncoder", ""), "libfaac");
  EXPECT_EQ(settings.ReadString(s, "paraVideoSize", ""), "320x240");
  EXPECT_EQ(settings.ReadString(s, "paraChannel", ""), "2");
  EXPECT_EQ(settings.ReadString(s, "paraVolume", ""), "256");
  EXPECT_EQ(settings.ReadString(s, "paraZoom", ""), "full");
  EXPECT_EQ(settings.ReadString(s, "paraLevel", ""), "13") << "H.264 extras copied";
  EXPECT_EQ(settings.ReadInteger(s, "iVideoSize", -9), profile.ReadInteger(s, "iVideoSize", -8));

  // A section the user confirmed is never replaced.
  settings.WriteString(s, "paraVideoSize", "640x480");
  EXPECT_FALSE(EnsureUserProfileSection(settings, profile, 1));
  EXPECT_EQ(settings.ReadString(s, "paraVideoSize", ""), "640x480");
}

TEST(ProfileSeeding, AudioProfileWritesNoVideoEncoderAndLabelsMapToEngineValues) {
  ConfigFolder cfg;
  TIniFile settings(cfg.SettingsFile());
  const TIniFile profile(tovi::test::ShippedProfileFile());
  ASSERT_TRUE(EnsureUserProfileSection(settings, profile, 2400));
  EXPECT_FALSE(settings.ValueExists(ProfileSection(2400), "paraVideoEncoder"));
  EXPECT_EQ(settings.ReadString(ProfileSection(2400), "paraAudioEncoder", ""), "libmp3lame");

  EXPECT_EQ(VolumeValue("100%"), "256");
  EXPECT_EQ(VolumeValue("90%"), std::nullopt);
  EXPECT_EQ(AudioEncoderValue("pcm_mulaw "), "pcm_mulaw");
  EXPECT_EQ(AudioEncoderValue("pcm_mulaw"), std::nullopt);
  EXPECT_EQ(VideoEncoderValue("XviD"), "libxvid");
  EXPECT_EQ(ChannelValue("mono 1 channel"), "1");
  EXPECT_EQ(SplitChoiceList("a,b,"), (std::vector<std::string>{"a", "b", ""}));
}

TEST(ProfileSeeding, GsmForcesItsRateAndChannel) {
  ConfigFolder cfg;
  TIniFile settings(cfg.SettingsFile());
  TIniFile profile(cfg.File("p.ini"));
  profile.WriteString("formatInfo2404", "AudioEncoder", "pcm_s16,GSM");
  profile.WriteString("formatInfo2404", "iAudioEncoder", "1");
  profile.WriteString("formatInfo2404", "SampleRate", "44100,48000");
  profile.WriteString("formatInfo2404", "Channel", "as source,mono 1 channel,stereo 2 channels");
  profile.WriteString("formatInfo2404", "iChannel", "2");
  EnsureUserProfileSection(settings, profile, 2404);
  EXPECT_EQ(settings.ReadString("formatInfo2404", "paraAudioEncoder", ""), "libgsm");
  EXPECT_EQ(settings.ReadString("formatInfo2404", "paraSampleRate", ""), "8000");
  EXPECT_EQ(settings.ReadString("formatInfo2404", "paraChannel", ""), "1");
}
