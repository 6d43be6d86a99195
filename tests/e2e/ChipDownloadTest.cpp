// zentrel-cli download into zentrel-sim --chip: the project's bootloader on a
// PIC18 that gpsim runs instruction by instruction, checked by what the chip
// then holds, what it refuses and what it runs. The firmware is the 115200
// baud build, so that the line is quick; the chip keeps to real time.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>

#include "common/Process.h"
#include "common/Pty.h"
#include "common/TestSupport.h"
#include "sim/SimFrames.h"

namespace {

struct Chip {
  const char* name;
  const char* model;
  int32_t bootloader;
  int32_t flash;
};
const Chip k452{"p18f452", "PIC18F452", 0x7D00, 0x8000};    // 8-byte write blocks
const Chip k4520{"p18f4520", "PIC18F4520", 0x7D00, 0x8000};  // 32-byte write blocks
const Chip k442{"p18f442", "PIC18F442", 0x3D00, 0x4000};    // the least to send
const Chip k4620{"p18f4620", "PIC18F4620", 0xFD00, 0x10000};  // 64-byte write blocks
constexpr int32_t kEraseBlock = 64;
const char kGreeting[] = "Hello from the PIC18!\r\n";

std::string Template(const Chip& chip) { return SourcePath("devices/" + std::string(chip.model) + ".txt"); }
std::string Firmware(const Chip& chip) {
  return std::string(ZENTREL_QUICK_FIRMWARE_DIR) + "/bootloader-" + chip.name + ".hex";
}
QStringList ChipOptions(const Chip& chip, const std::string& firmware = {}) {
  return {"--chip", chip.name, "--firmware", Q(firmware.empty() ? Firmware(chip) : firmware), "--config",
          Q(Template(chip))};
}

ProcessResult Download(const std::string& file, const std::string& config, const std::string& device,
                       const char* baud = "115200") {
  return RunCli({"download", Q(file), "--config", Q(config), "--device", Q(device), "--baud", baud,
                 "--signal-timeout", "30", "--echo-timeout", "10000", "--no-progress"});
}

// A HEX file's program memory as the host loads it (0xFF where it has none).
std::string ProgramImage(const std::string& hex, const Chip& chip, const TempDir& dir) {
  const std::string image = dir.file("image.bin");
  ProcessResult check = RunCli({"check", Q(hex), "--config", Q(Template(chip)), "--image-out", Q(image)});
  // 3: memory that holds the bootloader, which a download would refuse; the image is written all the same.
  EXPECT_TRUE(check.exitCode == 0 || check.exitCode == 3) << hex << check.err;
  return ReadFile(image);
}

// What arrives within timeoutMs in all, at most count bytes.
std::string Read(RawHost& host, size_t count, int timeoutMs) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  std::string bytes;
  while (bytes.size() < count) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    const int value = left > 0 ? host.ReadByte(static_cast<int>(left)) : RawHost::kTimedOut;
    if (value < 0) break;
    bytes += static_cast<char>(value);
  }
  return bytes;
}

// Generous: a loaded machine may starve the chip, which never runs ahead of
// real time but may fall far behind it. Only a hang should reach these.
constexpr int kEchoWaitMs = 10000;
constexpr int kChipTextMs = 30000;

class ChipDownload : public ::testing::Test {
 protected:
  ScopedUserDirs userDirs;  // the CLI writes back its baud rate: never the user's
  TempDir dir;
};

TEST_F(ChipDownload, ChipHoldsTheProgramAndRunsIt) {
  const std::string hello = SourcePath("samples/hello.hex");
  for (const Chip& chip : {k452, k4520}) {
    SCOPED_TRACE(chip.name);
    const std::string dump = dir.file(std::string(chip.name) + ".hex");
    SimulatedBoard sim(ChipOptions(chip) + QStringList{"--once", "--expect", Q(hello), "--dump", Q(dump),
                                                       "--run-after", "0.2"});
    ProcessResult cli = Download(hello, Template(chip), sim.device());
    EXPECT_EQ(cli.exitCode, 0) << cli.err;
    ProcessResult run = sim.Finish();
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    // --expect: every program address, the jump words at 0..7, and the
    // user's first eight bytes in the bootloader's last erase block.
    EXPECT_NE(run.out.find("verified: 192 bytes programmed, jump to 0x007D00"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("program output: Hello from the PIC18!\\x0D\\x0A\n"), std::string::npos) << run.out;
    // The bootloader's code is as the programmer left it; the block after
    // it keeps the user's first eight bytes.
    const std::string memory = ProgramImage(dump, chip, dir);
    const std::string loader = ProgramImage(Firmware(chip), chip, dir);
    const int32_t slot = chip.flash - kEraseBlock;
    const size_t code = loader.find_last_not_of('\xFF', slot - 1) + 1 - chip.bootloader;
    ASSERT_EQ(memory.size(), static_cast<size_t>(chip.flash));
    EXPECT_EQ(memory.substr(chip.bootloader, code), loader.substr(chip.bootloader, code));
    EXPECT_EQ(memory.substr(slot, 8), ProgramImage(hello, chip, dir).substr(0, 8));
  }
}

TEST_F(ChipDownload, HeaderWithOtherBlockSizesFailsAtThatByte) {
  struct Case {
    const char* sizes;
    int byte;
  };
  for (const Case& c : {Case{"eraseblock:128\nprogramblock:8\n", 3}, Case{"eraseblock:64\nprogramblock:16\n", 4}}) {
    SCOPED_TRACE(c.sizes);
    dir.write("config.txt", std::string("model:OTHER\nflash:32768\nbootloader:007D00\n") + c.sizes);
    SimulatedBoard sim(ChipOptions(k452) + QStringList{"--once"});
    ProcessResult cli = Download(SourcePath("samples/hello.hex"), dir.file("config.txt"), sim.device());
    EXPECT_EQ(cli.exitCode, 1);
    // A result, failed or not, is on stdout.
    EXPECT_NE(cli.out.find("ERROR downloading byte " + std::to_string(c.byte) + "/"), std::string::npos) << cli.out;
  }
}

TEST_F(ChipDownload, ChipThatCannotRunIsAUsageError) {
  struct Case {
    QStringList options;
    std::string message;
  };
  dir.write("big.txt", ReadFile(Template(k452)) + "flash:65536\n");
  const Case cases[] = {
      {{"--chip", "p18f452", "--firmware", Q(dir.file("none.hex"))}, "cannot read the firmware"},
      {{"--chip", "p18f452", "--firmware", Q(SourcePath("README.md"))}, "neither Intel HEX nor a .cod file"},
      {{"--chip", "p18f999", "--firmware", Q(Firmware(k452))}, "could not load"},
      {{"--chip", "p18f452", "--firmware", Q(Firmware(k452)), "--config", Q(dir.file("big.txt"))}, "does not fit"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    ProcessResult run = RunBuilt("zentrel-sim", c.options, {}, 20000);
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
  }
}

TEST_F(ChipDownload, BlankChipStaysInTheBootloader) {
  SimulatedBoard sim(ChipOptions(k452));
  RawHost host(sim.device());
  // It signals again about once a second, and sends nothing else.
  EXPECT_EQ(Read(host, 3, kChipTextMs), "UUU");
}

TEST_F(ChipDownload, ProgrammedChipRunsTheProgramWithoutAnAnswer) {
  // The bootloader at the sample's own 19200 baud: gpsim's UART does not
  // always take a new rate after a reset.
  SimulatedBoard sim(ChipOptions(k452, BinPath("bootloader-p18f452.hex")));
  ASSERT_EQ(Download(SourcePath("samples/hello.hex"), Template(k452), sim.device(), "19200").exitCode, 0);
  // A config.txt whose bootloader: is not where the bootloader sits: the
  // chip refuses the jump before it erases anything, and signals again.
  dir.write("wrong.txt", ReadFile(Template(k452)) + "bootloader:007E00\n");
  usleep(500000);
  ProcessResult wrong = Download(SourcePath("samples/hello.hex"), dir.file("wrong.txt"), sim.device(), "19200");
  EXPECT_EQ(wrong.exitCode, 1);
  EXPECT_NE(wrong.out.find("ERROR downloading byte 7/204"), std::string::npos) << wrong.out;
  EXPECT_NE(wrong.out.find("check bootloader: in config.txt"), std::string::npos) << wrong.out;
  // A new host resets the chip, once the simulator has seen the last one go
  // (it checks the memory first): a pseudo-terminal tells only while no one
  // holds it. The program is still there.
  usleep(500000);
  RawHost host(sim.device());
  EXPECT_EQ(Read(host, sizeof kGreeting, kChipTextMs), std::string("U") + kGreeting);
}

TEST_F(ChipDownload, BurstWhileWritingDoesNotHangTheBootloader) {
  SimulatedBoard sim(ChipOptions(k452));
  RawHost host(sim.device());
  ASSERT_TRUE(host.AnswerSignal());
  // A 12 KiB program area, and the jump words that its bootloader takes.
  std::vector<uint8_t> start = BuildFrame(std::vector<uint8_t>(0x3000, 0xFF), kEraseBlock, 8, k452.bootloader);
  start.resize(12);
  ASSERT_EQ(host.SendFrame(start, kEchoWaitMs), 0);
  // Bytes sent without waiting pile up while a block is written (the chip
  // stalls) and overrun the receiver; some are lost, and then it goes on.
  for (int i = 0; i < 300; ++i) host.Send(0x00);
  size_t echoes = 0;
  while (host.ReadByte(1000) >= 0) ++echoes;  // until the line has been quiet for a second
  EXPECT_LT(echoes, 300u);
  EXPECT_EQ(host.SendFrame({0x5A}, kEchoWaitMs), 0);
}

TEST_F(ChipDownload, OwnAreaIsRefusedAtItsFirstByteAndTheBootloaderSurvives) {
  SimulatedBoard sim(ChipOptions(k442));
  {
    // A raw host, since the CLI refuses such a frame: one erase block past
    // the bootloader's address.
    RawHost host(sim.device());
    ASSERT_TRUE(host.AnswerSignal());
    const std::vector<uint8_t> image(k442.bootloader + kEraseBlock, 0x00);
    // Slot 5 carries address 0: the first byte at the bootloader's address
    // is the one refused, with an inverted echo.
    EXPECT_EQ(host.SendFrame(BuildFrame(image, kEraseBlock, 8, k442.bootloader), kEchoWaitMs),
              5 + k442.bootloader);
    EXPECT_EQ(host.lastReply, 0xFF);
  }
  // After a reset it signals again, and since the transfer never finished
  // it stays in the bootloader.
  RawHost next(sim.device());
  EXPECT_EQ(Read(next, 2, kChipTextMs), "UU");
}

// Flash that does not take what the bootloader writes: a worn cell, or a
// bootloader built for another write block than the chip's. The download
// fails at the last byte of the block, and the bootloader names it.
TEST_F(ChipDownload, WriteThatDoesNotTakeFailsAtTheLastByteOfItsBlock) {
  // The 452's bootloader built for 32-byte blocks, on its 8 holding registers.
  const std::string misbuilt = dir.file("misbuilt.hex");
  ASSERT_EQ(RunProgram("gpasm", {"--quiet", "-I", Q(SourcePath("firmware")), "-D", "FLASH_END=32768", "-D",
                                 "ERASE_BLOCK=64", "-D", "WRITE_BLOCK=32", "-D", "BOOT_ADDR=0x7D00", "-D",
                                 "BAUD=115200", "-o", Q(misbuilt), Q(SourcePath("firmware/p18f452.asm"))})
                .exitCode,
            0);
  dir.write("blocks32.txt", ReadFile(Template(k452)) + "programblock:32\n");
  const struct {
    Chip chip;
    QStringList sim;
    std::string config;
    int byte;  // the last of the write block that holds 0x41
    const char* simSays;
  } cases[] = {
      {k452, {"--flash-fault", "000041"}, Template(k452), 76, "holds the cell that takes no write, 0x000041"},
      {k4520, {"--flash-fault", "000041"}, Template(k4520), 100, "0x000040..0x00005F holds the cell"},
      {k4620, {"--flash-fault", "000041"}, Template(k4620), 132, "0x000040..0x00007F holds the cell"},
      {k452, {}, dir.file("blocks32.txt"), 36, "(inverted: the bootloader refused it)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.chip.name) + " " + c.config);
    const std::string firmware = c.sim.empty() ? misbuilt : Firmware(c.chip);
    SimulatedBoard sim(ChipOptions(c.chip, firmware) + c.sim + QStringList{"--once"});
    ProcessResult cli = Download(SourcePath("samples/hello.hex"), c.config, sim.device());
    EXPECT_EQ(cli.exitCode, 1);
    EXPECT_NE(cli.out.find("ERROR downloading byte " + std::to_string(c.byte) + "/204"), std::string::npos)
        << cli.out;
    EXPECT_NE(cli.out.find("did not take the write"), std::string::npos) << cli.out;
    ProcessResult run = sim.Finish();
    EXPECT_NE(run.out.find(c.simSays), std::string::npos) << run.out;
  }
}

}  // namespace
