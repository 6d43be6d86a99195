#include "UartBits.h"

std::vector<bool> UartFrameBits(uint8_t value) {
  std::vector<bool> bits{false};
  for (int bit = 0; bit < 8; ++bit) bits.push_back(((value >> bit) & 1) != 0);
  bits.push_back(true);
  return bits;
}

void UartDecoder::Level(uint64_t cycle, bool high, uint64_t bitCycles) {
  const bool previous = edges_.empty() ? levelBefore_ : edges_.back().high;
  if (high == previous) return;
  edges_.push_back({cycle, high, bitCycles});
  if (!started_) FindStart();
}

void UartDecoder::FindStart() {
  // Idle high until a falling edge: what comes before it is no byte.
  while (!edges_.empty() && edges_.front().high) {
    levelBefore_ = true;
    edges_.pop_front();
  }
  started_ = !edges_.empty();
}

bool UartDecoder::LevelAt(uint64_t cycle) const {
  bool level = levelBefore_;
  for (const Edge& edge : edges_) {
    if (edge.cycle > cycle) break;
    level = edge.high;
  }
  return level;
}

void UartDecoder::Abandon() {
  edges_.clear();
  levelBefore_ = true;
  started_ = false;
}

uint64_t UartDecoder::Due() const {
  if (!started_) return kNever;
  const Edge& start = edges_.front();
  return start.cycle + start.bitCycles * 19 / 2;
}

void UartDecoder::Collect(uint64_t now, std::vector<uint8_t>& out) {
  while (started_ && Due() <= now) {
    const uint64_t start = edges_.front().cycle;
    const uint64_t bit = edges_.front().bitCycles;
    uint8_t value = 0;
    for (int k = 0; k < 8; ++k) {
      if (LevelAt(start + bit * (2 * k + 3) / 2)) value |= static_cast<uint8_t>(1 << k);
    }
    out.push_back(value);
    // The next byte starts with a falling edge after the stop bit's middle.
    const uint64_t stop = Due();
    while (!edges_.empty() && edges_.front().cycle <= stop) {
      levelBefore_ = edges_.front().high;
      edges_.pop_front();
    }
    // A line still low here (a break) must rise before a byte can start.
    started_ = false;
    FindStart();
  }
}
