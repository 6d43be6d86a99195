#pragma once
// Follows the link between a host and a real bootloader from both ends of
// the line (the signal, its answer, the frame and each echo), so that the
// chip model can tell when a transfer starts, completes or fails without
// looking inside the chip.
#include <cstdint>
#include <string>
#include <vector>

#include "SimDevice.h"

class LineObserver {
 public:
  enum class Event { None, Started, Completed, Failed };

  // A byte from the host to the chip.
  Event FromHost(uint8_t value);
  // A byte from the chip to the host.
  Event FromChip(uint8_t value);
  // The chip was reset: whatever was under way is over.
  void Reset();

  bool InTransfer() const { return state_ == State::Frame; }
  // The frame so far: header values and the count of bytes echoed.
  const TransferRecord& Transfer() const { return transfer_; }
  // Why the last transfer failed, naming the frame byte.
  const std::string& Failure() const { return failure_; }
  // What the chip sent after the last completed transfer: the program's own.
  const std::vector<uint8_t>& ProgramOutput() const { return output_; }

 private:
  enum class State { Quiet, Signalled, Frame, Done };

  State state_ = State::Quiet;
  std::vector<uint8_t> sent_;  // frame bytes the host sent, slot 1 first
  TransferRecord transfer_;
  std::string failure_;
  std::vector<uint8_t> output_;
};
