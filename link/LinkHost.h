#pragma once
// What the download command and the link protocol need from the world.
#include <cstdint>
#include <string_view>

// How a transfer ended, for hosts that act on it rather than show it.
struct TransferOutcome {
  enum class Kind { Completed, WrongEcho, LineLost };
  Kind kind = Kind::Completed;
  int32_t slot = 0;    // the slot in flight; the last one when completed
  int32_t length = 0;  // FrameLength
  uint8_t sent = 0;      // the byte of that slot
  uint8_t received = 0;  // its echo; for LineLost the last byte received
  // The bootloader echoes a byte it refuses inverted.
  bool Refused() const { return kind == Kind::WrongEcho && received == (sent ^ 0xFF); }
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
  // Raised once per transfer, as soon as its outcome is known, before the
  // outcome text is shown. A host that only shows the texts ignores it.
  virtual void TransferEnded(const TransferOutcome&) {}
};
