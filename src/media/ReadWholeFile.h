// Reading a whole (small) file into memory through the bound C runtime.
#pragma once

#include <string>
#include <vector>

namespace tovi {

// Reads `fileName` ("rb" through ff::fopen) into `buffer`: the file's bytes followed by
// one zero byte, so buffer.size() is the file size + 1 and text files can be used as C
// strings. Returns 0; -1 when the file cannot be opened or its size cannot be found
// (buffer cleared); -12 (AVERROR(ENOMEM)) when the buffer cannot be allocated (buffer
// cleared). A file that shrinks while being read yields the bytes that were read.
// Needs the C runtime kind (lkCRT) loaded. Thread-safe.
int ReadWholeFile(const std::string &fileName, std::vector<char> &buffer);

} // namespace tovi
