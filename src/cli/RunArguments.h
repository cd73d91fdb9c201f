// The argument grammar of tovi-convert run, apart from the command so that it can be
// exercised without a process.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace tovi::cli {

// The task as the command line describes it.
struct TRunArguments {
  std::vector<std::string> Inputs;
  std::vector<std::string> InputOptions; // name=value lines per input
  std::string OutputOptions;
  std::string Output;
  bool Join = false;
  int Threads = 0;
  bool JsonProgress = false;
  bool Verbose = false;
  std::int64_t TargetSize = 0; // --target-size in bytes; 0 = none
};

// The option's name as the component passes it on: option lines are read in lower case.
std::string LowerName(std::string name);

// Parses the words after "run"; returns 0, or 2 for a usage error after a message on
// `messages`, or -1 when help was asked for (the caller prints the usage).
int ParseRunArguments(const std::vector<std::string> &words, TRunArguments &args, std::FILE *messages);

void PrintRunUsage(std::FILE *out);

} // namespace tovi::cli
