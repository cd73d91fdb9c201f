// The INI files of the application (the settings file and the profile file).
//
// Sections in square brackets, key=value lines, section and key names matched without
// regard to case, blanks around names and values ignored. A value holding a line break
// (CR or LF) is stored as "key*=…" with "\\", "\n" and "\r" escapes and reads back
// exactly; every other value is stored as it is, backslashes included. Every read opens
// the file and reads one value; every write rewrites the file at once (through a
// temporary file renamed over it, so a crash never leaves half a file). There is no
// cached copy, so two objects on the same path always agree.
//
// Threads: any thread; concurrent writes to one file from several threads or
// processes are not serialised (the last writer wins).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tovi {

class TIniFile {
public:
  explicit TIniFile(std::string fileName) : fileName_(std::move(fileName)) {}

  const std::string &FileName() const { return fileName_; }

  // The value of `key` in `section`, or `defaultValue` when the file, the section or
  // the key is absent.
  std::string ReadString(const std::string &section, const std::string &key,
                         const std::string &defaultValue) const;
  // The value as a decimal integer; `defaultValue` when absent or not an integer.
  std::int64_t ReadInteger(const std::string &section, const std::string &key,
                           std::int64_t defaultValue) const;
  // "1"/"0" (also "true"/"false"); `defaultValue` when absent or unreadable.
  bool ReadBool(const std::string &section, const std::string &key, bool defaultValue) const;
  bool SectionExists(const std::string &section) const;
  bool ValueExists(const std::string &section, const std::string &key) const;
  // The names of all sections in file order.
  std::vector<std::string> ReadSections() const;

  // Writes one value (without blanks at either end), creating the file, the section or
  // the key as needed. False when the file cannot be written (its folder missing or
  // read-only), or for a name no line can hold: a section name with a line break or
  // "]", a key that is empty, has blanks at an end, a line break, "=", "[", ";", "#", or
  // ends in "*".
  bool WriteString(const std::string &section, const std::string &key, const std::string &value);
  bool WriteInteger(const std::string &section, const std::string &key, std::int64_t value);
  bool WriteBool(const std::string &section, const std::string &key, bool value);
  // Removes a whole section; true when the file no longer holds it.
  bool EraseSection(const std::string &section);

private:
  std::string fileName_;
};

// Whole-text helpers shared by the readers of both files.
// True when the whole text (blanks around it allowed) is a signed decimal integer.
bool IsIntegerText(const std::string &text, std::int64_t *value = nullptr);
// True when the whole text is an integer or a decimal number with "." as the point.
bool IsNumberText(const std::string &text, double *value = nullptr);
std::string TrimBlanks(const std::string &text);
std::string LowerCase(std::string text);

} // namespace tovi
