#pragma once
// Chip time held to the wall clock, for a simulated chip that a host talks
// to: the chip may run up to the cycle that the wall clock has reached, never
// further; when it has fallen behind by more than a little (a loaded machine
// starved it), it gives up what it lost beyond that rather than racing to
// catch up, so that it never runs ahead of the wall clock afterwards either.
#include <chrono>
#include <cstdint>

class RealTimePace {
 public:
  using Clock = std::chrono::steady_clock;

  RealTimePace(double cyclesPerSecond, Clock::duration mostBehind)
      : cyclesPerSecond_(cyclesPerSecond), mostBehind_(mostBehind) {}

  // The chip stands at cycle at wall time start (which may lie ahead).
  void Start(Clock::time_point start, uint64_t cycle);
  // The cycle the chip, now at cycle, may run to at wall time now.
  uint64_t Target(Clock::time_point now, uint64_t cycle);
  // The wall time at which the chip may reach cycle.
  Clock::time_point WallTimeOf(uint64_t cycle) const;

 private:
  double cyclesPerSecond_;
  Clock::duration mostBehind_;
  Clock::time_point wallOrigin_;
  uint64_t cycleOrigin_ = 0;
};
