// The file list kept for a restart after a crash: what the journal brings back, what a
// torn or damaged journal does (nothing, with a reason), how often edits are written,
// and what a resumed start converts and under which names.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "ConversionTestSupport.h"
#include "DecodedMedia.h"
#include "appcore/QueueJournal.h"

using namespace tovi;
using namespace tovi::test;
namespace fs = std::filesystem;

namespace {

std::string ReadAll(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Runs the event loop until `done` holds or `ms` have passed; whether `done` holds.
bool RunEventsUntil(const std::function<bool()> &done, int ms) {
  const QDeadlineTimer deadline(ms);
  while (!done()) {
    if (deadline.hasExpired()) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::msleep(5);
  }
  return true;
}

void WriteAll(const std::string &path, const std::string &text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

// Two rows with every kind of edit a user can make, in different states.
TQueueSnapshot EditedList(const std::string &folder) {
  TQueueSnapshot s;
  s.ProfileCode = 2200;
  TFileRow a = RowFor(folder + "/Видео clip\n2.mp4"); // any byte a file name may hold
  a.Checked = false;
  a.State = TRowState::Converting;
  a.Record.DestinationFile = folder + "/out/clip_(new).mkv";
  a.Record.DurationSeconds = 40;
  a.Record.TrimStart = 12'500'000;
  a.Record.TrimLength = 3'000'000'000; // past 32 bits
  a.Record.ZoomMode = "pan";
  a.Record.CropTop = 8, a.Record.CropLeft = 16, a.Record.CropBottom = 24, a.Record.CropRight = 32;
  a.Record.CropRightShown = 5;
  a.Record.Brightness = 300, a.Record.Contrast = -40, a.Record.Saturation = 10, a.Record.Exposure = -255;
  a.Record.TargetSize = "25M";
  a.Record.ProcessImage = true;
  TWmRec text;
  text.Text = "© Tovi";
  text.Font.Name = "DejaVu Serif";
  text.Font.Size = 31;
  text.Font.Italic = true;
  text.Font.Color = MakeColor(255, 255, 255);
  text.TextLeft = 10, text.TextTop = 20, text.TextWidth = 300, text.TextHeight = 40;
  text.OpaqueBackground = false;
  text.Start = 1, text.End = 9;
  TWmRec picture;
  picture.Kind = TWmRec::wkPicture;
  picture.PictureFile = folder + "/logo.png";
  picture.PictureLeft = 7, picture.PictureOpacity = 90, picture.End = 4;
  a.Record.Watermarks = {text, picture};
  TFileRow b = RowFor(folder + "/b.avi");
  b.State = TRowState::Done;
  b.Record.DestinationFile = folder + "/out/b_(new).mkv";
  s.Rows = {a, b};
  return s;
}

TEST(QueueJournal, ListComesBackWithEveryEditAndState) {
  TempDir dir;
  const TQueueSnapshot saved = EditedList(dir.path().string());
  TQueueJournal journal(dir.file("journal.json"));
  journal.StateChanged(saved);
  ASSERT_EQ(journal.LastProblem(), "");

  std::string problem;
  const auto back = journal.LeftOver(problem);
  ASSERT_TRUE(back) << problem;
  EXPECT_EQ(back->ProfileCode, 2200);
  ASSERT_EQ(back->Rows.size(), 2u);
  const TFileRow &a = back->Rows[0];
  const TlvFilesRecord &r = a.Record;
  EXPECT_EQ(a.Caption, saved.Rows[0].Caption);
  EXPECT_FALSE(a.Checked);
  EXPECT_EQ(a.State, TRowState::Converting);
  EXPECT_EQ(back->Rows[1].State, TRowState::Done);
  EXPECT_EQ(r.DestinationFile, saved.Rows[0].Record.DestinationFile);
  EXPECT_EQ(r.TrimStart, 12'500'000);
  EXPECT_EQ(r.TrimLength, 3'000'000'000);
  EXPECT_EQ(r.ZoomMode, "pan");
  EXPECT_EQ((std::vector<int>{r.CropTop, r.CropLeft, r.CropBottom, r.CropRight, r.CropRightShown}),
            (std::vector<int>{8, 16, 24, 32, 5}));
  EXPECT_EQ(r.TargetSize, "25M");
  EXPECT_EQ((std::vector<int>{r.Brightness, r.Contrast, r.Saturation, r.Exposure}),
            (std::vector<int>{300, -40, 10, -255}));
  EXPECT_TRUE(r.NeedsCustomHook());
  ASSERT_EQ(r.Watermarks.size(), 2u);
  const TWmRec &text = r.Watermarks[0];
  EXPECT_EQ(text.Text, "© Tovi");
  EXPECT_EQ(text.Font.Name, "DejaVu Serif");
  EXPECT_EQ(text.Font.Size, 31);
  EXPECT_TRUE(text.Font.Italic);
  EXPECT_EQ(text.Font.Color, MakeColor(255, 255, 255));
  EXPECT_EQ(text.TextWidth, 300);
  EXPECT_FALSE(text.OpaqueBackground);
  EXPECT_EQ(text.End, 9);
  const TWmRec &picture = r.Watermarks[1];
  EXPECT_EQ(picture.Kind, TWmRec::wkPicture);
  EXPECT_EQ(picture.PictureFile, dir.file("logo.png"));
  EXPECT_EQ(picture.PictureOpacity, 90);
  // Nothing of the record was left out: written again it reads the same.
  EXPECT_EQ(SerializeQueue(*back), SerializeQueue(saved));
}

TEST(QueueJournal, TornOrDamagedJournalIsIgnoredWithAReason) {
  TempDir dir;
  const std::string path = dir.file("journal.json");
  const std::string whole = SerializeQueue(EditedList(dir.path().string()));
  TQueueJournal journal(path);
  std::string problem;

  // Cut anywhere, as a crash in the middle of a plain write would leave it.
  for (std::size_t cut = 0; cut < whole.size(); cut += 7) {
    WriteAll(path, whole.substr(0, cut));
    EXPECT_FALSE(journal.LeftOver(problem)) << "cut at " << cut;
    EXPECT_NE(problem, "") << "cut at " << cut;
  }
  std::string flipped = whole;
  flipped[flipped.size() / 2] = '\0';
  std::string otherVersion = whole;
  otherVersion.replace(otherVersion.find("\"version\": 1"), 12, "\"version\": 9");
  std::string noSource = whole;
  noSource.replace(noSource.find("\"caption\""), 9, "\"kaption\"");
  for (const std::string &bad : {flipped, otherVersion, noSource, std::string("\x89PNG\r\n\x1a\n"),
                                 std::string("[1, 2]"), std::string("{\"journal\": 5}")}) {
    WriteAll(path, bad);
    EXPECT_FALSE(journal.LeftOver(problem));
    EXPECT_NE(problem, "") << bad.substr(0, 40);
  }

  // No journal, or one with an empty list: nothing to offer and nothing wrong.
  fs::remove(path);
  EXPECT_FALSE(journal.LeftOver(problem));
  EXPECT_EQ(problem, "");
  journal.StateChanged(TQueueSnapshot{});
  EXPECT_FALSE(journal.LeftOver(problem));
  EXPECT_EQ(problem, "");

  // A failed write keeps the old journal whole and leaves no temporary file.
  journal.StateChanged(EditedList(dir.path().string()));
  const std::string before = ReadAll(path);
  EXPECT_FALSE(WriteFileAtomically(dir.file("missing/journal.json"), "x", problem));
  EXPECT_NE(problem, "");
  EXPECT_EQ(ReadAll(path), before);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
}

TEST(QueueJournal, EditsAreGatheredStatesAreWrittenAtOnce) {
  EnsureGuiApplication(); // the debounce timer needs an event loop
  TempDir dir;
  TQueueJournal journal(dir.file("journal.json"), 50);
  TQueueSnapshot s = EditedList(dir.path().string());
  for (int step = 0; step < 100; ++step) { // a slider dragged across its range
    s.Rows[0].Record.Brightness = step;
    journal.Changed(s);
  }
  EXPECT_EQ(journal.WriteCount(), 0);
  ASSERT_TRUE(RunEventsUntil([&] { return journal.WriteCount() > 0; }, 10'000));
  RunEventsUntil([] { return false; }, 120);
  EXPECT_EQ(journal.WriteCount(), 1);
  std::string problem;
  EXPECT_EQ(journal.LeftOver(problem)->Rows[0].Record.Brightness, 99) << "the last edit is the one kept";

  s.Rows[1].State = TRowState::Converting;
  journal.StateChanged(s);
  EXPECT_EQ(journal.WriteCount(), 2);
  EXPECT_EQ(journal.LeftOver(problem)->Rows[1].State, TRowState::Converting);

  // A normal end removes the journal; an edit still pending is not written after it.
  journal.Changed(s);
  journal.Clear();
  RunEventsUntil([] { return false; }, 120);
  EXPECT_FALSE(fs::exists(journal.Path()));
}

class ResumedStart : public QueueConversionTest {};

// After a crash: done rows are not converted again, and the row that was being converted
// is converted over its half-written output, not beside it as "(new_1)".
TEST_F(ResumedStart, SkipsDoneRowsAndReplacesTheHalfWrittenOutput) {
  const fs::path out = config_.Path() / "out";
  fs::create_directories(out);
  const std::string doneOutput = (out / "h264_aac_(new).mkv").string();
  const std::string halfOutput = (out / "mpeg4_mp3_(new).mkv").string();
  WriteAll(doneOutput, "a finished output");
  WriteAll(halfOutput, "half a matroska file");

  std::vector<TFileRow> rows{RowFor(FixturePath("h264_aac.mp4")), RowFor(FixturePath("mpeg4_mp3.avi")),
                             RowFor(FixturePath("vp8_vorbis.webm"))};
  rows[0].State = TRowState::Done;
  rows[0].Record.DestinationFile = doneOutput;
  rows[1].State = TRowState::Converting;
  rows[1].Record.DestinationFile = halfOutput;
  rows[2].State = TRowState::Queued;
  rows[2].Record.DestinationFile = (out / "vp8_vorbis_(new).mkv").string(); // not begun
  TQueueJournal journal(config_.File("journal.json"));
  journal.StateChanged(TQueueSnapshot{kMkv, rows});
  std::string problem;
  rows = journal.LeftOver(problem)->Rows;
  PrepareResume(rows);
  EXPECT_EQ(rows[0].Progress, "100%");
  EXPECT_EQ(rows[1].Progress, "") << "an interrupted row is never shown as done";

  options_.SkipDone = true;
  const ConversionRun run = RunConversion(converter_, queue_, rows, options_);
  EXPECT_EQ(queue_.TaskRows(), (std::vector<int>{1, 2}));
  for (const TTerminateInfo &notice : run.notices)
    EXPECT_TRUE(notice.Finished) << notice.ExceptionMsg;
  EXPECT_EQ(rows[1].Record.DestinationFile, halfOutput);
  EXPECT_EQ(ReadAll(doneOutput), "a finished output");
  std::vector<std::string> names;
  for (const auto &entry : fs::directory_iterator(out))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names,
            (std::vector<std::string>{"h264_aac_(new).mkv", "mpeg4_mp3_(new).mkv", "vp8_vorbis_(new).mkv"}));
  const DecodedMedia replaced = DecodeFile(halfOutput);
  ASSERT_TRUE(replaced.opened);
  EXPECT_NEAR(replaced.videoEnd - replaced.videoStart, 2.0, 0.25);
  for (const TFileRow &row : rows)
    EXPECT_EQ(row.State, TRowState::Done) << row.Caption;
}

} // namespace
