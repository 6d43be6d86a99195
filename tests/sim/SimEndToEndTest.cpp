// zentrel-sim driven over its pseudo-terminal by a small blocking host.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "common/TestSupport.h"
#include "sim/SimFrames.h"

extern char** environ;

namespace {
// Generous bounds: they only keep a broken simulator from hanging the suite.
constexpr int kWaitMs = 5000;

class SimProcess {
 public:
  explicit SimProcess(const std::vector<std::string>& args) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0) throw std::runtime_error("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    std::vector<std::string> argv = {BinPath("zentrel-sim")};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> pointers;
    for (std::string& arg : argv) pointers.push_back(arg.data());
    pointers.push_back(nullptr);
    const int failed = posix_spawn(&pid_, argv[0].c_str(), &actions, nullptr, pointers.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    out_ = pipeFds[0];
    if (failed != 0) throw std::runtime_error("cannot start " + argv[0]);
  }

  ~SimProcess() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    close(out_);
  }

  // The next line of its standard output, "" on end or time-out.
  std::string ReadLine() {
    for (;;) {
      if (size_t end = buffer_.find('\n'); end != std::string::npos) {
        std::string line = buffer_.substr(0, end);
        buffer_.erase(0, end + 1);
        return line;
      }
      pollfd entry{out_, POLLIN, 0};
      char chunk[256];
      ssize_t count = 0;
      if (poll(&entry, 1, kWaitMs) <= 0 || (count = read(out_, chunk, sizeof chunk)) <= 0) return "";
      buffer_.append(chunk, count);
    }
  }

  // The device path from the first line, "" if the line is not there.
  std::string Device() {
    const std::string line = ReadLine();
    return line.rfind("device ", 0) == 0 ? line.substr(7) : "";
  }

  // Everything it prints until it closes its output.
  std::string Rest() {
    std::string text;
    for (std::string line = ReadLine(); !line.empty(); line = ReadLine()) text += line + "\n";
    return text;
  }

  // Exit status, or -1 when it is still running after the wait.
  int Wait() {
    for (int waited = 0; waited < kWaitMs; waited += 10) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      usleep(10000);
    }
    return -1;
  }

  void Signal(int number) { kill(pid_, number); }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  std::string buffer_;
};

constexpr int kTimedOut = -1;
constexpr int kClosed = -2;

class TestHost {
 public:
  explicit TestHost(const std::string& device) {
    fd_ = open(device.c_str(), O_RDWR | O_NOCTTY);
    termios settings{};
    if (fd_ < 0 || tcgetattr(fd_, &settings) != 0) throw std::runtime_error("cannot open " + device);
    cfmakeraw(&settings);
    tcsetattr(fd_, TCSANOW, &settings);
  }
  ~TestHost() { Close(); }

  void Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }

  int ReadByte(int timeoutMs = kWaitMs) {
    pollfd entry{fd_, POLLIN, 0};
    if (poll(&entry, 1, timeoutMs) <= 0) return kTimedOut;
    uint8_t value = 0;
    return read(fd_, &value, 1) == 1 ? value : kClosed;
  }

  void Send(uint8_t value) { ASSERT_EQ(write(fd_, &value, 1), 1); }

  // Waits for the signal and answers it; false if none came.
  bool AnswerSignal() {
    if (ReadByte() != 0x55) return false;
    Send(0x55);
    return true;
  }

  // Sends the frame stop-and-wait. 0 when every echo matched, else the
  // number of the first frame byte whose echo was wrong or missing; what
  // came instead is in lastReply.
  int SendFrame(const std::vector<uint8_t>& frame, int echoTimeoutMs = kWaitMs) {
    for (size_t k = 0; k < frame.size(); ++k) {
      Send(frame[k]);
      lastReply = ReadByte(echoTimeoutMs);
      if (lastReply != frame[k]) return static_cast<int>(k + 1);
    }
    return 0;
  }

  int lastReply = 0;

 private:
  int fd_ = -1;
};

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

std::vector<uint8_t> ExampleFrame() { return BuildFrame(ExampleImage(), 64, 8); }

struct Example {
  TempDir dir;
  Example() { dir.write("example.hex", ExampleHexText()); }
  std::vector<std::string> Args(std::vector<std::string> more) const {
    std::vector<std::string> args = {"--once", "--config", SourcePath("samples/config.txt"),
                                     "--expect", dir.file("example.hex"), "--signal-interval",
                                     "1000"};
    args.insert(args.end(), more.begin(), more.end());
    return args;
  }
};
}  // namespace

TEST(SimEndToEnd, ACorrectTransferVerifiesAndIsDumped) {
  Example example;
  SimProcess sim(example.Args({"--dump", example.dir.file("dump.hex")}));
  TestHost host(sim.Device());
  ASSERT_TRUE(host.AnswerSignal());
  EXPECT_EQ(host.SendFrame(ExampleFrame()), 0) << "got " << host.lastReply;
  host.Close();
  const std::string output = sim.Rest();
  EXPECT_EQ(sim.Wait(), 0) << output;
  EXPECT_TRUE(Contains(output, "transfer complete: 332 bytes in ")) << output;
  EXPECT_TRUE(Contains(output, "verified: 320 bytes programmed, jump to 0x007D00, "
                               "first eight bytes relocated\n"))
      << output;
  const std::string dump = ReadFile(example.dir.file("dump.hex"));
  EXPECT_EQ(dump.substr(0, 44), ":10000000D08E80EF3EF00000FFFFFFFFFFFFFFFFFD\n");
  EXPECT_TRUE(Contains(dump, ":100100000102030405060708090AFFFFFFFFFFFFBE\n")) << dump;
  EXPECT_EQ(ReadFile(example.dir.file("dump.hex.relocated")),
            ":0800000080EF00F0FFFFFFFF9D\n:00000001FF\n");
}

TEST(SimEndToEnd, ADifferenceFailsTheRunAndIsNamed) {
  Example example;
  SimProcess sim(example.Args({}));
  TestHost host(sim.Device());
  ASSERT_TRUE(host.AnswerSignal());
  std::vector<uint8_t> image = ExampleImage();
  image[0x102] = 0x00;
  EXPECT_EQ(host.SendFrame(BuildFrame(image, 64, 8)), 0);
  host.Close();
  const std::string output = sim.Rest();
  EXPECT_EQ(sim.Wait(), 1);
  EXPECT_TRUE(Contains(output, "MISMATCH at 0x0102: expected 0x03, programmed 0x00\n")) << output;
}

TEST(SimEndToEnd, FaultsHitTheirByte) {
  Example example;
  {
    SimProcess sim(example.Args({"--corrupt-echo", "5"}));
    TestHost host(sim.Device());
    ASSERT_TRUE(host.AnswerSignal());
    EXPECT_EQ(host.SendFrame(ExampleFrame()), 5);
    EXPECT_GE(host.lastReply, 0);
    host.Close();
    EXPECT_TRUE(Contains(sim.Rest(), "the host closed the line after 5 of 332 frame bytes"));
    EXPECT_EQ(sim.Wait(), 3);
  }
  {
    SimProcess sim(example.Args({"--stop-echo", "5"}));
    TestHost host(sim.Device());
    ASSERT_TRUE(host.AnswerSignal());
    EXPECT_EQ(host.SendFrame(ExampleFrame(), 300), 5);
    EXPECT_EQ(host.lastReply, kTimedOut);
  }
  {
    SimProcess sim(example.Args({"--close-at", "5"}));
    TestHost host(sim.Device());
    ASSERT_TRUE(host.AnswerSignal());
    EXPECT_EQ(host.SendFrame(ExampleFrame()), 5);
    EXPECT_EQ(host.lastReply, kClosed);
    EXPECT_TRUE(Contains(sim.Rest(), "closed the line at frame byte 5"));
    EXPECT_EQ(sim.Wait(), 3);
  }
  {
    // A rebooted device signals instead of echoing; the retry goes through.
    SimProcess sim(example.Args({"--restart-at", "5"}));
    TestHost host(sim.Device());
    ASSERT_TRUE(host.AnswerSignal());
    EXPECT_EQ(host.SendFrame(ExampleFrame()), 5);
    EXPECT_EQ(host.lastReply, 0x55);
    host.Send(0x55);
    EXPECT_EQ(host.SendFrame(ExampleFrame()), 0) << "got " << host.lastReply;
    host.Close();
    EXPECT_TRUE(Contains(sim.Rest(), "verified: "));
    EXPECT_EQ(sim.Wait(), 0);
  }
}

TEST(SimEndToEnd, NoiseComesBeforeTheFirstSignal) {
  SimProcess sim({"--once", "--noise", "40"});
  TestHost host(sim.Device());
  int noise = 0;
  for (int value = host.ReadByte(); value != 0x55; value = host.ReadByte()) {
    ASSERT_GE(value, 0);
    ++noise;
  }
  EXPECT_EQ(noise, 40);
}

TEST(SimEndToEnd, ALateHostIsSignalledAndServedAgainAndAgain) {
  Example example;
  SimProcess sim({"--config", SourcePath("samples/config.txt"), "--expect",
                  example.dir.file("example.hex"), "--signal-interval", "50", "--baud",
                  "115200"});
  const std::string device = sim.Device();
  usleep(100000);
  TestHost host(device);
  // The signal repeats until answered.
  EXPECT_EQ(host.ReadByte(), 0x55);
  EXPECT_EQ(host.ReadByte(), 0x55);
  // A signal already on its way when the answer went may still arrive.
  auto settle = [&host] {
    usleep(100000);
    while (host.ReadByte(0) == 0x55) {
    }
  };
  host.Send(0x55);
  settle();
  EXPECT_EQ(host.SendFrame(ExampleFrame()), 0) << "got " << host.lastReply;
  EXPECT_TRUE(host.AnswerSignal());
  settle();
  EXPECT_EQ(host.SendFrame(ExampleFrame()), 0) << "got " << host.lastReply;
  host.Close();
  sim.Signal(SIGTERM);
  const std::string output = sim.Rest();
  EXPECT_EQ(sim.Wait(), 0);
  EXPECT_TRUE(Contains(output, "verified: 320 bytes programmed, jump to 0x007D00, "
                               "first eight bytes relocated\ntransfer complete: 332 bytes"))
      << output;
}

TEST(SimEndToEnd, HostClosingTheLineEndsARunOfOne) {
  SimProcess sim({"--once"});
  TestHost host(sim.Device());
  ASSERT_TRUE(host.AnswerSignal());
  std::vector<uint8_t> start = ExampleFrame();
  start.resize(10);
  EXPECT_EQ(host.SendFrame(start), 0);
  host.Close();
  EXPECT_EQ(sim.Rest(), "transfer incomplete: the host closed the line after 10 of 332 frame bytes\n");
  EXPECT_EQ(sim.Wait(), 3);
}

TEST(SimEndToEnd, RegistersAPortAndALinkUntilStopped) {
  ScopedUserDirs dirs;
  TempDir dir;
  const std::string link = dir.file("bootloader");
  SimProcess sim({"--as-port", "7", "--link", link});
  const std::string device = sim.Device();
  ASSERT_FALSE(device.empty());
  EXPECT_EQ(sim.ReadLine(), "port COM7 -> " + device);
  const std::string port = dirs.portMapDir() + "/COM7";
  EXPECT_EQ(std::filesystem::read_symlink(port), device);
  EXPECT_EQ(std::filesystem::read_symlink(link), device);
  sim.Signal(SIGINT);
  EXPECT_EQ(sim.Wait(), 0);
  EXPECT_FALSE(std::filesystem::is_symlink(port));
  EXPECT_FALSE(std::filesystem::is_symlink(link));
}

TEST(SimEndToEnd, RefusesToStartOnBadArguments) {
  const std::vector<std::vector<std::string>> cases = {
      {"--frobnicate"},
      {"--expect", SourcePath("samples/config.txt")},  // no bootloader address given
      {"--config", "/nonexistent/config.txt"},
  };
  for (const auto& args : cases) {
    SimProcess sim(args);
    EXPECT_EQ(sim.Device(), "") << args[0];
    EXPECT_EQ(sim.Wait(), 2) << args[0];
  }
}
