// Preset lookup (built-in table, codec-qualified second search, preset files and their
// folders) and the parsing of preset texts.
#include <cstdlib>
#include <fstream>

#include "EngineTestSupport.h"
#include "engine/PresetFiles.h"

using namespace tovi;
using tovi::test::EngineTest;
using tovi::test::TempDir;

namespace {

class PresetFileTest : public EngineTest {
protected:
  std::string Write(const std::string &name, const std::string &text) {
    const std::string path = dir_.file(name);
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }
  std::string Refused(const std::string &kind, const std::string &name) {
    return Raised([&] { engine_.ParseOption(kind, name); });
  }
  TempDir dir_;
};

TEST_F(PresetFileTest, SecondSearchQualifiesTheNameWithThePendingCodec) {
  EXPECT_EQ(Refused("vpre", "ipod"), "Preset \"ipod\" not found");
  engine_.ParseOption("vcodec", "libx264");
  engine_.ParseOption("vpre", "ipod");
  EXPECT_EQ(VideoInt("level"), 30);
  EXPECT_EQ(VideoInt("b"), 1000000);
  EXPECT_EQ(VideoInt("maxrate"), 1250000);
  // The audio kind looks at the audio codec, which is not libx264.
  engine_.ParseOption("acodec", "aac");
  EXPECT_EQ(Refused("apre", "ipod"), "Preset \"ipod\" not found");
  // Built-in names are found ignoring case; "fpre" never looks at the table.
  EXPECT_NO_THROW(engine_.ParseOption("vpre", "LIBX264-Main"));
  EXPECT_EQ(Refused("fpre", "libx264-main"), "Preset \"libx264-main\" not found");
  EXPECT_NO_THROW(engine_.LoadPreset("vpre", "")); // nothing to load
}

TEST_F(PresetFileTest, FileTextWithBlankLinesAndAnyLineBreaks) {
  const std::string path = Write("mine.txt", "\r\n  g = 33\r\n\r\n\tbf=2\rvcodec=copy\n\nACODEC=mp2\n  ");
  engine_.ParseOption("fpre", path);
  EXPECT_EQ(VideoInt("g"), 33);
  EXPECT_EQ(VideoInt("bf"), 2);
  EXPECT_TRUE(engine_.Pending().VideoStreamCopy);
  EXPECT_EQ(engine_.Pending().AudioCodecName, "mp2");
}

TEST_F(PresetFileTest, SyntaxAndOptionErrorsNameThePresetAndLine) {
  const std::string noEquals = Write("a.preset", "g=10\nqmin 3\n");
  EXPECT_EQ(Refused("fpre", noEquals), noEquals + ": Invalid syntax: \"qmin 3\"");
  EXPECT_EQ(VideoInt("g"), 10); // lines before the failure stay applied
  const std::string emptyValue = Write("b.preset", "qmin=\n");
  EXPECT_EQ(Refused("fpre", emptyValue), emptyValue + ": Invalid syntax: \"qmin=\"");
  const std::string emptyKey = Write("c.preset", "=3\n");
  EXPECT_EQ(Refused("fpre", emptyKey), emptyKey + ": Invalid syntax: \"=3\"");
  const std::string unknown = Write("d.preset", "no_such_key=1\n");
  EXPECT_EQ(Refused("fpre", unknown),
            unknown + ": Invalid option or argument: \"no_such_key=1\", parsed as \"no_such_key\" = \"1\"");
  const std::string badValue = Write("e.preset", "g=many\n");
  EXPECT_EQ(Refused("fpre", badValue),
            badValue + ": Invalid option or argument: \"g=many\", parsed as \"g\" = \"many\"");
}

TEST_F(PresetFileTest, BareNamesAreSearchedInThePresetFolders) {
  TempDir presets, config;
  std::filesystem::create_directories(config.path() / "presets");
  std::ofstream(presets.file("fast-mpeg4.preset")) << "g=21\n";
  std::ofstream((config.path() / "presets" / "only-in-config").string()) << "g=22\n";
  std::ofstream((config.path() / "presets" / "fast-mpeg4.preset").string()) << "g=99\n";
  setenv("TOVI_PRESET_DIR", presets.path().c_str(), 1);
  setenv("TOVI_CONFIG_DIR", config.path().c_str(), 1);

  const auto folders = PresetFolders();
  ASSERT_GE(folders.size(), 3u);
  EXPECT_EQ(folders[0], presets.path());
  EXPECT_EQ(folders[1], config.path() / "presets");

  engine_.ParseOption("vpre", "fast-mpeg4"); // the first folder wins
  EXPECT_EQ(VideoInt("g"), 21);
  engine_.ParseOption("fpre", "only-in-config");
  EXPECT_EQ(VideoInt("g"), 22);
  // A name with a folder part is only ever a path.
  EXPECT_EQ(Refused("fpre", "sub/only-in-config"), "Preset \"sub/only-in-config\" not found");
  // A folder is no preset file.
  EXPECT_EQ(Refused("fpre", presets.path().string()), "Preset \"" + presets.path().string() + "\" not found");
}

TEST_F(PresetFileTest, OversizedFileIsRefused) {
  const std::string path = Write("huge.preset", std::string(MAX_PRESET_FILE_BYTES + 1, '\n'));
  EXPECT_EQ(Refused("fpre", path), "Preset \"" + path + "\" is too large for a preset file");
}

} // namespace
