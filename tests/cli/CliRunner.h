// Runs tovi-convert as a user does, through the shell, and collects what it printed and
// its exit status.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/TestMedia.h"

namespace tovi::test {

struct RunResult {
  int exitCode = -1; // -1: did not exit normally (killed by a signal)
  std::string out, err;
};

// `arguments` is shell text after the program name; stderr is collected through a file
// so that the two streams cannot block each other.
inline RunResult RunCli(const std::string &arguments, const std::string &environment = "") {
  TempDir dir;
  const std::string command =
      environment + " " TOVI_CONVERT_EXE " " + arguments + " 2>'" + dir.file("err") + "'";
  RunResult run;
  FILE *pipe = ::popen(command.c_str(), "r");
  if (!pipe) return run;
  char buffer[4096];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
    run.out.append(buffer, n);
  const int status = ::pclose(pipe);
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  std::ostringstream err;
  err << std::ifstream(dir.file("err")).rdbuf();
  run.err = err.str();
  return run;
}

// Single-quoted shell words; the tests' names hold no quote.
inline std::string ShellWords(const std::vector<std::string> &words) {
  std::string text;
  for (const std::string &w : words)
    text += " '" + w + "'";
  return text;
}

} // namespace tovi::test
