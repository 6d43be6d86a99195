#pragma once
// Real pseudo-terminals standing in for serial devices, and a port map that
// names them, so tests never touch the machine's own serial ports.
#include <map>
#include <string>

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

// Writes links COM1..COM12 into mapDir: the given ports to their devices,
// every other one to mapDir/nothing, which does not exist.
void MapPorts(const std::string& mapDir, const std::map<int, const Pty*>& usable);
