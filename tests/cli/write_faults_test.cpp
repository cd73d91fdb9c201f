// tovi-convert on a full disk, a read-only output folder and output names the system
// refuses: the job ends with the file's name and the cause in words, a non-zero exit and
// no partial file. And whatever path a conversion takes, its sources stay as they were.
//
// The faults are made for the child process only: a file size limit (RLIMIT_FSIZE, with
// SIGXFSZ ignored so that write() fails with EFBIG instead of killing it), and a
// read-only bind mount of the output folder in a mount namespace of its own.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "CliRunner.h"
#include "support/TestMedia.h"
#include "support/WriteFaults.h"

namespace {

namespace fs = std::filesystem;
using tovi::test::FileChecksum;
using tovi::test::FixturePath;
using tovi::test::kNoReadOnlyMount;
using tovi::test::RunResult;
using tovi::test::TempDir;

struct Faults {
  std::int64_t fileSizeLimitBytes = -1; // -1: none
  std::string readOnlyFolder;           // empty: none
};

// Runs tovi-convert with `words` under `faults`; exitCode kNoReadOnlyMount when the
// read-only folder could not be made.
RunResult RunWithFaults(const std::vector<std::string> &words, const Faults &faults = {}) {
  TempDir logs;
  const std::string outFile = logs.file("out"), errFile = logs.file("err");
  std::vector<char *> argv{const_cast<char *>(TOVI_CONVERT_EXE)};
  for (const std::string &w : words)
    argv.push_back(const_cast<char *>(w.c_str()));
  argv.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int out = ::open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0 || err < 0) ::_exit(126);
    ::dup2(out, 1);
    ::dup2(err, 2);
    if (!faults.readOnlyFolder.empty() && !tovi::test::MakeFolderReadOnlyInThisProcess(faults.readOnlyFolder))
      ::_exit(kNoReadOnlyMount);
    if (faults.fileSizeLimitBytes >= 0) {
      ::signal(SIGXFSZ, SIG_IGN); // kept across exec: write() gives EFBIG
      const rlimit limit{rlim_t(faults.fileSizeLimitBytes), rlim_t(faults.fileSizeLimitBytes)};
      if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(126);
    }
    ::alarm(120); // watchdog, kept across exec: a hang ends as a kill, not a stuck suite
    ::execv(TOVI_CONVERT_EXE, argv.data());
    ::_exit(127);
  }
  RunResult run;
  int status = 0;
  if (pid < 0 || ::waitpid(pid, &status, 0) != pid) return run;
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  std::ostringstream out, err;
  out << std::ifstream(outFile).rdbuf();
  err << std::ifstream(errFile).rdbuf();
  run.out = out.str();
  run.err = err.str();
  return run;
}

std::vector<std::string> FilesIn(const fs::path &folder) {
  std::vector<std::string> names;
  for (const auto &entry : fs::directory_iterator(folder))
    names.push_back(entry.path().filename().string());
  return names;
}

class CliWriteFaults : public ::testing::Test {
protected:
  void SetUp() override { ::setenv("TOVI_CONFIG_DIR", config_.path().c_str(), 1); }
  void TearDown() override { ::unsetenv("TOVI_CONFIG_DIR"); }
  TempDir config_, dir_;
};

} // namespace

TEST_F(CliWriteFaults, AFullDiskEndsTheJobWithTheCauseAndLeavesNoPartialFile) {
  const std::string clip = FixturePath("h264_aac.mp4");
  for (const std::string name : {"out.mp4", "out.mkv"}) {
    const std::string out = dir_.file(name);
    const std::vector<std::string> words{"run",     "-i",  clip,        "-vcodec", "mpeg4",
                                         "-acodec", "mp2", "--threads", "1",       out};
    const RunResult whole = RunWithFaults(words);
    ASSERT_EQ(whole.exitCode, 0) << whole.err;
    const auto size = std::int64_t(fs::file_size(out));
    fs::remove(out);
    // A quarter fails while packets are written; one byte short fails in the trailer
    // (the MP4 index, the Matroska cues), after every packet was taken.
    for (const std::int64_t limit : {size / 4, size - 1}) {
      const RunResult run = RunWithFaults(words, {.fileSizeLimitBytes = limit});
      EXPECT_EQ(run.exitCode, 1) << name << " limit " << limit << ": " << run.err;
      EXPECT_NE(run.err.find("Cannot write " + out + ": File too large"), std::string::npos)
          << name << " limit " << limit << ": " << run.err;
      EXPECT_FALSE(fs::exists(out)) << name << " limit " << limit << ": a partial file was left";
    }
  }

  // The profile conversion: the failure names the file; no "_(new)" file stays.
  const RunResult run = RunWithFaults({"convert", clip, "--profile", "1", "--out", dir_.path().string()},
                                      {.fileSizeLimitBytes = 20000});
  EXPECT_EQ(run.exitCode, 1) << run.err;
  EXPECT_NE(run.err.find("Cannot write " + dir_.file("h264_aac_(new).mp4") + ": File too large"),
            std::string::npos)
      << run.err;
  EXPECT_EQ(FilesIn(dir_.path()), std::vector<std::string>{});
}

TEST_F(CliWriteFaults, AReadOnlyOutputFolderIsToldInWordsAndLeavesNothing) {
  const std::string clip = FixturePath("h264_aac.mp4");
  const std::string out = dir_.file("out.mp4");
  const Faults readOnly{.readOnlyFolder = dir_.path().string()};
  const RunResult run = RunWithFaults({"run", "-i", clip, "-vcodec", "mpeg4", out}, readOnly);
  if (run.exitCode == kNoReadOnlyMount) GTEST_SKIP() << "no mount namespace for a read-only folder here";
  EXPECT_EQ(run.exitCode, 1) << run.err;
  EXPECT_NE(run.err.find(out + ": Read-only file system"), std::string::npos) << run.err;

  const RunResult convert =
      RunWithFaults({"convert", clip, "--profile", "1", "--out", dir_.path().string()}, readOnly);
  EXPECT_EQ(convert.exitCode, 1) << convert.err;
  EXPECT_NE(convert.err.find(dir_.file("h264_aac_(new).mp4") + ": Read-only file system"), std::string::npos)
      << convert.err;
  EXPECT_EQ(FilesIn(dir_.path()), std::vector<std::string>{});
}

TEST_F(CliWriteFaults, OutputNamesTheSystemRefusesAreToldInWords) {
  const std::string clip = FixturePath("h264_aac.mp4");
  const std::string folder = dir_.file("taken.mp4");
  fs::create_directory(folder);
  const std::string tooLong = dir_.file(std::string(300, 'n') + ".mp4");
  const std::map<std::string, std::string> causes{{folder, "Is a directory"},
                                                  {tooLong, "File name too long"}};
  for (const auto &[out, cause] : causes) {
    const RunResult run = RunWithFaults({"run", "-i", clip, "-vcodec", "mpeg4", out});
    EXPECT_EQ(run.exitCode, 1) << run.err;
    EXPECT_NE(run.err.find(out + ": " + cause), std::string::npos) << run.err;
  }
  EXPECT_TRUE(fs::is_directory(folder)) << "the folder in the output's place stays";
}

// Sources made read-only go through every path a conversion can take: their bytes stay
// and the kernel saw none of them opened for writing.
TEST_F(CliWriteFaults, SourcesAreNeverOpenedForWriting) {
  TempDir sources;
  std::map<std::string, std::uint64_t> before;
  for (const std::string name : {"h264_aac.mp4", "audio_only.mp3"}) {
    const std::string copy = sources.file(name);
    fs::copy_file(FixturePath(name), copy);
    ::chmod(copy.c_str(), 0444);
    before[copy] = FileChecksum(copy);
  }
  // One picture as the source of an image sequence whose pattern gives its name again.
  const std::string picture = sources.file("img001.png");
  ASSERT_EQ(
      RunWithFaults({"run", "-i", FixturePath("h264_aac.mp4"), "-vframes", "1", "-vcodec", "png", picture})
          .exitCode,
      0);
  ::chmod(picture.c_str(), 0444);
  before[picture] = FileChecksum(picture);
  tovi::test::TWrittenFiles written(sources.path().string());
  ASSERT_TRUE(written.Watching());

  const std::string video = sources.file("h264_aac.mp4"), audio = sources.file("audio_only.mp3");
  const std::string out = dir_.path().string();
  const std::vector<std::vector<std::string>> paths{
      {"convert", video, "--profile", "1", "--out", out},                                // profile conversion
      {"convert", audio, "--profile", "2400", "--out", out},                             // audio only
      {"run", "-i", video, "-vcodec", "mpeg4", "-acodec", "mp2", dir_.file("run.avi")},  // engine options
      {"run", "-i", video, "-vcodec", "copy", "-acodec", "copy", dir_.file("copy.mkv")}, // stream copy
      {"run", "-i", audio, "-acodec", "pcm_s16le", dir_.file("audio.wav")},              // audio only
      {"run", "-i", video, "-i", video, "--join", "-vcodec", "mpeg4", "-acodec", "mp2",
       dir_.file("joined.avi")},
  };
  for (const auto &words : paths) {
    const RunResult run = RunWithFaults(words);
    EXPECT_EQ(run.exitCode, 0) << words[0] << " " << words.back() << ": " << run.err;
  }
  // An output named like its source is refused, not written over.
  EXPECT_EQ(RunWithFaults({"run", "-i", video, "-vcodec", "mpeg4", video}).exitCode, 1);
  EXPECT_EQ(RunWithFaults({"run", "-i", audio, "-acodec", "mp2", "-f", "mp3", audio}).exitCode, 1);
  // The sequence's first picture would be the source itself: the job fails, saying so.
  const RunResult sequence =
      RunWithFaults({"run", "-i", picture, "-vcodec", "png", "-s", "32x24", sources.file("img%03d.png")});
  EXPECT_EQ(sequence.exitCode, 1) << sequence.err;
  EXPECT_NE(sequence.err.find(picture + " is an input of this job; it will not be overwritten"),
            std::string::npos)
      << sequence.err;

  for (const auto &[path, sum] : before)
    EXPECT_EQ(FileChecksum(path), sum) << path;
  EXPECT_EQ(written.Names(), std::set<std::string>{});
}
