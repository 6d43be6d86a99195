// zentrel-cli download into zentrel-sim over a real pseudo-terminal: the
// simulator checks every programmed byte, the jump words and the relocated
// first eight bytes against the HEX file.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTest>
#include <QThread>
#include <algorithm>
#include <csignal>
#include <cstdint>
#include <filesystem>
#include <sstream>
#include <tuple>
#include <memory>
#include <optional>
#include <random>
#include <set>
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
    EXPECT_NE(cli.out.find("ERROR downloading byte " + std::to_string(k) + "/1036"), std::string::npos) << cli.out;
  }
  // The simulator inverts the echo; the data bytes are 0x42.
  auto [cli, sim] = Download(file, {"--corrupt-echo", "500"});
  EXPECT_NE(cli.out.find("byte 500/1036: sent 0x42, echo 0xBD"), std::string::npos) << cli.out;
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
    EXPECT_NE(cli.out.find(c.message), std::string::npos) << cli.out;
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
  EXPECT_NE(cli.out.find("no signal from the bootloader"), std::string::npos) << cli.out;
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
  const std::string out = cli.readAllStandardOutput().toStdString();
  EXPECT_EQ(cli.exitCode(), 1);
  EXPECT_NE(out.find("no echo of byte 1/"), std::string::npos) << out;
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
  ASSERT_EQ(mkfifo(dir.file("fifo").c_str(), 0600), 0);  // without a reader: opening it would wait
  for (const QStringList& options : {QStringList{"--baud", "fast"}, QStringList{"--port", "0"},
                                     QStringList{"--echo-timeout", "-5"}, QStringList{"--reset", "cts"},
                                     QStringList{"--log", Q(dir.file("fifo"))}, QStringList{"--log", "/dev/null"}}) {
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

// The records of a --log file, one JSON object a line.
std::vector<QJsonObject> LogRecords(const std::string& path) {
  std::vector<QJsonObject> records;
  std::istringstream lines(ReadFile(path));
  for (std::string line; std::getline(lines, line);) {
    QJsonParseError error;
    records.push_back(QJsonDocument::fromJson(QByteArray::fromStdString(line), &error).object());
    EXPECT_EQ(error.error, QJsonParseError::NoError) << line;
  }
  return records;
}

// The simulators start over at once, as boards that reset would: no settle
// time here. The fourth board never echoes byte 500: Ctrl-C finds it there.
TEST_F(CliDownload, LoopFlashesEveryBoardRoundAfterRoundUntilInterrupted) {
  const std::string file = WriteImage("image.hex", std::string(2000, '\x3C'));
  const std::string log = dir.file("flash.log");
  std::vector<std::unique_ptr<SimulatedBoard>> sims;
  QStringList args{"download", Q(file), "--config", config, "--loop", "--settle", "0", "--echo-timeout", "600000",
                   "--log", Q(log), "--no-progress"};
  for (int board = 0; board < 4; ++board) {
    QStringList options{"--config", config, "--expect", Q(file)};
    if (board == 1) options << "--restart-at" << "300";  // one bad round, then good ones
    if (board == 3) options << "--stop-echo" << "500";
    sims.push_back(std::make_unique<SimulatedBoard>(options));
    args << "--device" << Q(sims.back()->device());
  }
  QProcess cli;
  cli.start(Q(BinPath("zentrel-cli")), args);
  ASSERT_TRUE(cli.waitForStarted());
  // Several rounds on every board; the wait is bounded only so that a hang fails.
  // The fewest attempts any board has had so far.
  auto fewestAttempts = [&] {
    const std::string text = ReadFile(log);
    size_t fewest = SIZE_MAX;
    for (size_t board = 0; board < 3; ++board) {
      const std::string device = "\"device\":\"" + sims[board]->device() + "\"";
      size_t count = 0;
      for (size_t at = text.find(device); at != std::string::npos; at = text.find(device, at + 1)) ++count;
      fewest = std::min(fewest, count);
    }
    return fewest;
  };
  for (int wait = 0; wait < 600 && fewestAttempts() < 4; ++wait) QThread::msleep(100);
  kill(static_cast<pid_t>(cli.processId()), SIGINT);
  ASSERT_TRUE(cli.waitForFinished(30000));
  const std::string out = cli.readAllStandardOutput().toStdString();
  EXPECT_EQ(cli.exitCode(), 130) << out;

  int passed = 0, failed = 0, interrupted = 0;
  ProcessResult frame = RunCli({"frame", Q(file), "--config", config, "--out", Q(dir.file("frame.bin"))});
  ASSERT_EQ(frame.exitCode, 0) << frame.err;
  QProcess sha256sum;  // the reference: coreutils, not our hashing
  sha256sum.start("sha256sum", {Q(dir.file("frame.bin"))});
  ASSERT_TRUE(sha256sum.waitForFinished(10000));
  const std::string frameSum = sha256sum.readAllStandardOutput().toStdString().substr(0, 64);
  for (const QJsonObject& record : LogRecords(log)) {
    const std::string result = record["result"].toString().toStdString();
    passed += result == "passed";
    failed += result == "failed";
    interrupted += result == "interrupted";
    EXPECT_EQ(record["frameSha256"].toString().toStdString(), frameSum);
    EXPECT_EQ(record["frameLength"].toInt(), 2060);
    if (result == "failed") {
      EXPECT_EQ(record["device"].toString().toStdString(), sims[1]->device());
      EXPECT_EQ(record["failingByte"].toInt(), 300);
      EXPECT_EQ(record["echo"].toInt(), 0x55);  // the restarted bootloader's signal
    }
  }
  EXPECT_EQ(failed, 1);
  EXPECT_GE(interrupted, 1);  // boards that were mid-round are cut short too
  EXPECT_GE(passed, 9);
  EXPECT_NE(out.find("Summary: " + std::to_string(passed + failed + interrupted) + " attempts, " +
                     std::to_string(passed) + " passed, 1 failed, " + std::to_string(interrupted) + " interrupted"),
            std::string::npos) << out;
  // One result line an attempt, each board named.
  size_t lines = 0;
  for (size_t at = out.find(" round "); at != std::string::npos; at = out.find(" round ", at + 1)) ++lines;
  EXPECT_EQ(lines, static_cast<size_t>(passed + failed + interrupted)) << out;
  for (size_t board = 0; board < 3; ++board) {
    EXPECT_NE(out.find(sims[board]->device() + " round 3: Download completed!"), std::string::npos) << out;
  }
  EXPECT_NE(out.find(sims[3]->device() + " round 1: interrupted by SIGINT at byte 500/2060 (board left "
                                         "part-programmed)"), std::string::npos) << out;
}

TEST_F(CliDownload, RetriesStartOverAndTheLogHasEveryAttempt) {
  const std::string file = WriteImage("image.hex", std::string(1000, '\x42'));
  const std::string log = dir.file("flash.log");
  auto [cli, sim] = Download(file, {"--restart-at", "300"}, {"--retries", "2", "--log", Q(log)});
  EXPECT_EQ(cli.exitCode, 0) << cli.out << cli.err;
  EXPECT_EQ(sim.exitCode, 0) << sim.out;
  EXPECT_NE(cli.err.find("attempt 1 failed"), std::string::npos) << cli.err;
  const std::vector<QJsonObject> records = LogRecords(log);
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0]["result"].toString(), "failed");
  EXPECT_EQ(records[0]["failingByte"].toInt(), 300);
  EXPECT_EQ(records[1]["result"].toString(), "passed");
  EXPECT_EQ(records[1]["round"].toInt(), 2);
  EXPECT_EQ(records[1]["bytes"].toInt(), 1036);
}

// One shape for every download record: a file refused before any port is
// touched is one too, with the reason's category.
TEST_F(CliDownload, JsonResultHasOneShapeForSuccessRefusalAndFailure) {
  const std::string good = WriteImage("image.hex", std::string(1000, '\x42'));
  dir.write("faulty.hex", ":0400100001020304E1\n:00000001FF\n");
  dir.write("low.txt", "model:X\nflash:32768\neraseblock:64\nprogramblock:8\nbootloader:000100\n");
  struct Row {
    std::string file;
    QStringList simOptions;
    QString config;
    const char* result;
    const char* reason;  // "" for none
    int exitCode;
    QStringList cliOptions = {};
  };
  const Row rows[] = {{good, {}, config, "passed", "", 0},
                      {good, {"--corrupt-echo", "7"}, config, "failed", "wrong-echo", 1},
                      {dir.file("faulty.hex"), {}, config, "refused", "file", 1},
                      {good, {}, Q(dir.file("low.txt")), "refused", "frame", 3},
                      // A unit number past the 1024 bytes that the frame carries.
                      {good, {}, config, "refused", "frame", 3, {"--serial-number", "3FE:1:4"}},
                      // A counter that holds no number is the counter's refusal.
                      {good, {}, config, "refused", "serial-number", 3,
                       {"--serial-number", "100:1", "--serial-file", Q(dir.file("faulty.hex"))}}};
  QStringList keys;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.result + std::string(" ") + row.reason);
    // A refused file never reaches a port.
    const ProcessResult cli =
        row.exitCode < 3 && row.file == good
            ? Download(row.file, row.simOptions, {"--json"}).first
            : RunCli(QStringList{"download", Q(row.file), "--config", row.config, "--device", "/nonexistent",
                                 "--json"} + row.cliOptions);
    EXPECT_EQ(cli.exitCode, row.exitCode) << cli.err;
    QJsonParseError error;
    const QJsonObject result = QJsonDocument::fromJson(QByteArray::fromStdString(cli.out), &error).object();
    ASSERT_EQ(error.error, QJsonParseError::NoError) << cli.out;
    EXPECT_EQ(result["format"].toInt(), 1);
    EXPECT_EQ(result["result"].toString().toStdString(), row.result) << cli.out;
    EXPECT_EQ(result["reason"].toString().toStdString(), row.reason) << cli.out;
    if (keys.isEmpty()) keys = result.keys();
    EXPECT_EQ(result.keys(), keys);
  }
}

TEST_F(CliDownload, RelativeDevicePathIsFromTheCurrentFolder) {
  const std::string file = WriteImage("image.hex", std::string(300, '\x07'));
  SimulatedBoard sim({"--once", "--config", config, "--link", Q(dir.file("h1"))});
  QProcess cli;
  cli.setWorkingDirectory(Q(dir.path()));
  cli.start(Q(BinPath("zentrel-cli")), {"download", "image.hex", "--config", config, "--device", "h1", "--no-progress"});
  ASSERT_TRUE(cli.waitForFinished(30000));
  const std::string out = cli.readAllStandardOutput().toStdString();
  EXPECT_EQ(cli.exitCode(), 0) << out << cli.readAllStandardError().toStdString();
  EXPECT_NE(out.find(dir.file("h1") + ": Download completed!"), std::string::npos) << out;
}

TEST_F(CliDownload, QuietPrintsOnlyFailuresAndVerboseTheLineTraffic) {
  const std::string file = WriteImage("image.hex", std::string(300, '\x07'));
  auto [quiet, sim1] = Download(file, {}, {"-q"});
  EXPECT_EQ(quiet.exitCode, 0);
  EXPECT_EQ(quiet.out + quiet.err, "");
  auto [failed, sim2] = Download(file, {"--corrupt-echo", "5"}, {"-q"});
  EXPECT_EQ(failed.exitCode, 1);
  EXPECT_NE(failed.out.find("ERROR downloading byte 5/332"), std::string::npos) << failed.out;
  EXPECT_EQ(failed.err, "");
  auto [verbose, sim3] = Download(file, {}, {"-v"});
  EXPECT_EQ(verbose.exitCode, 0);
  // The answer to the signal, then slot 1 (the header's 0x3F) and its echo.
  EXPECT_NE(verbose.err.find(" < 0x55"), std::string::npos) << verbose.err;
  EXPECT_NE(verbose.err.find(" > 0x55"), std::string::npos) << verbose.err;
  EXPECT_NE(verbose.err.find(" > 0x3F"), std::string::npos) << verbose.err;
}

// A board cut short by a signal is an outcome: on stdout with its byte, in
// the log, in the exit status; and the device is left free for anyone.
TEST_F(CliDownload, ASignalMidTransferIsReportedLoggedAndLeavesTheDeviceFree) {
  const std::string file = WriteImage("image.hex", std::string(1000, '\x42'));
  for (const auto& [signal, status, name] : {std::tuple{SIGTERM, 143, "SIGTERM"}, std::tuple{SIGHUP, 129, "SIGHUP"}}) {
    const std::string log = dir.file(std::string(name) + ".log");
    SimulatedBoard sim({"--config", config, "--stop-echo", "300"});
    QProcess cli;
    cli.start(Q(BinPath("zentrel-cli")), {"download", Q(file), "--config", config, "--device", Q(sim.device()),
                                          "--echo-timeout", "600000", "--log", Q(log), "--no-progress"});
    cli.setReadChannel(QProcess::StandardError);
    QByteArray said;
    while (!said.contains("Bootloader ready") && cli.waitForReadyRead(10000)) said += cli.readAllStandardError();
    kill(static_cast<pid_t>(cli.processId()), signal);
    ASSERT_TRUE(cli.waitForFinished(30000));
    const std::string out = cli.readAllStandardOutput().toStdString();
    EXPECT_EQ(cli.exitCode(), status) << out;
    const std::vector<QJsonObject> records = LogRecords(log);
    ASSERT_EQ(records.size(), 1u);
    const std::string k = std::to_string(records[0]["failingByte"].toInt());
    EXPECT_NE(out.find("interrupted by " + std::string(name) + " at byte " + k + "/1036 (board left part-programmed)"),
              std::string::npos) << out;
    EXPECT_EQ(records[0]["result"].toString(), "interrupted");
    // Neither the exclusive mode nor the lock file outlives the program.
    EXPECT_EQ(OpenAsNormalUser(sim.device()), 0);
    EXPECT_FALSE(std::filesystem::exists("/var/lock/LCK.." + sim.device().substr(5).replace(3, 1, "_")));
  }
}

// A board in a loop is the same board however its port comes and goes: busy
// at the start, then gone, then back on another device under its number.
TEST_F(CliDownload, TheLoopTriesItsPortAgainUntilItOpens) {
  const std::string file = WriteImage("image.hex", std::string(300, '\x07'));
  const std::string log = dir.file("flash.log");
  MapPorts(userDirs.portMapDir(), {});
  const QStringList simArgs{"--config", config, "--expect", Q(file), "--as-port", "7"};
  auto first = std::make_unique<SimulatedBoard>(simArgs);
  const int holder = open(first->device().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_EQ(flock(holder, LOCK_EX), 0);
  QProcess cli;
  cli.start(Q(BinPath("zentrel-cli")),
            {"download", Q(file), "--config", config, "--port", "7", "--loop", "--log", Q(log), "--no-progress"});
  cli.setReadChannel(QProcess::StandardError);
  QByteArray said;
  auto waitToSay = [&](const char* text) {
    while (!said.contains(text) && cli.waitForReadyRead(20000)) said += cli.readAllStandardError();
    return said.contains(text);
  };
  ASSERT_TRUE(waitToSay("busy, in use by")) << said.toStdString();
  close(holder);
  // Flashed once the port opens; then that board goes, and another comes.
  for (int wait = 0; wait < 300 && ReadFile(log).find("passed") == std::string::npos; ++wait) QThread::msleep(100);
  first.reset();
  ASSERT_TRUE(waitToSay("the serial line failed")) << said.toStdString();
  SimulatedBoard second(simArgs + QStringList{"--once"});
  EXPECT_EQ(second.Finish().exitCode, 0);
  kill(static_cast<pid_t>(cli.processId()), SIGINT);
  ASSERT_TRUE(cli.waitForFinished(30000));
  said += cli.readAllStandardError();
  const std::string out = cli.readAllStandardOutput().toStdString();
  EXPECT_EQ(cli.exitCode(), 0) << out << said.toStdString();
  EXPECT_NE(out.find("Summary: 2 attempts, 2 passed, 0 failed, 0 interrupted"), std::string::npos) << out;
  EXPECT_EQ(said.count("Serial port COM7 ("), 2) << said.toStdString();
}

// The test plays the board: answers as the bootloader does, echoing every
// byte, until the host falls silent.
void ServeTransfer(const Pty& board) {
  board.Send("\x55");
  ASSERT_EQ(board.Receive(1), "\x55");
  for (std::string byte = board.Receive(1, 1000); !byte.empty(); byte = board.Receive(1, 1000)) board.Send(byte);
}

// A flashed program that resets (or sends 'U') keeps signalling: the loop
// waits for its line to fall quiet, as it does when the next board is put in.
TEST_F(CliDownload, ALoopFlashesAResettingBoardOnceAndTheNextBoardAgain) {
  const std::string file = WriteImage("image.hex", std::string(300, '\x07'));
  const Pty board;
  QProcess cli;
  cli.start(Q(BinPath("zentrel-cli")), {"download", Q(file), "--config", config, "--device", Q(board.devicePath()),
                                        "--loop", "--settle", "2", "--no-progress"});
  cli.setReadChannel(QProcess::StandardError);
  QByteArray said;
  while (!said.contains(" ready,") && cli.waitForReadyRead(10000)) said += cli.readAllStandardError();
  ServeTransfer(board);
  for (int reset = 0; reset < 15; ++reset) {
    board.Send("\x55");
    EXPECT_EQ(board.Receive(1, 200), "") << "signal " << reset << " was answered";
  }
  EXPECT_EQ(board.Receive(1, 3000), "");  // the swap: nothing on the line
  ServeTransfer(board);
  kill(static_cast<pid_t>(cli.processId()), SIGINT);
  ASSERT_TRUE(cli.waitForFinished(30000));
  const std::string out = cli.readAllStandardOutput().toStdString();
  EXPECT_EQ(cli.exitCode(), 0) << out;
  EXPECT_NE(out.find("Summary: 2 attempts, 2 passed, 0 failed, 0 interrupted"), std::string::npos) << out;
}

// A log that cannot take a record: it is said at once, nothing of the record
// is left in the file, and the exit status says the log is incomplete. The
// record (here on stdout) keeps names as bytes, with the file's SHA-256.
// The small file system is mounted in a namespace of the run's own.
TEST_F(CliDownload, LogOnAFullDiskIsReportedAndTheRecordKeepsNamesAsBytes) {
  const std::string mount = dir.file("small");
  std::filesystem::create_directories(mount);
  const char* mountIt = R"sh(mount -t tmpfs -o size=4k tmpfs "$0" || exit 99)sh";
  if (RunProgram("unshare", {"-rm", "sh", "-c", mountIt, Q(mount)}).exitCode != 0) GTEST_SKIP() << "no mount namespace";
  // The one page of the file system is all but full before the run begins.
  const std::string filler = std::string(4000, 'x') + "\n";
  dir.write("filler", filler);
  const std::string hex = HexText(std::string(300, '\x07'));
  dir.write("caf\xE9 \\ 1.hex", hex);
  SimulatedBoard sim({"--once", "--config", config});
  ASSERT_EQ(symlink(sim.device().c_str(), dir.file("bo\xE9").c_str()), 0);
  // QProcess would pass the names as UTF-8; the shell's patterns pass their bytes.
  const ProcessResult cli = RunProgram(
      "unshare", {"-rm", "sh", "-c", QString(mountIt) + R"sh(; cp "$1" "$0/flash.log"; cd "$2"; shift 2
                  "$@" caf* --device bo* --log "$0/flash.log"; status=$?; cp "$0/flash.log" "$0.after"; exit $status)sh",
                  Q(mount), Q(dir.file("filler")), Q(dir.path()), Q(BinPath("zentrel-cli")), "download", "--json",
                  "--config", config, "--signal-timeout", "10", "--no-progress"});
  EXPECT_EQ(cli.exitCode, 4) << cli.err;
  EXPECT_NE(cli.err.find("the log is incomplete"), std::string::npos) << cli.err;
  EXPECT_EQ(ReadFile(mount + ".after"), filler);
  const QJsonObject record = QJsonDocument::fromJson(QByteArray::fromStdString(cli.out)).object();
  EXPECT_EQ(record["result"].toString(), "passed") << cli.out;
  EXPECT_EQ(record["hexFile"].toString().toStdString(), dir.path() + "/caf\\xE9 \\\\ 1.hex");
  EXPECT_EQ(record["device"].toString().toStdString(), dir.path() + "/bo\\xE9");
  EXPECT_EQ(record["hexSha256"].toString(),
            QCryptographicHash::hash(QByteArray::fromStdString(hex), QCryptographicHash::Sha256).toHex());
}

// Started with stdout and stderr closed, the program must not open the
// line on one of them and write its messages into it.
TEST_F(CliDownload, WithStdoutAndStderrClosedTheBoardGetsTheFrameAndNothingElse) {
  const std::string file = WriteImage("image.hex", std::string(300, '\x07'));
  ASSERT_EQ(RunCli({"frame", Q(file), "--config", config, "--out", Q(dir.file("frame.bin"))}).exitCode, 0);
  const std::string frame = ReadFile(dir.file("frame.bin"));
  const Pty board;
  const unsigned speedBefore = board.OutputSpeed();
  QProcess cli;
  cli.setChildProcessModifier([] { close(STDOUT_FILENO), close(STDERR_FILENO); });
  cli.start(Q(BinPath("zentrel-cli")), {"download", Q(file), "--config", config, "--device",
                                        Q(board.devicePath()), "--signal-timeout", "10", "--baud", "115200"});
  // The line is set up once the program has opened it: then the bootloader signals.
  ASSERT_TRUE(QTest::qWaitFor([&] { return board.OutputSpeed() != speedBefore; }, 10000));
  board.Send("\x55");
  std::string received = board.Receive(1);
  for (std::string byte; received.size() <= frame.size() && !(byte = board.Receive(1)).empty();) {
    received += byte;
    board.Send(byte);
  }
  received += board.Receive(64, 500);  // anything more would be text
  EXPECT_EQ(received, "\x55" + frame);
  ASSERT_TRUE(cli.waitForFinished(30000));
  EXPECT_EQ(cli.exitCode(), 0);
}

}  // namespace

namespace {

// The four bytes at 0x0100 of a --dump, least significant first: "" when absent.
std::optional<uint32_t> DumpedNumber(const std::string& dump) {
  const std::string text = ReadFile(dump);
  const size_t at = text.find(":10010000");
  if (at == std::string::npos) return std::nullopt;
  uint32_t number = 0;
  for (int i = 3; i >= 0; --i) number = number * 256 + std::stoul(text.substr(at + 9 + 2 * i, 2), nullptr, 16);
  return number;
}

// Boards each flashed once by one download run; the run's result.
struct UnitRun {
  std::vector<std::unique_ptr<SimulatedBoard>> sims;
  std::vector<std::string> dumps;
  QProcess cli;
};

// Starts boards simulators and one download of file with unit numbers from
// dir's counter, logged to dir/name.log; the first board gets faulty options.
void StartUnitRun(UnitRun& run, const TempDir& dir, const QString& config, const std::string& file,
                  const std::string& name, const QStringList& extra, int boards, const QStringList& faulty = {}) {
  QStringList args{"download", Q(file), "--config", config, "--no-progress", "--signal-timeout", "20",
                   "--serial-number", "100:500", "--serial-file", Q(dir.file("numbers")), "--log",
                   Q(dir.file(name + ".log"))};
  for (int board = 0; board < boards; ++board) {
    run.dumps.push_back(dir.file(name + std::to_string(board) + ".hex"));
    QStringList options{"--once", "--config", config, "--dump", Q(run.dumps.back())};
    if (board == 0) options += faulty;
    run.sims.push_back(std::make_unique<SimulatedBoard>(options));
    args << "--device" << Q(run.sims.back()->device());
  }
  run.cli.start(Q(BinPath("zentrel-cli")), args + extra);
}

TEST_F(CliDownload, EveryUnitGetsItsOwnNumberWhateverFailsAndWhoeverShares) {
  const std::string file = WriteImage("image.hex", std::string(2000, '\x11'));
  UnitRun three, fourth;
  StartUnitRun(three, dir, config, file, "three", {"--station", "bench1"}, 3);
  ASSERT_TRUE(three.cli.waitForFinished(60000));
  EXPECT_EQ(three.cli.exitCode(), 0) << three.cli.readAllStandardError().toStdString();
  const std::string out = three.cli.readAllStandardOutput().toStdString();
  std::set<uint32_t> numbers;
  for (const std::string& dump : three.dumps) numbers.insert(DumpedNumber(dump).value_or(0));
  EXPECT_EQ(numbers, (std::set<uint32_t>{500, 501, 502}));
  EXPECT_EQ(ReadFile(dir.file("numbers")), "503\n");
  std::set<std::string> frames;
  for (const QJsonObject& record : LogRecords(dir.file("three.log"))) {
    EXPECT_EQ(record["station"].toString(), "bench1");
    EXPECT_EQ(record["slot"].toString(), record["device"].toString());
    EXPECT_TRUE(record["usbSerial"].isNull());  // a pseudo-terminal has no adapter
    const auto number = static_cast<uint32_t>(record["serialNumber"].toInteger());
    EXPECT_NE(out.find("[bench1] " + record["device"].toString().toStdString() +
                       ": Download completed!  2060/2060 bytes  "), std::string::npos) << out;
    EXPECT_NE(out.find("serial number " + std::to_string(number)), std::string::npos) << out;
    frames.insert(record["frameSha256"].toString().toStdString());
  }
  EXPECT_EQ(frames.size(), 3u);  // each frame carries its own number

  // A failed attempt spends its number; two runs at once on one counter
  // never share one.
  StartUnitRun(fourth, dir, config, file, "fourth", {}, 2, {"--corrupt-echo", "5"});
  UnitRun beside;
  StartUnitRun(beside, dir, config, file, "beside", {}, 2);
  ASSERT_TRUE(fourth.cli.waitForFinished(60000) && beside.cli.waitForFinished(60000));
  EXPECT_EQ(fourth.cli.exitCode(), 1);
  EXPECT_EQ(beside.cli.exitCode(), 0) << beside.cli.readAllStandardError().toStdString();
  numbers.clear();
  for (const std::string& log : {dir.file("fourth.log"), dir.file("beside.log")}) {
    for (const QJsonObject& record : LogRecords(log)) {
      const auto number = static_cast<uint32_t>(record["serialNumber"].toInteger());
      EXPECT_TRUE(numbers.insert(number).second) << number << " given twice";
      if (record["result"].toString() == "failed") {
        EXPECT_EQ(record["failingByte"].toInt(), 5);
      }
    }
  }
  EXPECT_EQ(numbers, (std::set<uint32_t>{503, 504, 505, 506}));
  EXPECT_EQ(ReadFile(dir.file("numbers")), "507\n");
}

}  // namespace

namespace {

// A station started with no board: boards registered in the port map while
// it runs are flashed, one killed is dropped and flashed again once back.
TEST_F(CliDownload, WatchTakesBoardsThatComeAndGo) {
  const std::string file = WriteImage("image.hex", std::string(1500, '\x66'));
  const std::string log = dir.file("station.log");
  QProcess cli;
  // The board named by a link that is made only when it comes back is
  // flashed as that board, not as one more.
  const std::string later = dir.file("later");
  cli.start(Q(BinPath("zentrel-cli")), {"download", Q(file), "--config", config, "--loop", "--watch", "--log",
                                        Q(log), "--no-progress", "--device", Q(later)});
  // What is there before the watch begins is no new board.
  cli.setReadChannel(QProcess::StandardError);
  QByteArray said;
  while (!said.contains("Watching") && cli.waitForReadyRead(10000)) said += cli.readAllStandardError();
  ASSERT_TRUE(said.contains("Watching")) << said.toStdString();
  const auto records = [&] { return LogRecords(log).size(); };
  // Bounded only so that a hang fails.
  const auto awaitRecords = [&](size_t count) {
    for (int wait = 0; wait < 300 && records() < count; ++wait) QThread::msleep(100);
    return records();
  };
  const QStringList board{"--config", config, "--expect", Q(file), "--signal-interval", "0"};
  auto first = std::make_unique<SimulatedBoard>(board + QStringList{"--as-port", "3"});
  ASSERT_EQ(awaitRecords(1), 1u);
  SimulatedBoard second(board + QStringList{"--as-port", "4", "--once"});
  ASSERT_EQ(awaitRecords(2), 2u);
  first->Signal(SIGTERM);
  std::vector<std::string> saw{first->Finish().out, second.Finish().out};
  first = std::make_unique<SimulatedBoard>(board + QStringList{"--as-port", "3"});
  ASSERT_EQ(awaitRecords(3), 3u);
  first->Signal(SIGTERM);
  saw.push_back(first->Finish().out);
  SimulatedBoard named(board + QStringList{"--as-port", "5", "--link", Q(later), "--once"});
  ASSERT_EQ(awaitRecords(4), 4u);
  saw.push_back(named.Finish().out);
  kill(static_cast<pid_t>(cli.processId()), SIGINT);
  ASSERT_TRUE(cli.waitForFinished(30000));
  const std::string out = cli.readAllStandardOutput().toStdString();
  const std::string err = said.toStdString() + cli.readAllStandardError().toStdString();
  EXPECT_EQ(cli.exitCode(), 0) << out << err;
  size_t transfers = 0;
  for (const std::string& text : saw) {
    for (size_t at = text.find("verified:"); at != std::string::npos; at = text.find("verified:", at + 1)) ++transfers;
  }
  EXPECT_EQ(transfers, 4u);
  for (const QJsonObject& record : LogRecords(log)) EXPECT_EQ(record["result"].toString(), "passed");
  EXPECT_NE(out.find("Summary: 4 attempts, 4 passed, 0 failed"), std::string::npos) << out;
  for (const char* said : {"COM3 (", "COM4 ("}) EXPECT_NE(err.find(said), std::string::npos) << err;
  EXPECT_NE(err.find("appeared: a new board"), std::string::npos) << err;
  EXPECT_EQ(err.find("COM5"), std::string::npos) << err;  // it is the board "later"
  EXPECT_NE(err.find("has gone; its board is dropped"), std::string::npos) << err;
}

}  // namespace
