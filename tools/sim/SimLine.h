#pragma once
// The device's end of the line: the master side of a pseudo-terminal, raw,
// and the pacing of a real serial line at a given baud rate.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

class PseudoTerminal {
 public:
  PseudoTerminal() = default;
  ~PseudoTerminal();
  PseudoTerminal(const PseudoTerminal&) = delete;
  PseudoTerminal& operator=(const PseudoTerminal&) = delete;

  // Creates the pair, raw on both sides; false with the reason.
  bool Open(std::string& error);
  void Close();
  int Fd() const { return master_; }
  const std::string& DevicePath() const { return devicePath_; }

  // A host holds the device open.
  bool HostPresent() const;
  // Drops what waits in either direction, so a new host starts clean.
  void Flush();
  // Bytes written here that the host has not read yet; -1 where the host's
  // side cannot be seen (a host that holds the device exclusively).
  int UnreadByHost() const;
  // Before the device goes away: waits, at most limit, for the host to close
  // the line, since closing first would discard what the host has not read.
  void AwaitHostClose(std::chrono::milliseconds limit);
  // Sends one byte as one write.
  void WriteByte(uint8_t value);
  // Bytes read (0 when none waits), or -1 when the host has closed the line.
  int Read(uint8_t* buffer, size_t size);

 private:
  // A handle on the host's side of the pair, -1 if refused; close it soon.
  int OpenPeer() const;

  int master_ = -1;
  std::string devicePath_;
};

class LinePacer {
 public:
  using Clock = std::chrono::steady_clock;
  // baud 0: the line costs no time. latencyUs: what a USB adapter adds
  // before a byte it received reaches the host.
  explicit LinePacer(int baud, int latencyUs = 0);

  // When a byte that was read at readAt has fully arrived over the line;
  // bytes read together arrive one after the other.
  Clock::time_point Arrival(Clock::time_point readAt);
  // Waits until a byte that may start at readyAt has fully reached the host,
  // the adapter's latency included.
  void WaitToDeliver(Clock::time_point readyAt);

 private:
  Clock::duration byteTime_;
  Clock::duration latency_;
  Clock::time_point receiverFree_;
  Clock::time_point transmitterFree_;
};
