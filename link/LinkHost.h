#pragma once
// What the download command and the link protocol need from the world.
#include <cstdint>
#include <string_view>

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
};
