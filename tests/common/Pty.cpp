#include "common/Pty.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

#include <filesystem>
#include <stdexcept>

namespace fs = std::filesystem;

Pty::Pty() {
  char name[256] = {};
  if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0)
    throw std::runtime_error("openpty failed");
  path_ = name;
  // Keeping a slave handle open lets the master read without a hang-up
  // before the port opens; raw mode keeps every byte value intact.
  termios raw{};
  tcgetattr(slave_, &raw);
  cfmakeraw(&raw);
  tcsetattr(slave_, TCSANOW, &raw);
}

Pty::~Pty() {
  CloseDeviceSide();
  if (slave_ >= 0) close(slave_);
}

void Pty::Send(const std::string& bytes) const {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(master_, bytes.data() + done, bytes.size() - done);
    if (n <= 0) throw std::runtime_error("pty write failed");
    done += static_cast<size_t>(n);
  }
}

std::string Pty::Receive(size_t count, int timeoutMs) const {
  std::string bytes;
  while (bytes.size() < count) {
    pollfd waiting{master_, POLLIN, 0};
    if (poll(&waiting, 1, timeoutMs) <= 0) break;
    char buffer[512];
    ssize_t n = read(master_, buffer, std::min(sizeof buffer, count - bytes.size()));
    if (n <= 0) break;
    bytes.append(buffer, static_cast<size_t>(n));
  }
  return bytes;
}

unsigned Pty::OutputSpeed() const {
  termios settings{};
  tcgetattr(slave_, &settings);
  return cfgetospeed(&settings);
}

void Pty::CloseDeviceSide() {
  if (master_ >= 0) close(master_);
  master_ = -1;
}

int OpenAsNormalUser(const std::string& device) {
  auto tryOpen = [&] {
    const int fd = open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    return fd < 0 ? errno : close(fd);
  };
  if (geteuid() != 0) return tryOpen();
  chmod(device.c_str(), 0666);
  const pid_t child = fork();
  if (child == 0) _exit(setgid(65534) == 0 && setuid(65534) == 0 ? tryOpen() : 255);  // nobody
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 255;
}

void MapPorts(const std::string& mapDir, const std::map<int, const Pty*>& usable) {
  fs::create_directories(mapDir);
  const fs::path nothing = fs::path(mapDir) / "nothing";
  for (int n = 1; n <= 12; ++n) {
    const fs::path link = fs::path(mapDir) / ("COM" + std::to_string(n));
    fs::remove(link);
    auto it = usable.find(n);
    fs::create_symlink(it == usable.end() ? nothing : fs::path(it->second->devicePath()), link);
  }
}

RawHost::RawHost(const std::string& device) {
  fd_ = open(device.c_str(), O_RDWR | O_NOCTTY);
  termios settings{};
  if (fd_ < 0 || tcgetattr(fd_, &settings) != 0) throw std::runtime_error("cannot open " + device);
  cfmakeraw(&settings);
  tcsetattr(fd_, TCSANOW, &settings);
}

void RawHost::Close() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

int RawHost::ReadByte(int timeoutMs) {
  pollfd entry{fd_, POLLIN, 0};
  if (poll(&entry, 1, timeoutMs) <= 0) return kTimedOut;
  uint8_t value = 0;
  return read(fd_, &value, 1) == 1 ? value : kClosed;
}

void RawHost::Send(uint8_t value) {
  if (write(fd_, &value, 1) != 1) throw std::runtime_error("host write failed");
}

bool RawHost::AnswerSignal() {
  if (ReadByte() != 0x55) return false;
  Send(0x55);
  return true;
}

int RawHost::SendFrame(const std::vector<uint8_t>& frame, int echoTimeoutMs) {
  for (size_t k = 0; k < frame.size(); ++k) {
    Send(frame[k]);
    lastReply = ReadByte(echoTimeoutMs);
    if (lastReply != frame[k]) return static_cast<int>(k + 1);
  }
  return 0;
}
