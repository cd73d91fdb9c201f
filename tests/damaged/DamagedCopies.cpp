#include "DamagedCopies.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

namespace tovi::test {

std::vector<TDamage> AllDamages() {
  std::vector<TDamage> all;
  for (const auto &[name, kept] :
       {std::pair{"cut1", 0.01}, {"cut10", 0.10}, {"cut50", 0.50}, {"cut90", 0.90}})
    all.push_back({.Name = name, .Kind = TDamage::Cut, .Kept = kept});
  all.push_back({.Name = "short1", .Kind = TDamage::Cut, .Kept = 1.0});
  all.push_back({.Name = "flip1", .Kind = TDamage::Flip, .Seed = 1, .BytesPerFlip = 1 << 30});
  all.push_back({.Name = "flip2", .Kind = TDamage::Flip, .Seed = 2, .BytesPerFlip = 1 << 30});
  all.push_back({.Name = "flip3", .Kind = TDamage::Flip, .Seed = 3, .BytesPerFlip = 1024, .SparedHead = 0.1});
  all.push_back({.Name = "flip4", .Kind = TDamage::Flip, .Seed = 4, .BytesPerFlip = 256, .SparedHead = 0.1});
  return all;
}

const TDamage &DamageNamed(const std::string &name) {
  static const std::vector<TDamage> all = AllDamages();
  for (const TDamage &d : all)
    if (d.Name == name) return d;
  throw std::invalid_argument("no damage named " + name);
}

std::string DamagedBytes(const std::string &source, const TDamage &damage) {
  std::string bytes = source;
  const auto size = static_cast<std::int64_t>(bytes.size());
  if (size == 0) return bytes;
  if (damage.Kind == TDamage::Cut) {
    const auto kept = damage.Kept >= 1.0 ? size - 1 : static_cast<std::int64_t>(double(size) * damage.Kept);
    bytes.resize(static_cast<std::size_t>(std::clamp<std::int64_t>(kept, 0, size - 1)));
    return bytes;
  }
  // mt19937's output sequence is fixed by the standard (its distributions are not), so
  // positions are taken from the raw numbers.
  std::mt19937 random(damage.Seed);
  const auto head = static_cast<std::int64_t>(double(size) * damage.SparedHead);
  const std::int64_t span = size - head;
  const std::int64_t flips = std::max<std::int64_t>(8, size / damage.BytesPerFlip);
  for (std::int64_t i = 0; i < flips; ++i) {
    const std::uint64_t draw = (std::uint64_t(random()) << 32) | random();
    const std::int64_t bit = static_cast<std::int64_t>(draw % std::uint64_t(span * 8));
    bytes[std::size_t(head + bit / 8)] ^= static_cast<char>(1 << (bit % 8));
  }
  return bytes;
}

std::string WriteDamagedCopy(const std::filesystem::path &source, const TDamage &damage,
                             const std::filesystem::path &folder) {
  std::ifstream in(source, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + source.string());
  const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  const std::filesystem::path copy =
      folder / (source.stem().string() + "_" + damage.Name + source.extension().string());
  std::ofstream out(copy, std::ios::binary | std::ios::trunc);
  out << DamagedBytes(bytes, damage);
  if (!out.flush()) throw std::runtime_error("cannot write " + copy.string());
  return copy.string();
}

} // namespace tovi::test
