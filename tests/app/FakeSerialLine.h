#pragma once
// A serial line in memory: chosen port numbers open, written bytes are
// recorded and, when asked, echoed back through the event loop as a
// bootloader would.
#include <QObject>
#include <QMetaObject>
#include <set>
#include <string>
#include <vector>

#include "SerialLine.h"

class FakeSerialLine : public SerialLine {
 public:
  std::set<int> usablePorts{2};
  std::vector<std::string> opens;  // "n settings", every attempt
  std::vector<uint8_t> written;
  bool echo = false;
  int corruptEcho = 0;  // 1-based count of the written byte to echo wrongly
  // Opening resets the board, as DTR does: it signals, and echoes nothing
  // until it has been answered.
  bool resetOnOpen = false;
  std::function<void()> onOpen;

  bool Open(int portNumber, const std::string& settings, std::string& error) override {
    opens.push_back(std::to_string(portNumber) + " " + settings);
    if (onOpen) onOpen();
    open_ = usablePorts.count(portNumber) != 0;
    device_ = "/dev/fake" + std::to_string(portNumber);
    if (!open_) error = "no such device";
    if (open_ && resetOnOpen) {
      awaitingAnswer_ = true;
      Later("U");
    }
    return open_;
  }
  void Close() override { open_ = false; }
  bool IsOpen() const override { return open_; }
  void WriteByte(uint8_t value) override {
    if (!open_) return;
    written.push_back(value);
    if (awaitingAnswer_) {
      awaitingAnswer_ = value != 0x55;
      return;
    }
    if (!echo) return;
    const bool wrong = static_cast<int>(written.size()) == corruptEcho;
    Later(std::string(1, static_cast<char>(wrong ? value ^ 0xFF : value)));
  }
  std::string ReadAll() override { return std::exchange(input_, std::string()); }
  std::string DevicePath() const override { return device_; }

  // Bytes arrive from the device.
  void Receive(const std::string& bytes) {
    input_ += bytes;
    if (onReceive) onReceive();
  }
  // The device goes away.
  void Fail(const std::string& why) {
    open_ = false;
    if (onFailure) onFailure(why);
  }

 private:
  // Bytes that arrive through the event loop, once the caller has returned.
  void Later(const std::string& bytes) {
    QMetaObject::invokeMethod(&context_, [this, bytes] { Receive(bytes); }, Qt::QueuedConnection);
  }

  bool open_ = false;
  bool awaitingAnswer_ = false;
  std::string device_, input_;
  QObject context_;
};
