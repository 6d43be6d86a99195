#pragma once
// What the download command and the link protocol need from the world.
#include <cstdint>
#include <string_view>

// How a transfer ended, reported once, when the outcome is known.
struct TransferOutcome {
  enum class Kind { Completed, WrongEcho, LineLost };
  Kind kind;
  int32_t slot;    // the slot in flight; the last slot when completed
  int32_t length;  // FrameLength
  int32_t sent = -1;      // with a wrong echo: the byte sent
  int32_t received = -1;  // and the byte that came back
};

class LinkHost {
 public:
  virtual ~LinkHost() = default;
  virtual bool PortIsOpen() const = 0;
  // Sends one byte on the serial line.
  virtual void WriteByte(uint8_t value) = 0;
  // Caption of label_status.
  virtual void SetStatus(std::string_view text) = 0;
  // Lets pending events run once, which may run a nested receive.
  virtual void PumpEvents() = 0;
  // Blocks for this many milliseconds.
  virtual void Pause(int milliseconds) = 0;
  // The outcome of a transfer, before it is kept on view; a host that keeps
  // no record of it ignores it.
  virtual void TransferEnded(const TransferOutcome&) {}
};
