#pragma once
// Files handed from a later start ("zentrel FILE.hex", "Open with") to the
// copy that runs, over a socket in the user's private runtime folder: one
// absolute path a connection, NUL-ended (the one byte no path holds).
#include <QObject>
#include <QSocketNotifier>
#include <QTimer>
#include <functional>
#include <string>

class QLocalSocket;

class HandOverServer : public QObject {
 public:
  using Take = std::function<void(const std::string& path)>;
  explicit HandOverServer(Take take);
  ~HandOverServer() override;
  HandOverServer(const HandOverServer&) = delete;
  HandOverServer& operator=(const HandOverServer&) = delete;

  // False, with the reason, when the socket cannot be made.
  bool Listen(const std::string& socketPath, std::string& why);

 private:
  void Accept();
  void Read(QLocalSocket& socket);

  Take take_;
  int fd_ = -1;
  std::string path_;
  QSocketNotifier notifier_{QSocketNotifier::Read};
  // After a failed accept (no descriptor left), when to look again.
  QTimer resume_;
};

// A later start's side: 0 once the path is on its way to the running copy,
// else 1 after saying why on stderr.
int HandToRunningCopy(const std::string& socketPath, const std::string& path);
