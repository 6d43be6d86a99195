#pragma once
// Real pseudo-terminals standing in for serial devices, a port map that
// names them, so tests never touch the machine's own serial ports, and a
// raw host that speaks to a bootloader on one.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

class Pty {
 public:
  Pty();
  ~Pty();
  Pty(const Pty&) = delete;
  Pty& operator=(const Pty&) = delete;

  const std::string& devicePath() const { return path_; }
  // The device side of the line.
  void Send(const std::string& bytes) const;
  // Collects up to count bytes, waiting at most timeoutMs for each.
  std::string Receive(size_t count, int timeoutMs = 2000) const;
  // Speed the port's owner set on the line (a termios B... constant).
  unsigned OutputSpeed() const;
  // The device goes away: the port's owner sees a hang-up.
  void CloseDeviceSide();

 private:
  int master_ = -1;
  int slave_ = -1;
  std::string path_;
};

// The errno of a plain open() of device by a user without root's rights (as
// root: by nobody, the device opened to every user first); 0 when it opens.
// Root opens a device left in exclusive mode; nobody else does.
int OpenAsNormalUser(const std::string& device);

// Writes links COM1..COM12 into mapDir: the given ports to their devices,
// every other one to mapDir/nothing, which does not exist.
void MapPorts(const std::string& mapDir, const std::map<int, const Pty*>& usable);

// The host side of a line, opened raw by path: answers the signal and sends a
// frame stop-and-wait, as a minimal download host does.
class RawHost {
 public:
  static constexpr int kTimedOut = -1;
  static constexpr int kClosed = -2;

  explicit RawHost(const std::string& device);
  ~RawHost() { Close(); }
  RawHost(const RawHost&) = delete;
  RawHost& operator=(const RawHost&) = delete;

  void Close();
  // The next byte, or kTimedOut / kClosed.
  int ReadByte(int timeoutMs = 5000);
  void Send(uint8_t value);
  // Waits for the signal and answers it; false if none came.
  bool AnswerSignal();
  // 0 when every echo matched, else the number of the first frame byte
  // whose echo was wrong or missing; what came instead is in lastReply.
  int SendFrame(const std::vector<uint8_t>& frame, int echoTimeoutMs = 5000);

  int lastReply = 0;

 private:
  int fd_ = -1;
};
