// File-name and file-system helpers. Names are UTF-8 and '/' is the only path
// separator. ':' is an ordinary file-name character on Linux, so no function here
// splits at it (the Windows originals split "C:name" after the drive colon).
//
// Threads: all functions may be called from any thread; GetCurrentDir/SetCurrentDir
// work on the process-wide current folder.
#pragma once

#include <cstdint>
#include <string>

namespace tovi {

// `path` with a '/' at its end ("" gives "/"). A '/' byte never occurs inside a
// multi-byte UTF-8 character, so a name ending in one cannot be mistaken.
std::string IncludeTrailingPathDelimiter(const std::string &path);

// The part up to and including the last '/' ("" when there is none).
std::string ExtractPath(const std::string &fileName);
// The part after the last '/' (the whole name when there is none).
std::string ExtractName(const std::string &fileName);

// True for an existing file system entry that is not a folder (links are followed).
bool IsExistingFile(const std::string &fileName);

// The current folder, "" when it cannot be read (e.g. it was removed).
std::string GetCurrentDir();
// True when the current folder was changed.
bool SetCurrentDir(const std::string &dir);

// The value of an environment variable of any length; "" when unset.
std::string GetEnvironment(const std::string &name);

// The absolute, lexically normalised form of `fileName` ("." and ".." resolved
// without looking at the disk, links kept); relative names are taken from the
// current folder. A trailing '/' is kept. "" gives "". No length limit.
std::string FullPathName(const std::string &fileName);

// The size in bytes of an existing file; -1 when it does not exist or is a folder.
std::int64_t FileSizeOf(const std::string &fileName);

// The part of `text` before the first `separator`, or the whole text when it holds
// none (an empty separator is never found). With `remove`, that part and the
// separator (or all of the text) are deleted from `text`.
std::string SplitFirst(std::string &text, const std::string &separator, bool remove);

} // namespace tovi
