// One file's progress as the user sees it: a share that never goes back and reaches
// 100 % only when the file is done, the time spent on it and an estimate of the time
// left. The engine's reports may step back (the slowest stream decides the time reached)
// and the last periodic one usually stops short of the end.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace tovi::cli {

class TProgressFigure {
public:
  using TClock = std::chrono::steady_clock;

  // The file's conversion began at `start`; later calls do nothing.
  void Start(TClock::time_point start);
  bool Started() const { return started_; }
  // A progress report: output time reached and expected (microseconds; total <= 0 =
  // unknown). Below 100 % until Finish. True when the whole percentage shown changed.
  bool Update(std::int64_t currentUs, std::int64_t totalUs, TClock::time_point now);
  // The file is complete: 100 %. True when that changed the figure.
  bool Finish(TClock::time_point now);

  bool Known() const { return fraction_ >= 0; }
  // 0..100 with one decimal; -1 while the total is unknown.
  double Percent() const { return fraction_ < 0 ? -1 : double(std::int64_t(fraction_ * 1000)) / 10; }
  double ElapsedSeconds() const { return elapsed_; }
  // Estimated from the pace so far; -1 while unknown (too little done to tell).
  double LeftSeconds() const;
  // "42%  elapsed 0:03  left 0:04" ("?%" while the total is unknown).
  std::string Text() const;

private:
  bool started_ = false;
  TClock::time_point start_{};
  double fraction_ = -1; // 0..1
  double elapsed_ = 0;   // seconds
};

// "0:07", "12:34", "1:02:03".
std::string ClockText(double seconds);

} // namespace tovi::cli
