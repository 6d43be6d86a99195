#include "RealTimePace.h"

void RealTimePace::Start(Clock::time_point start, uint64_t cycle) {
  wallOrigin_ = start;
  cycleOrigin_ = cycle;
}

uint64_t RealTimePace::Target(Clock::time_point now, uint64_t cycle) {
  if (now <= wallOrigin_) return cycleOrigin_;
  const double seconds = std::chrono::duration<double>(now - wallOrigin_).count();
  const uint64_t target = cycleOrigin_ + static_cast<uint64_t>(seconds * cyclesPerSecond_);
  const auto behind = static_cast<uint64_t>(std::chrono::duration<double>(mostBehind_).count() * cyclesPerSecond_);
  if (target <= cycle + behind) return target;
  // What was lost beyond that is given up: the wall clock's origin moves on.
  const double lost = static_cast<double>(target - (cycle + behind)) / cyclesPerSecond_;
  wallOrigin_ += std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(lost));
  return cycle + behind;
}

RealTimePace::Clock::time_point RealTimePace::WallTimeOf(uint64_t cycle) const {
  const double seconds = (static_cast<double>(cycle) - static_cast<double>(cycleOrigin_)) / cyclesPerSecond_;
  return wallOrigin_ + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}
