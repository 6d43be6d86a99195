#include "HandOver.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QLocalSocket>
#include <QThread>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

namespace {
// A path and its NUL; anything longer is no path.
constexpr qsizetype kLongestMessage = PATH_MAX + 1;
// Long enough for a running copy in a transfer's pause to take a file, and
// for one that took the lock a moment ago to start listening.
constexpr int kHandOverMs = 5000;
constexpr int kRetryMs = 100;
// Out of descriptors, the server waits this long before it accepts again.
constexpr int kResumeMs = 1000;

bool SocketAddress(const std::string& path, sockaddr_un& address) {
  address = sockaddr_un{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) return false;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  return true;
}

const sockaddr* Generic(const sockaddr_un& address) { return reinterpret_cast<const sockaddr*>(&address); }

// Connects, retrying while nobody listens yet; the connected socket or -1.
int ConnectWithin(const sockaddr_un& address, int ms) {
  QElapsedTimer waited;
  waited.start();
  for (;;) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    // A copy that has stopped taking files (its queue full) must not hold this one.
    const timeval limit{ms / 1000, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    if (::connect(fd, Generic(address), sizeof address) == 0) return fd;
    const int error = errno;
    ::close(fd);
    errno = error;
    if (waited.elapsed() >= ms) return -1;
    QThread::msleep(kRetryMs);
  }
}

bool WriteAll(int fd, const std::string& bytes) {
  for (size_t done = 0; done < bytes.size();) {
    const ssize_t wrote = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (wrote < 0 && errno != EINTR) return false;
    if (wrote > 0) done += static_cast<size_t>(wrote);
  }
  return true;
}
}  // namespace

HandOverServer::HandOverServer(Take take) : take_(std::move(take)) {
  resume_.setSingleShot(true);
  resume_.setInterval(kResumeMs);
  connect(&resume_, &QTimer::timeout, this, [this] { notifier_.setEnabled(true); });
  connect(&notifier_, &QSocketNotifier::activated, this, [this] { Accept(); });
}

HandOverServer::~HandOverServer() {
  if (fd_ < 0) return;
  notifier_.setEnabled(false);
  ::close(fd_);
  ::unlink(path_.c_str());
}

bool HandOverServer::Listen(const std::string& socketPath, std::string& why) {
  sockaddr_un address;
  if (!SocketAddress(socketPath, address)) {
    why = "the path " + socketPath + " is too long for a socket";
    return false;
  }
  fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  ::unlink(socketPath.c_str());  // left by a copy that crashed; the lock is ours
  if (fd_ < 0 || ::bind(fd_, Generic(address), sizeof address) != 0 || ::listen(fd_, SOMAXCONN) != 0) {
    why = socketPath + ": " + std::strerror(errno);
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    return false;
  }
  path_ = socketPath;
  notifier_.setSocket(fd_);
  notifier_.setEnabled(true);
  return true;
}

void HandOverServer::Accept() {
  for (;;) {
    const int fd = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0 && (errno == EINTR || errno == ECONNABORTED)) continue;
    if (fd < 0) {
      // Out of descriptors or memory: the server stays; the caller waits in line.
      if (errno != EAGAIN && errno != EWOULDBLOCK) {
        notifier_.setEnabled(false);
        resume_.start();
      }
      return;
    }
    auto* socket = new QLocalSocket(this);
    // Qt stops reading once this much waits: a huge message costs nothing.
    socket->setReadBufferSize(kLongestMessage);
    if (!socket->setSocketDescriptor(fd)) {
      ::close(fd);
      delete socket;
      continue;
    }
    connect(socket, &QLocalSocket::readyRead, socket, [this, socket] { Read(*socket); });
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    // A caller that says nothing does not keep its descriptor.
    QTimer::singleShot(kHandOverMs, socket, [socket] { socket->abort(); });
  }
}

void HandOverServer::Read(QLocalSocket& socket) {
  const QByteArray data = socket.peek(kLongestMessage);
  const qsizetype end = data.indexOf('\0');
  if (end < 0 && data.size() < kLongestMessage) return;  // more to come
  socket.abort();
  // Too long, empty or relative: dropped.
  if (end > 0 && data.startsWith('/')) take_(data.left(end).toStdString());
}

int HandToRunningCopy(const std::string& socketPath, const std::string& path) {
  const std::string message = path + '\0';
  sockaddr_un address;
  std::string why = "the path is too long";
  if (message.size() <= static_cast<size_t>(kLongestMessage) && SocketAddress(socketPath, address)) {
    const int fd = ConnectWithin(address, kHandOverMs);
    const bool sent = fd >= 0 && WriteAll(fd, message);
    why = std::strerror(errno);
    if (fd >= 0) ::close(fd);
    if (sent) return 0;
  }
  std::fprintf(stderr, "zentrel: %s was not handed to the running window: %s\n", path.c_str(), why.c_str());
  return 1;
}
