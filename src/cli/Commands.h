// The commands of tovi-convert. Each returns the process exit code.
#pragma once

#include <cstring>

namespace tovi::cli {

// "--help" or "-h": the command's usage on stdout and exit 0.
inline bool IsHelpWord(const char *word) {
  return std::strcmp(word, "--help") == 0 || std::strcmp(word, "-h") == 0;
}

// info FILE...: the probe's description of each file.
int CmdInfo(int argc, char **argv);
// run [OPTION]... -i INPUT ... OUTPUT: one engine job from a raw option list.
int CmdRun(int argc, char **argv);
// profiles: the profile catalogue with codes. convert FILE... [OPTION]...: see ConvertCommand.cpp.
int CmdProfiles(int argc, char **argv);
int CmdConvert(int argc, char **argv);

// play FILE [--paused] [--volume N] [--mute]: plays the file in a window of its own.
int CmdPlay(int argc, char **argv);

} // namespace tovi::cli
