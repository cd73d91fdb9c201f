// Helpers shared by the fuzz targets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace tovi::fuzz {

// Binds the converter library set on the first call (later calls do nothing) and keeps
// the log router quiet, so that every input runs against the same loaded libraries.
// Aborts when the libraries cannot be loaded: no input could be tried.
void LoadLibrariesOnce();

// Puts the log level back to quiet (an input may have changed it through "loglevel").
void QuietLog();

// The input cut at every `separator` byte; n separators give n + 1 parts.
std::vector<std::string> Split(const std::uint8_t *data, std::size_t size, char separator);

// A folder of this process for scratch files, on a memory file system when there is
// one; removed at exit.
const std::filesystem::path &ScratchDir();

// Writes `size` bytes to `path`, replacing the file; aborts when it cannot.
void WriteFile(const std::filesystem::path &path, const std::uint8_t *data, std::size_t size);

// Reports a broken invariant with the text and aborts, so that the input is kept.
[[noreturn]] void Fail(const std::string &what);

} // namespace tovi::fuzz
