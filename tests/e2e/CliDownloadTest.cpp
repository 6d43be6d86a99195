// zentrel-cli download into zentrel-sim over a real pseudo-terminal: the
// simulator checks every programmed byte, the jump words and the relocated
// first eight bytes against the HEX file.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QProcess>
#include <csignal>
#include <memory>
#include <random>
#include <vector>

#include "common/TestSupport.h"
#include "common/HexText.h"
#include "common/Process.h"
#include "common/Pty.h"

namespace {

// The bootloader sits above the largest program area the header can announce.
constexpr const char* kConfig64K =
    "model:BIG\nflash:131072\neeprom:256\neraseblock:64\nprogramblock:8\nbootloader:010000\n";

class CliDownload : public ::testing::Test {
 protected:
  CliDownload() {
    dir.write("config.txt", kConfig64K);
    config = QString::fromStdString(dir.file("config.txt"));
  }

  // Downloads file to a simulator started with extra fault options; the
  // CLI's and the simulator's outcomes.
  std::pair<ProcessResult, ProcessResult> Download(const std::string& file, const QStringList& simExtra = {},
                                                   const QStringList& cliExtra = {}) {
    SimulatedBoard sim(QStringList{"--once", "--config", config, "--expect", QString::fromStdString(file)} +
                       simExtra);
    EXPECT_FALSE(sim.device().empty());
    ProcessResult cli = RunCli(
        QStringList{"download", QString::fromStdString(file), "--config", config, "--device",
                                   QString::fromStdString(sim.device()), "--signal-timeout", "10",
                                   "--echo-timeout", "2000", "--no-progress"} +
                           cliExtra);
    return {cli, sim.Finish()};
  }

  std::string WriteImage(const std::string& name, const std::string& bytes) {
    dir.write(name, HexText(bytes));
    return dir.file(name);
  }

  void ExpectVerified(const std::string& file) {
    auto [cli, sim] = Download(file);
    EXPECT_EQ(cli.exitCode, 0) << cli.err;
    EXPECT_NE(cli.out.find("Download completed!"), std::string::npos) << cli.out;
    EXPECT_EQ(sim.exitCode, 0) << sim.out << sim.err;
  }

  // The CLI reads and writes back the stored baud rate: never the user's.
  ScopedUserDirs userDirs;
  TempDir dir;
  QString config;
};

TEST_F(CliDownload, BundledSampleIsProgrammedExactly) {
  ExpectVerified(SourcePath("samples/blink.hex"));
}

TEST_F(CliDownload, RandomImagesUpTo64KiB) {
  std::mt19937 random(20261207);
  for (int n = 0; n < 20; ++n) {
    // Sizes spread over the whole range, small ones more often, the largest last.
    const size_t size = n == 19 ? 65536 : 9 + random() % (n < 17 ? 4096 : 65536 - 9);
    std::string bytes(size, '\0');
    for (char& byte : bytes) byte = static_cast<char>(random());
    SCOPED_TRACE("image " + std::to_string(n) + " of " + std::to_string(size) + " bytes");
    ExpectVerified(WriteImage("random.hex", bytes));
  }
}

TEST_F(CliDownload, BytesThatLinesLikeToEatPassUnaltered) {
  for (char value : {'\x00', '\x11', '\x13', '\x55'}) {
    SCOPED_TRACE(static_cast<int>(value));
    ExpectVerified(WriteImage("same.hex", std::string(4000, value)));
  }
}

TEST_F(CliDownload, WrongEchoNamesTheFailingByte) {
  const std::string file = WriteImage("image.hex", std::string(1000, '\x42'));
  // 1000 bytes round up to 1024; the frame carries 12 more.
  for (int k : {1, 500, 1036}) {
    SCOPED_TRACE(k);
    auto [cli, sim] = Download(file, {"--corrupt-echo", QString::number(k)});
    EXPECT_EQ(cli.exitCode, 1);
    EXPECT_NE(cli.err.find("ERROR downloading byte " + std::to_string(k) + "/1036"), std::string::npos) << cli.err;
  }
  // The simulator inverts the echo; the data bytes are 0x42.
  auto [cli, sim] = Download(file, {"--corrupt-echo", "500"});
  EXPECT_NE(cli.err.find("byte 500/1036: sent 0x42, echo 0xBD"), std::string::npos) << cli.err;
}

TEST_F(CliDownload, FaultsOnTheLineEndWithAClearMessage) {
  const std::string file = WriteImage("image.hex", std::string(1000, '\x42'));
  struct Case {
    QStringList simOptions;
    std::string message;
  };
  const Case cases[] = {
      {{"--stop-echo", "300"}, "no echo of byte 300/1036"},
      {{"--restart-at", "300"}, "ERROR downloading byte 300/1036"},
      {{"--close-at", "300"}, "ERROR downloading byte 300/1036: the serial line failed"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    auto [cli, sim] = Download(file, c.simOptions, {"--echo-timeout", "300"});
    EXPECT_EQ(cli.exitCode, 1);
    EXPECT_NE(cli.err.find(c.message), std::string::npos) << cli.err;
  }
}

TEST_F(CliDownload, NoiseBeforeTheSignalIsIgnored) {
  const std::string file = WriteImage("image.hex", std::string(300, '\x07'));
  auto [cli, sim] = Download(file, {"--noise", "40"});
  EXPECT_EQ(cli.exitCode, 0) << cli.err;
  EXPECT_EQ(sim.exitCode, 0) << sim.out << sim.err;
}

TEST_F(CliDownload, NoSignalTimesOut) {
  const std::string file = WriteImage("image.hex", std::string(300, '\x07'));
  const Pty silent;
  ProcessResult cli = RunCli({"download", Q(file), "--config", config, "--device", Q(silent.devicePath()),
                              "--signal-timeout", "1", "--no-progress"});
  EXPECT_EQ(cli.exitCode, 1);
  EXPECT_NE(cli.err.find("no signal from the bootloader"), std::string::npos) << cli.err;
}

TEST_F(CliDownload, LongestSignalTimeOutStillWaits) {
  const std::string file = WriteImage("image.hex", std::string(300, '\x07'));
  const Pty board;
  QProcess cli;
  cli.start(Q(BinPath("zentrel-cli")),
            {"download", Q(file), "--config", config, "--device", Q(board.devicePath()),
             "--signal-timeout", "2147483647", "--echo-timeout", "300", "--no-progress"});
  // Once the port is open, signal and then stay silent: the CLI must still be
  // waiting for the signal and then time out on the first echo.
  cli.setReadChannel(QProcess::StandardError);
  QByteArray said;
  while (!said.contains(" ready,") && cli.waitForReadyRead(10000)) said += cli.readAllStandardError();
  board.Send("\x55");
  ASSERT_TRUE(cli.waitForFinished(30000));
  const std::string err = cli.readAllStandardError().toStdString();
  EXPECT_EQ(cli.exitCode(), 1);
  EXPECT_NE(err.find("no echo of byte 1/"), std::string::npos) << err;
}

// One owner per board: a second download under another name of the same
// device is refused before it touches the line, and the first goes on.
TEST_F(CliDownload, ASecondDownloadOnTheSameBoardIsRefusedAndTheFirstCompletes) {
  const std::string file = WriteImage("image.hex", std::string(8000, '\x3C'));
  SimulatedBoard sim({"--once", "--config", config, "--expect", Q(file), "--baud", "115200"});
  const std::string link = dir.file("board");
  ASSERT_EQ(symlink(sim.device().c_str(), link.c_str()), 0);
  auto args = [&](const std::string& device) {
    return QStringList{"download", Q(file), "--config", config, "--device", Q(device), "--signal-timeout", "10",
                       "--echo-timeout", "5000", "--no-progress"};
  };
  QProcess first;
  first.start(Q(BinPath("zentrel-cli")), args(link));
  first.setReadChannel(QProcess::StandardError);
  const std::string holder = "busy, in use by zentrel-cli (pid " + std::to_string(first.processId()) + ")";
  QByteArray said;
  while (!said.contains("Bootloader ready") && first.waitForReadyRead(10000)) said += first.readAllStandardError();
  ASSERT_TRUE(said.contains("Bootloader ready")) << said.toStdString();

  ProcessResult second = RunCli(args(sim.device()));
  EXPECT_EQ(second.exitCode, 1);
  EXPECT_NE((second.out + second.err).find(sim.device() + ": " + holder), std::string::npos) << second.out << second.err;

  ASSERT_TRUE(first.waitForFinished(60000));
  EXPECT_EQ(first.exitCode(), 0) << first.readAllStandardError().toStdString();
  ProcessResult board = sim.Finish();
  EXPECT_EQ(board.exitCode, 0) << board.out;
}

// One simulator, host after host: a signal meant for the last host, or one
// repeated across an answer, would land in the next transfer as byte 1.
TEST_F(CliDownload, AHundredDownloadsInARowAllComplete) {
  const std::string file = WriteImage("image.hex", std::string(100, '\x21'));
  SimulatedBoard sim({"--config", config, "--expect", Q(file)});
  int completed = 0;
  for (int run = 1; run <= 100; ++run) {
    ProcessResult cli = RunCli({"download", Q(file), "--config", config, "--device", Q(sim.device()),
                                "--signal-timeout", "10", "--no-progress"});
    EXPECT_EQ(cli.exitCode, 0) << "run " << run << ": " << cli.err;
    completed += cli.exitCode == 0;
  }
  EXPECT_EQ(completed, 100);
  sim.Signal(SIGTERM);
  ProcessResult board = sim.Finish();
  EXPECT_EQ(board.exitCode, 0) << board.out;
}

TEST_F(CliDownload, RefusedFrameSendsNothing) {
  dir.write("bad.txt", "model:X\nflash:32768\neraseblock:64\nprogramblock:48\nbootloader:007D00\n");
  const std::string file = WriteImage("image.hex", std::string(300, '\x07'));
  ProcessResult cli = RunCli({"download", QString::fromStdString(file), "--config",
                                                 QString::fromStdString(dir.file("bad.txt")), "--device",
                                                 "/nonexistent", "--no-progress"});
  EXPECT_EQ(cli.exitCode, 3) << cli.err;
}

TEST_F(CliDownload, BadOptionsAreUsageErrors) {
  const std::string file = WriteImage("image.hex", std::string(300, '\x07'));
  for (const QStringList& options : {QStringList{"--baud", "fast"}, QStringList{"--port", "0"},
                                     QStringList{"--echo-timeout", "-5"}, QStringList{"--reset", "cts"}}) {
    SCOPED_TRACE(options.join(' ').toStdString());
    ProcessResult cli = RunCli(QStringList{"download", QString::fromStdString(file), "--config",
                                                              config, "--device", "/nonexistent"} + options);
    EXPECT_EQ(cli.exitCode, 2) << cli.err;
  }
}

}  // namespace

namespace {

TEST_F(CliDownload, SeveralBoardsAtOnceFailAlone) {
  const std::string file = WriteImage("image.hex", std::string(3000, '\x5A'));
  std::vector<std::unique_ptr<SimulatedBoard>> sims;
  QStringList args{"download", QString::fromStdString(file), "--config", config, "--no-progress"};
  for (int board = 0; board < 4; ++board) {
    QStringList options{"--once", "--config", config, "--expect", QString::fromStdString(file)};
    if (board == 2) options << "--corrupt-echo" << "1500";
    sims.push_back(std::make_unique<SimulatedBoard>(options));
    args << "--device" << QString::fromStdString(sims.back()->device());
  }
  ProcessResult cli = RunCli(args);
  EXPECT_EQ(cli.exitCode, 1) << cli.err;
  // One row a board, in the order given; only the third failed.
  for (int board = 0; board < 4; ++board) {
    const std::string device = sims[static_cast<size_t>(board)]->device();
    const size_t row = cli.out.find(device);
    ASSERT_NE(row, std::string::npos) << cli.out;
    const std::string line = cli.out.substr(row, cli.out.find('\n', row) - row);
    EXPECT_NE(line.find(board == 2 ? "ERROR downloading byte 1500/3020" : "Download completed!"), std::string::npos)
        << line;
  }
  for (int board = 0; board < 4; ++board) {
    if (board == 2) continue;
    ProcessResult sim = sims[static_cast<size_t>(board)]->Finish();
    EXPECT_EQ(sim.exitCode, 0) << sim.out;
  }
}

}  // namespace
