#include "SimLine.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

PseudoTerminal::~PseudoTerminal() { Close(); }

bool PseudoTerminal::Open(std::string& error) {
  master_ = posix_openpt(O_RDWR | O_NOCTTY);
  char name[128];
  termios settings{};
  const bool ok = master_ >= 0 && grantpt(master_) == 0 && unlockpt(master_) == 0 &&
                  ptsname_r(master_, name, sizeof name) == 0 && tcgetattr(master_, &settings) == 0;
  if (ok) {
    // The line discipline is shared by both ends: raw here is raw for the host.
    cfmakeraw(&settings);
    settings.c_cflag |= CLOCAL | CREAD;
  }
  if (!ok || tcsetattr(master_, TCSANOW, &settings) != 0 ||
      fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK) != 0) {
    error = std::string("cannot create a pseudo-terminal: ") + std::strerror(errno);
    Close();
    return false;
  }
  devicePath_ = name;
  // A pair never opened on the host's side reports no hang-up, as if a host
  // held it; one open and close of that side makes "no host" show at once.
  if (const int peer = OpenPeer(); peer >= 0) close(peer);
  return true;
}

void PseudoTerminal::Close() {
  if (master_ >= 0) close(master_);
  master_ = -1;
}

bool PseudoTerminal::HostPresent() const {
  // Until some process holds the device open, the master reports a hang-up.
  pollfd entry{master_, POLLIN, 0};
  return master_ >= 0 && poll(&entry, 1, 0) >= 0 && (entry.revents & POLLHUP) == 0;
}

int PseudoTerminal::OpenPeer() const {
  return master_ < 0 ? -1 : ioctl(master_, TIOCGPTPEER, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
}

void PseudoTerminal::Flush() {
  if (master_ < 0) return;
  tcflush(master_, TCIOFLUSH);
  // What the host did not read waits on its side of the pair, where the
  // next host would read it: a signal meant for the last one, say.
  const int peer = OpenPeer();
  if (peer < 0) return;
  tcflush(peer, TCIFLUSH);
  close(peer);
}

int PseudoTerminal::UnreadByHost() const {
  const int peer = OpenPeer();
  if (peer < 0) return -1;
  int count = -1;
  if (ioctl(peer, FIONREAD, &count) != 0) count = -1;
  close(peer);
  return count;
}

void PseudoTerminal::AwaitHostClose(std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  uint8_t ignored[64];
  while (HostPresent() && Read(ignored, sizeof ignored) >= 0) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd entry{master_, POLLIN, 0};
    if (left.count() <= 0 || poll(&entry, 1, static_cast<int>(left.count())) <= 0) return;
  }
}

void PseudoTerminal::WriteByte(uint8_t value) {
  while (master_ >= 0 && write(master_, &value, 1) < 0 && errno == EINTR) {
  }
}

int PseudoTerminal::Read(uint8_t* buffer, size_t size) {
  const ssize_t count = read(master_, buffer, size);
  if (count > 0) return static_cast<int>(count);
  if (count < 0 && (errno == EAGAIN || errno == EINTR)) return 0;
  return -1;  // EIO: the last holder of the device has closed it
}

namespace {
timespec ToTimespec(LinePacer::Clock::time_point when) {
  const auto since = when.time_since_epoch();
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(since);
  return {static_cast<time_t>(seconds.count()),
          static_cast<long>(std::chrono::nanoseconds(since - seconds).count())};
}

void WaitUntil(LinePacer::Clock::time_point deadline) {
  // The kernel wakes a sleeper some tens of microseconds late; sleep short of
  // the deadline and spin the rest, since a byte at 115200 baud is 87 us.
  const auto wake = deadline - std::chrono::microseconds(60);
  if (LinePacer::Clock::now() < wake) {
    const timespec until = ToTimespec(wake);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
    }
  }
  while (LinePacer::Clock::now() < deadline) {
  }
}
}  // namespace

LinePacer::LinePacer(int baud, int latencyUs)
    : byteTime_(baud > 0 ? std::chrono::duration_cast<Clock::duration>(
                               std::chrono::duration<double>(10.0 / baud))
                         : Clock::duration::zero()),
      latency_(std::chrono::microseconds(latencyUs)) {}

LinePacer::Clock::time_point LinePacer::Arrival(Clock::time_point readAt) {
  if (byteTime_ == Clock::duration::zero()) return readAt;
  receiverFree_ = std::max(readAt, receiverFree_) + byteTime_;
  return receiverFree_;
}

void LinePacer::WaitToDeliver(Clock::time_point readyAt) {
  if (byteTime_ == Clock::duration::zero() && latency_ == Clock::duration::zero()) return;
  transmitterFree_ = std::max(readyAt, transmitterFree_) + byteTime_;
  // The adapter holds the byte on its way; the line is free meanwhile.
  WaitUntil(transmitterFree_ + latency_);
}
