#include "appcore/IniFile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <fstream>

namespace tovi {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; }

// Names read from the file are trimmed, so the blanks around a caller's name must not
// count either: a section written as " a" reads back as "a".
bool SameName(const std::string &a, const std::string &b) {
  return LowerCase(TrimBlanks(a)) == LowerCase(TrimBlanks(b));
}

// The file as lines (without line ends); empty when it cannot be read.
std::vector<std::string> ReadLines(const std::string &fileName) {
  std::vector<std::string> lines;
  std::ifstream in(fileName, std::ios::binary);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  // A UTF-8 byte order mark written by some editors is not part of the first name; nor
  // is a second one that a tool prepended to a file that already had one. Every mark
  // goes: the file is written back without them, and what it reads as must not change
  // with that.
  while (!lines.empty() && lines[0].rfind("\xEF\xBB\xBF", 0) == 0)
    lines[0].erase(0, 3);
  return lines;
}

// A section header "[name]" gives true and the trimmed name.
bool SectionHeader(const std::string &line, std::string &name) {
  const std::string t = TrimBlanks(line);
  if (t.size() < 2 || t.front() != '[' || t.back() != ']') return false;
  name = TrimBlanks(t.substr(1, t.size() - 2));
  return true;
}

bool IsComment(const std::string &line) {
  const std::string t = TrimBlanks(line);
  return t.empty() || t[0] == ';' || t[0] == '#';
}

// A value holding a line break cannot stand on one line as it is: written plainly, the
// text after the break would read as a key or a "[section]" of its own. Such a value is
// written as "name*=text" (the star marks an encoded value, as in MIME parameters) with
// "\\", "\n" and "\r" for backslash, LF and CR. Every other value is written exactly as
// before, so files from earlier versions, backslashes in folder names included, read
// back unchanged: no program key ends in "*", so no earlier line looks encoded.
constexpr char kEncodedMark = '*';

bool NeedsEncoding(const std::string &value) { return value.find_first_of("\r\n") != std::string::npos; }

std::string EncodeValue(const std::string &value) {
  std::string text;
  text.reserve(value.size() + 8);
  for (const char c : value) {
    if (c == '\\')
      text += "\\\\";
    else if (c == '\n')
      text += "\\n";
    else if (c == '\r')
      text += "\\r";
    else
      text += c;
  }
  return text;
}

// Undoes EncodeValue; a backslash before any other character is kept as it stands.
std::string DecodeValue(const std::string &text) {
  std::string value;
  value.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char next = i + 1 < text.size() ? text[i + 1] : '\0';
    if (text[i] == '\\' && (next == '\\' || next == 'n' || next == 'r')) {
      value += next == 'n' ? '\n' : next == 'r' ? '\r' : '\\';
      ++i;
    } else {
      value += text[i];
    }
  }
  return value;
}

// A key line "name=value" (or "name*=encoded value") gives true, the trimmed name and
// the trimmed, decoded value.
bool KeyLine(const std::string &line, std::string &key, std::string &value) {
  if (IsComment(line)) return false;
  const auto eq = line.find('=');
  if (eq == std::string::npos) return false;
  key = TrimBlanks(line.substr(0, eq));
  value = TrimBlanks(line.substr(eq + 1));
  if (!key.empty() && key.back() == kEncodedMark) {
    key = TrimBlanks(key.substr(0, key.size() - 1));
    value = DecodeValue(value);
  }
  return !key.empty();
}

// Names a line of their own could not hold, or that would read back as another name.
bool UsableSectionName(const std::string &name) { return name.find_first_of("\r\n]") == std::string::npos; }
bool UsableKeyName(const std::string &key) {
  const std::string t = TrimBlanks(key);
  return !t.empty() && t == key && key.find_first_of("\r\n=[;#") == std::string::npos &&
         key.back() != kEncodedMark;
}

// Calls visit(sectionName, lineIndex, key, value) for every key line; stops when it
// returns true.
template <class Visit> void ForEachKey(const std::vector<std::string> &lines, Visit visit) {
  std::string section;
  bool inSection = false;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    std::string name, key, value;
    if (SectionHeader(lines[i], name)) {
      section = name;
      inSection = true;
    } else if (inSection && KeyLine(lines[i], key, value)) {
      if (visit(section, i, key, value)) return;
    }
  }
}

bool WriteLines(const std::string &fileName, const std::vector<std::string> &lines) {
  // A unique temporary name beside the file, so that two writers never share one.
  std::string tmp = fileName + ".XXXXXX";
  const int fd = ::mkstemp(tmp.data());
  if (fd < 0) return false;
  // mkstemp creates the file private to the user; keep the mode the file had.
  struct stat st {};
  ::fchmod(fd, ::stat(fileName.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0644);
  std::string text;
  for (const auto &l : lines)
    text += l + '\n';
  bool ok = true;
  for (std::size_t done = 0; ok && done < text.size();) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) done += static_cast<std::size_t>(n);
  }
  ok = ::close(fd) == 0 && ok;
  if (!ok || std::rename(tmp.c_str(), fileName.c_str()) != 0) {
    std::remove(tmp.c_str());
    return false;
  }
  return true;
}

} // namespace

std::string TrimBlanks(const std::string &text) {
  std::size_t b = 0, e = text.size();
  while (b < e && IsBlank(text[b]))
    ++b;
  while (e > b && IsBlank(text[e - 1]))
    --e;
  return text.substr(b, e - b);
}

std::string LowerCase(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c); });
  return text;
}

bool IsIntegerText(const std::string &text, std::int64_t *value) {
  std::string t = TrimBlanks(text);
  if (!t.empty() && t[0] == '+') t.erase(0, 1);
  if (t.empty()) return false;
  std::int64_t v = 0;
  const auto [ptr, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
  if (ec != std::errc() || ptr != t.data() + t.size()) return false;
  if (value) *value = v;
  return true;
}

bool IsNumberText(const std::string &text, double *value) {
  std::string t = TrimBlanks(text);
  if (!t.empty() && t[0] == '+') t.erase(0, 1);
  if (t.empty()) return false;
  // from_chars also reads "inf" and "nan", which no setting means.
  if (t.find_first_not_of("0123456789.-eE+") != std::string::npos) return false;
  double v = 0;
  const auto [ptr, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
  if (ec != std::errc() || ptr != t.data() + t.size()) return false;
  if (value) *value = v;
  return true;
}

std::string TIniFile::ReadString(const std::string &section, const std::string &key,
                                 const std::string &defaultValue) const {
  std::string result = defaultValue;
  ForEachKey(ReadLines(fileName_),
             [&](const std::string &s, std::size_t, const std::string &k, const std::string &v) {
               if (SameName(s, section) && SameName(k, key)) {
                 result = v;
                 return true;
               }
               return false;
             });
  return result;
}

std::int64_t TIniFile::ReadInteger(const std::string &section, const std::string &key,
                                   std::int64_t defaultValue) const {
  std::int64_t v = 0;
  return IsIntegerText(ReadString(section, key, ""), &v) ? v : defaultValue;
}

bool TIniFile::ReadBool(const std::string &section, const std::string &key, bool defaultValue) const {
  const std::string v = LowerCase(ReadString(section, key, ""));
  std::int64_t n = 0;
  if (IsIntegerText(v, &n)) return n != 0;
  if (v == "true") return true;
  if (v == "false") return false;
  return defaultValue;
}

bool TIniFile::SectionExists(const std::string &section) const {
  for (const auto &line : ReadLines(fileName_)) {
    std::string name;
    if (SectionHeader(line, name) && SameName(name, section)) return true;
  }
  return false;
}

bool TIniFile::ValueExists(const std::string &section, const std::string &key) const {
  bool found = false;
  ForEachKey(ReadLines(fileName_),
             [&](const std::string &s, std::size_t, const std::string &k, const std::string &) {
               found = SameName(s, section) && SameName(k, key);
               return found;
             });
  return found;
}

std::vector<std::string> TIniFile::ReadSections() const {
  std::vector<std::string> names;
  for (const auto &line : ReadLines(fileName_)) {
    std::string name;
    if (SectionHeader(line, name)) names.push_back(name);
  }
  return names;
}

bool TIniFile::WriteString(const std::string &section, const std::string &key, const std::string &value) {
  if (!UsableSectionName(section) || !UsableKeyName(key)) return false;
  std::vector<std::string> lines = ReadLines(fileName_);
  const std::string kept = TrimBlanks(value);
  const std::string newLine =
      NeedsEncoding(kept) ? key + kEncodedMark + "=" + EncodeValue(kept) : key + "=" + kept;
  // Find the section's header and the line after its last key.
  bool inSection = false;
  std::size_t insertAt = std::string::npos;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    std::string name, k, v;
    if (SectionHeader(lines[i], name)) {
      if (inSection) break;
      inSection = SameName(name, section);
      if (inSection) insertAt = i + 1;
    } else if (inSection && KeyLine(lines[i], k, v)) {
      if (SameName(k, key)) {
        lines[i] = newLine;
        return WriteLines(fileName_, lines);
      }
      insertAt = i + 1;
    }
  }
  if (insertAt == std::string::npos) {
    if (!lines.empty() && !TrimBlanks(lines.back()).empty()) lines.emplace_back();
    lines.push_back("[" + section + "]");
    lines.push_back(newLine);
  } else {
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(insertAt), newLine);
  }
  return WriteLines(fileName_, lines);
}

bool TIniFile::WriteInteger(const std::string &section, const std::string &key, std::int64_t value) {
  return WriteString(section, key, std::to_string(value));
}

bool TIniFile::WriteBool(const std::string &section, const std::string &key, bool value) {
  return WriteString(section, key, value ? "1" : "0");
}

bool TIniFile::EraseSection(const std::string &section) {
  std::vector<std::string> lines = ReadLines(fileName_);
  std::vector<std::string> kept;
  bool skipping = false, changed = false;
  for (const auto &line : lines) {
    std::string name;
    if (SectionHeader(line, name)) skipping = SameName(name, section);
    if (skipping) {
      changed = true;
      continue;
    }
    kept.push_back(line);
  }
  return !changed || WriteLines(fileName_, kept);
}

} // namespace tovi
