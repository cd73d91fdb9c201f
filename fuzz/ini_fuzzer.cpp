// The INI reader and writer. The input, cut at every 0x1E byte, is a file's starting
// text followed by (section, key, value) triples. Every triple is written twice: into
// a file that starts with that text (what is written must read back) and into a fresh
// file, which must hold every value written and no section or key beyond those
// written, whatever the values hold.
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "FuzzSupport.h"
#include "appcore/IniFile.h"

using namespace tovi;

namespace {

// The text of a file, or "" when it cannot be read.
std::string FileText(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Lines holding anything but blanks.
std::size_t UsedLines(const std::string &text) {
  std::size_t count = 0;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    if (!TrimBlanks(line).empty()) ++count;
  return count;
}

const std::string kAbsent = "\x01<absent>";

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const std::vector<std::string> parts = fuzz::Split(data, size, '\x1e');
  const std::string seededPath = (fuzz::ScratchDir() / "seeded.ini").string();
  const std::string freshPath = (fuzz::ScratchDir() / "fresh.ini").string();
  fuzz::WriteFile(seededPath, reinterpret_cast<const std::uint8_t *>(parts[0].data()), parts[0].size());
  std::filesystem::remove(freshPath);
  TIniFile seeded(seededPath), fresh(freshPath);

  // Reading any text: nothing may fail, whatever the file holds.
  (void)seeded.ReadSections();

  // What the fresh file must hold: (section, key) in lower case -> value.
  std::map<std::pair<std::string, std::string>, std::string> written;
  std::set<std::string> sections;
  for (std::size_t i = 1; i + 2 < parts.size(); i += 3) {
    const std::string &section = parts[i], &key = parts[i + 1], &value = parts[i + 2];
    (void)seeded.ReadInteger(section, key, 0);
    (void)seeded.ReadBool(section, key, false);
    (void)seeded.SectionExists(section);
    (void)seeded.ValueExists(section, key);

    const std::size_t sectionsBefore = seeded.ReadSections().size();
    const bool seededOk = seeded.WriteString(section, key, value);
    if (seededOk) {
      if (seeded.ReadString(section, key, kAbsent) != TrimBlanks(value))
        fuzz::Fail("a value written into a file does not read back");
      if (seeded.ReadSections().size() > sectionsBefore + 1)
        fuzz::Fail("one write added more than one section");
    }
    const bool freshOk = fresh.WriteString(section, key, value);
    if (freshOk != seededOk) fuzz::Fail("a name was taken by one file and refused by the other");
    if (!freshOk) continue;
    // Section names are matched without the blanks around them, as they read back.
    written[{LowerCase(TrimBlanks(section)), LowerCase(key)}] = TrimBlanks(value);
    sections.insert(LowerCase(TrimBlanks(section)));
    for (const auto &[name, expected] : written)
      if (fresh.ReadString(name.first, name.second, kAbsent) != expected)
        fuzz::Fail("a value written earlier no longer reads back");
    if (fresh.ReadSections().size() != sections.size())
      fuzz::Fail("the file holds other sections than written");
    if (UsedLines(FileText(freshPath)) != sections.size() + written.size())
      fuzz::Fail("the file holds other lines than its sections and keys");
  }
  (void)seeded.EraseSection(parts.size() > 1 ? parts[1] : std::string());
  return 0;
}
