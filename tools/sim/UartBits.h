#pragma once
// A serial line as levels on a pin over chip cycles: 8 data bits, no parity,
// one stop bit, least significant bit first, idle high.
#include <cstdint>
#include <deque>
#include <limits>
#include <vector>

inline constexpr uint64_t kNever = std::numeric_limits<uint64_t>::max();

// The ten levels of one byte on the line, start bit first.
std::vector<bool> UartFrameBits(uint8_t value);

// Decodes the levels of a transmit pin into bytes, sampling each bit in its
// middle as a receiver would.
class UartDecoder {
 public:
  // The pin changed to high (or low) at cycle; bitCycles is the line's bit
  // time then, which a falling edge that starts a byte keeps for that byte.
  void Level(uint64_t cycle, bool high, uint64_t bitCycles);
  // Appends the bytes whose stop bit lies at or before now.
  void Collect(uint64_t now, std::vector<uint8_t>& out);
  // The cycle by which the byte in progress is complete; kNever when idle.
  uint64_t Due() const;
  // The transmitter was reset: a byte in progress never completes, and the
  // line is idle again.
  void Abandon();

 private:
  struct Edge {
    uint64_t cycle;
    bool high;
    uint64_t bitCycles;
  };
  bool LevelAt(uint64_t cycle) const;
  void FindStart();

  std::deque<Edge> edges_;  // from the start bit of the byte in progress on
  bool levelBefore_ = true;  // the level before the first edge kept
  bool started_ = false;
};
