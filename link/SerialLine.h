#pragma once
// The serial line to the bootloader: 8-bit transparent both ways, no flow
// control. Port numbers name devices through the per-user port map.
#include <cstdint>
#include <functional>
#include <string>

class SerialLine {
 public:
  virtual ~SerialLine() = default;
  // Opens port number n with line settings such as "19200,n,8,1". On failure
  // returns false and says why in error (for the user: a hint included).
  virtual bool Open(int portNumber, const std::string& settings, std::string& error) = 0;
  // Closing a closed line does nothing.
  virtual void Close() = 0;
  virtual bool IsOpen() const = 0;
  // Sends one byte; does nothing when the line is closed.
  virtual void WriteByte(uint8_t value) = 0;
  // Every byte received and not yet read, in order; empty when none waits.
  virtual std::string ReadAll() = 0;
  // The device that the last Open resolved its number to ("" if none).
  virtual std::string DevicePath() const = 0;
  // A stamp of the device that port number n names now: it changes when the
  // device is made anew (an adapter plugged back) or its access changes;
  // "" when there is no such device.
  virtual std::string DeviceStamp(int portNumber) const = 0;

  // Raised after bytes have arrived.
  std::function<void()> onReceive;
  // Raised once when the device has gone (unplugged, read or write error);
  // the line is closed by then.
  std::function<void(const std::string& why)> onFailure;
};
