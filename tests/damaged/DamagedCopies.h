// Deterministic damaged copies of generated media: files cut short at a fraction of
// their bytes, and files with bits flipped at places drawn from a fixed seed. The same
// source and damage always give the same bytes, so a failure can be replayed.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace tovi::test {

struct TDamage {
  enum TKind { Cut, Flip };
  std::string Name; // part of file and test names: "cut10", "flip3", ...
  TKind Kind = Cut;
  // Cut: the share of the bytes kept (1.0 keeps all but the last byte).
  double Kept = 1.0;
  // Flip: the seed, one flipped bit per `BytesPerFlip` bytes (at least 8 bits), and the
  // share of the file at its start left alone (0 lets headers be hit as well).
  std::uint32_t Seed = 0;
  std::int64_t BytesPerFlip = 0;
  double SparedHead = 0;
};

// Every damage: cuts at 1 %, 10 %, 50 % and 90 % and one byte short, and four flipped
// copies (sparse anywhere, twice; denser past the headers, twice).
std::vector<TDamage> AllDamages();
const TDamage &DamageNamed(const std::string &name);

// The bytes of `source` damaged as `damage` says.
std::string DamagedBytes(const std::string &source, const TDamage &damage);

// Writes the damaged copy of `source` into `folder` as "<stem>_<damage><ext>" and
// returns its path.
std::string WriteDamagedCopy(const std::filesystem::path &source, const TDamage &damage,
                             const std::filesystem::path &folder);

} // namespace tovi::test
