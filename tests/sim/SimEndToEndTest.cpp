// zentrel-sim driven over its pseudo-terminal by a small blocking host.
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QElapsedTimer>

#include <filesystem>

#include "common/Process.h"
#include "common/Pty.h"
#include "common/TestSupport.h"
#include "common/WorkedExample.h"
#include "sim/SimFrames.h"

namespace {
bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}


struct Example {
  TempDir dir;
  Example() { dir.write("example.hex", ExampleHexText()); }
  QStringList Args(const QStringList& more) const {
    return QStringList{"--once", "--config", Q(SourcePath("samples/config.txt")),
                       "--expect", Q(dir.file("example.hex")), "--signal-interval", "1000"} +
           more;
  }
};
}  // namespace

TEST(SimEndToEnd, ACorrectTransferVerifiesAndIsDumped) {
  Example example;
  SimulatedBoard sim(example.Args({"--dump", Q(example.dir.file("dump.hex"))}));
  RawHost host(sim.device());
  ASSERT_TRUE(host.AnswerSignal());
  EXPECT_EQ(host.SendFrame(ExampleFrame()), 0) << "got " << host.lastReply;
  host.Close();
  const ProcessResult run = sim.Finish();
  const std::string& output = run.out;
  EXPECT_EQ(run.exitCode, 0) << output;
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
  SimulatedBoard sim(example.Args({}));
  RawHost host(sim.device());
  ASSERT_TRUE(host.AnswerSignal());
  std::vector<uint8_t> image = ExampleImage();
  image[0x102] = 0x00;
  EXPECT_EQ(host.SendFrame(BuildFrame(image, 64, 8)), 0);
  host.Close();
  const ProcessResult run = sim.Finish();
  const std::string& output = run.out;
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_TRUE(Contains(output, "MISMATCH at 0x0102: expected 0x03, programmed 0x00\n")) << output;
}

TEST(SimEndToEnd, FaultsHitTheirByte) {
  Example example;
  {
    SimulatedBoard sim(example.Args({"--corrupt-echo", "5"}));
    RawHost host(sim.device());
    ASSERT_TRUE(host.AnswerSignal());
    EXPECT_EQ(host.SendFrame(ExampleFrame()), 5);
    EXPECT_GE(host.lastReply, 0);
    host.Close();
    const ProcessResult run = sim.Finish();
    EXPECT_TRUE(Contains(run.out, "the host closed the line after 5 of 332 frame bytes")) << run.out;
    EXPECT_EQ(run.exitCode, 3);
  }
  {
    SimulatedBoard sim(example.Args({"--stop-echo", "5"}));
    RawHost host(sim.device());
    ASSERT_TRUE(host.AnswerSignal());
    EXPECT_EQ(host.SendFrame(ExampleFrame(), 300), 5);
    EXPECT_EQ(host.lastReply, RawHost::kTimedOut);
  }
  {
    SimulatedBoard sim(example.Args({"--close-at", "5"}));
    RawHost host(sim.device());
    ASSERT_TRUE(host.AnswerSignal());
    EXPECT_EQ(host.SendFrame(ExampleFrame()), 5);
    EXPECT_EQ(host.lastReply, RawHost::kClosed);
    const ProcessResult run = sim.Finish();
    EXPECT_TRUE(Contains(run.out, "closed the line at frame byte 5")) << run.out;
    EXPECT_EQ(run.exitCode, 3);
  }
  {
    // A rebooted device signals instead of echoing; the retry goes through.
    SimulatedBoard sim(example.Args({"--restart-at", "5"}));
    RawHost host(sim.device());
    ASSERT_TRUE(host.AnswerSignal());
    EXPECT_EQ(host.SendFrame(ExampleFrame()), 5);
    EXPECT_EQ(host.lastReply, 0x55);
    host.Send(0x55);
    EXPECT_EQ(host.SendFrame(ExampleFrame()), 0) << "got " << host.lastReply;
    host.Close();
    const ProcessResult run = sim.Finish();
    EXPECT_TRUE(Contains(run.out, "verified: ")) << run.out;
    EXPECT_EQ(run.exitCode, 0);
  }
}

TEST(SimEndToEnd, NoiseComesBeforeTheFirstSignal) {
  SimulatedBoard sim({"--once", "--noise", "40"});
  RawHost host(sim.device());
  int noise = 0;
  for (int value = host.ReadByte(); value != 0x55; value = host.ReadByte()) {
    ASSERT_GE(value, 0);
    ++noise;
  }
  EXPECT_EQ(noise, 40);
}

TEST(SimEndToEnd, ALateHostIsSignalledAndServedAgainAndAgain) {
  Example example;
  SimulatedBoard sim({"--config", Q(SourcePath("samples/config.txt")), "--expect",
                  Q(example.dir.file("example.hex")), "--signal-interval", "50", "--baud",
                  "115200"});
  const std::string device = sim.device();
  usleep(100000);
  RawHost host(device);
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
  const ProcessResult run = sim.Finish();
  const std::string& output = run.out;
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_TRUE(Contains(output, "verified: 320 bytes programmed, jump to 0x007D00, "
                               "first eight bytes relocated\ntransfer complete: 332 bytes"))
      << output;
}

// A USB adapter's turnaround: no echo reaches the host sooner than that,
// however idle the machine.
TEST(SimEndToEnd, AdapterLatencyHoldsBackEveryEcho) {
  SimulatedBoard sim({"--once", "--latency-us", "150000"});
  RawHost host(sim.device());
  ASSERT_TRUE(host.AnswerSignal());
  QElapsedTimer clock;
  clock.start();
  EXPECT_EQ(host.SendFrame(std::vector<uint8_t>{0x3F, 0x00}), 0) << "got " << host.lastReply;
  EXPECT_GE(clock.elapsed(), 2 * 150);
}

TEST(SimEndToEnd, HostClosingTheLineEndsARunOfOne) {
  SimulatedBoard sim({"--once"});
  RawHost host(sim.device());
  ASSERT_TRUE(host.AnswerSignal());
  std::vector<uint8_t> start = ExampleFrame();
  start.resize(10);
  EXPECT_EQ(host.SendFrame(start), 0);
  host.Close();
  const ProcessResult run = sim.Finish();
  EXPECT_EQ(run.out, "transfer incomplete: the host closed the line after 10 of 332 frame bytes\n");
  EXPECT_EQ(run.exitCode, 3);
}

TEST(SimEndToEnd, RegistersAPortAndALinkUntilStopped) {
  ScopedUserDirs dirs;
  TempDir dir;
  const std::string link = dir.file("bootloader");
  SimulatedBoard sim({"--as-port", "7", "--link", Q(link)});
  const std::string device = sim.device();
  ASSERT_FALSE(device.empty());
  EXPECT_EQ(sim.ReadLine(), "port COM7 -> " + device);
  const std::string port = dirs.portMapDir() + "/COM7";
  EXPECT_EQ(std::filesystem::read_symlink(port), device);
  EXPECT_EQ(std::filesystem::read_symlink(link), device);
  sim.Signal(SIGINT);
  EXPECT_EQ(sim.Finish().exitCode, 0);
  EXPECT_FALSE(std::filesystem::is_symlink(port));
  EXPECT_FALSE(std::filesystem::is_symlink(link));
}

TEST(SimEndToEnd, RefusesToStartOnBadArguments) {
  const QStringList cases[] = {
      {"--frobnicate"},
      {"--expect", Q(SourcePath("samples/config.txt"))},  // no bootloader address given
      {"--config", "/nonexistent/config.txt"},
  };
  for (const auto& args : cases) {
    SimulatedBoard sim(args);
    EXPECT_EQ(sim.device(), "") << args.first().toStdString();
    EXPECT_EQ(sim.Finish().exitCode, 2) << args.first().toStdString();
  }
}
