// The queue of the desktop program on a read-only output folder, and with read-only
// sources whose outputs land beside them: what the user reads in the row's message, and
// sources that stay as they were.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <set>

#include "ConversionTestSupport.h"
#include "DecodedMedia.h"
#include "support/WriteFaults.h"

using namespace tovi;
using namespace tovi::test;

namespace {

class QueueWriteFaults : public QueueConversionTest {};

} // namespace

// The row's message names the output file and says why in words, where it used to
// give "Error number -30 occurred"; the folder stays empty.
TEST_F(QueueWriteFaults, AReadOnlyOutputFolderIsToldInTheRowsMessage) {
  const std::string folder = *options_.OutDir;
  std::filesystem::create_directories(folder);
  int fromChild[2];
  ASSERT_EQ(::pipe(fromChild), 0);
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    // The child only starts the queue (no task runs) and hands back the row messages.
    ::close(fromChild[0]);
    if (!MakeFolderReadOnlyInThisProcess(folder)) ::_exit(kNoReadOnlyMount);
    std::vector<TFileRow> rows{RowFor(FixturePath("h264_aac.mp4"))};
    std::string text;
    if (queue_.StartConversion(rows, options_))
      for (const auto &[row, why] : queue_.RowErrors())
        text += why + "\n";
    const bool sent = ::write(fromChild[1], text.data(), text.size()) == ssize_t(text.size());
    ::_exit(sent ? 0 : 1);
  }
  ::close(fromChild[1]);
  std::string text;
  char buffer[4096];
  for (ssize_t n; (n = ::read(fromChild[0], buffer, sizeof buffer)) > 0;)
    text.append(buffer, size_t(n));
  ::close(fromChild[0]);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == kNoReadOnlyMount)
    GTEST_SKIP() << "no mount namespace for a read-only folder here";
  EXPECT_EQ(text, folder + "/h264_aac_(new).mkv: Read-only file system\n");
  EXPECT_TRUE(std::filesystem::is_empty(folder));
}

// Read-only sources converted by the queue into their own folder (outputs beside them):
// every output decodes, no source was opened for writing and their bytes are the same.
TEST_F(QueueWriteFaults, ReadOnlySourcesStayUntouchedWhenOutputsLandBesideThem) {
  const std::filesystem::path folder = config_.Path() / "sources";
  std::filesystem::create_directories(folder);
  std::map<std::string, std::uint64_t> before;
  std::vector<TFileRow> rows;
  for (const std::string name : {"h264_aac.mp4", "audio_only.mp3", "mpeg4_mp3.avi"}) {
    const std::string copy = (folder / name).string();
    std::filesystem::copy_file(FixturePath(name), copy);
    ::chmod(copy.c_str(), 0444);
    before[name] = FileChecksum(copy);
    rows.push_back(RowFor(copy));
  }
  options_.OutDir = folder.string();
  options_.ProfileCode = 2400; // MP3: audio only, from every source
  TWrittenFiles written(folder.string());
  ASSERT_TRUE(written.Watching());

  const ConversionRun run = RunConversion(converter_, queue_, rows, options_);
  ASSERT_EQ(run.notices.size(), rows.size());
  for (const TTerminateInfo &notice : run.notices)
    EXPECT_TRUE(notice.Finished) << notice.ExceptionMsg;
  for (const TFileRow &row : rows)
    EXPECT_GT(DecodeFile(row.Record.DestinationFile).audioSamples, 0);

  const std::set<std::string> touched = written.Names();
  for (const auto &[name, sum] : before) {
    EXPECT_EQ(touched.count(name), 0u) << name << " was opened for writing";
    EXPECT_EQ(FileChecksum((folder / name).string()), sum) << name;
  }
}
