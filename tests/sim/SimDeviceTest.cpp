// The device model, the check against a HEX file and the dump, without a line.
#include <gtest/gtest.h>

#include <filesystem>

#include "common/TestSupport.h"
#include "sim/SimFrames.h"
#include "SymbolicLink.h"
#include "SimDevice.h"
#include "SimOptions.h"
#include "SimReport.h"

namespace {

// Answers the signal, then feeds the frame; returns the reactions.
std::vector<Reaction> Feed(SimDevice& device, const std::vector<uint8_t>& frame) {
  device.Receive(0x55);
  std::vector<Reaction> reactions;
  for (uint8_t byte : frame) reactions.push_back(device.Receive(byte));
  return reactions;
}

Expectation ExampleExpectation() {
  Expectation expectation;
  expectation.image = ExampleImage();
  expectation.image.resize(kExampleFlash, 0xFF);
  expectation.programBytes = 0x10A;
  expectation.eraseBlock = 64;
  expectation.bootloaderAddress = kExampleBootloader;
  return expectation;
}

std::vector<uint8_t> Filled(size_t size, uint8_t value) { return std::vector<uint8_t>(size, value); }
}  // namespace

TEST(SimDevice, EchoesAndProgramsTheExampleFrame) {
  SimDevice device(kExampleFlash, {});
  const std::vector<uint8_t> frame = ExampleFrame();
  ASSERT_EQ(frame.size(), 332u);
  const std::vector<Reaction> reactions = Feed(device, frame);
  for (size_t k = 0; k < frame.size(); ++k) {
    ASSERT_EQ(reactions[k].reply, Reply::Echo) << "byte " << k + 1;
    ASSERT_EQ(reactions[k].value, frame[k]) << "byte " << k + 1;
    ASSERT_EQ(reactions[k].completed, k + 1 == frame.size()) << "byte " << k + 1;
  }
  EXPECT_TRUE(device.Signalling());
  const TransferRecord& transfer = device.Transfer();
  EXPECT_EQ(transfer.programBytes, 320);
  EXPECT_TRUE(transfer.faults.empty());
  const std::array<uint8_t, 8> relocated = {0x80, 0xEF, 0x00, 0xF0, 0xFF, 0xFF, 0xFF, 0xFF};
  EXPECT_EQ(transfer.relocated, relocated);
  EXPECT_EQ(device.Memory().At(2), 0x80);  // GOTO low byte: W = 0x3E80
  EXPECT_EQ(device.Memory().At(0x109), 10);
  EXPECT_TRUE(device.Memory().Written(319));
  EXPECT_FALSE(device.Memory().Written(320));

  const TransferCheck verdict = VerifyTransfer(ExampleExpectation(), device.Memory(), transfer);
  EXPECT_TRUE(verdict.ok);
  EXPECT_EQ(verdict.text,
            "verified: 320 bytes programmed, jump to 0x007D00, first eight bytes relocated");
}

TEST(SimDevice, IgnoresEverythingButTheAnswerWhileSignalling) {
  SimDevice device(kExampleFlash, {});
  for (uint8_t noise : {0x00, 0x54, 0xAA, 0xFF}) {
    EXPECT_EQ(device.Receive(noise).reply, Reply::Nothing);
    EXPECT_TRUE(device.Signalling());
  }
  EXPECT_EQ(device.Receive(0x55).reply, Reply::Nothing);
  EXPECT_FALSE(device.Signalling());
  // Once answered, 0x55 is a frame byte like any other.
  EXPECT_EQ(device.Receive(0x55).reply, Reply::Echo);
  EXPECT_EQ(device.Transfer().received, 1);
}

TEST(SimDevice, ErasesEachEraseBlockBeforeItsFirstWriteOfATransfer) {
  SimDevice device(kExampleFlash, {});
  Feed(device, BuildFrame(Filled(128, 0x11), 64, 8));
  // A shorter program leaves the erase blocks it does not touch as they were.
  Feed(device, BuildFrame(Filled(64, 0x22), 64, 8));
  EXPECT_EQ(device.Memory().At(63), 0x22);
  EXPECT_EQ(device.Memory().At(64), 0x11);
  // With a 128-byte erase block the whole first block is erased first.
  Feed(device, BuildFrame(Filled(64, 0x33), 128, 8));
  EXPECT_EQ(device.Memory().At(63), 0x33);
  EXPECT_EQ(device.Memory().At(64), 0xFF);
  EXPECT_FALSE(device.Memory().Written(64));
}

TEST(SimDevice, ReportsFramesThatCannotBeProgrammed) {
  SimDevice small(64, {});
  Feed(small, BuildFrame(Filled(128, 0x11), 64, 8));
  ASSERT_EQ(small.Transfer().faults.size(), 1u);
  EXPECT_EQ(small.Transfer().faults[0],
            "write block at 0x000040 runs past the end of program memory (64 bytes)");
  EXPECT_EQ(small.Memory().At(8), 0x11);

  SimDevice zeroBlocks(kExampleFlash, {});
  const std::vector<Reaction> reactions = Feed(zeroBlocks, BuildFrame(Filled(64, 0x11), 0, 0));
  EXPECT_TRUE(reactions.back().completed);
  EXPECT_EQ(zeroBlocks.Transfer().faults,
            (std::vector<std::string>{"erase block size 0 in the header",
                                      "write block size 0 in the header"}));
  EXPECT_FALSE(zeroBlocks.Memory().Written(8));
}

TEST(SimDevice, InjectsEachFaultOnceAtItsByte) {
  const std::vector<uint8_t> frame = ExampleFrame();
  struct Case {
    FaultPlan plan;
    int k;
    Reply reply;
  };
  const Case cases[] = {
      {{.corruptEcho = 7}, 7, Reply::Echo},
      {{.stopEcho = 7}, 7, Reply::Nothing},
      {{.restartAt = 7}, 7, Reply::Restart},
      {{.closeAt = 7}, 7, Reply::Close},
  };
  for (const Case& c : cases) {
    SimDevice device(kExampleFlash, c.plan);
    std::vector<Reaction> reactions = Feed(device, frame);
    const Reaction& hit = reactions[c.k - 1];
    EXPECT_EQ(hit.reply, c.reply) << "fault at " << c.k;
    EXPECT_EQ(reactions[c.k - 2].reply, Reply::Echo);
    if (c.plan.corruptEcho) {
      EXPECT_NE(hit.value, frame[c.k - 1]);
    }
    if (c.plan.stopEcho) {
      EXPECT_EQ(reactions.back().reply, Reply::Nothing);
    }
    if (c.plan.restartAt) {
      EXPECT_TRUE(device.Signalling());
    }
    // The next transfer runs clean, so a host's retry succeeds.
    device.Reset();
    reactions = Feed(device, frame);
    for (size_t k = 0; k < frame.size(); ++k) {
      ASSERT_EQ(reactions[k].reply, Reply::Echo) << "retry, byte " << k + 1;
      ASSERT_EQ(reactions[k].value, frame[k]) << "retry, byte " << k + 1;
    }
    EXPECT_TRUE(reactions.back().completed);
  }
}

TEST(SimDevice, JumpWordsLeadToTheBootloader) {
  struct Case {
    int32_t bootloader;
    std::array<uint8_t, 4> middle;  // bytes 2..5
  };
  const Case cases[] = {
      {0x7D00, {0x80, 0xEF, 0x3E, 0xF0}},  {0x7D01, {0x80, 0xEF, 0x3E, 0xF0}},
      {0x7D03, {0x82, 0xEF, 0x3E, 0xF0}},  {0x1FC00, {0x00, 0xEF, 0xFE, 0xF0}},
      {0x20000, {0x00, 0xEF, 0x00, 0xF1}},
  };
  for (const Case& c : cases) {
    const std::array<uint8_t, 8> words = JumpWords(c.bootloader);
    const std::array<uint8_t, 8> expected = {0xD0,        0x8E,        c.middle[0], c.middle[1],
                                             c.middle[2], c.middle[3], 0x00,        0x00};
    EXPECT_EQ(words, expected) << std::hex << c.bootloader;
  }
}

TEST(SimReport, NamesTheFirstDifference) {
  struct Case {
    std::string name;
    std::vector<uint8_t> image;
    int32_t bootloader;
    std::string text;
  };
  std::vector<uint8_t> changedCode = ExampleImage();
  changedCode[0x102] = 0x00;
  std::vector<uint8_t> changedStart = ExampleImage();
  changedStart[1] = 0x00;
  std::vector<uint8_t> shorter = ExampleImage();
  shorter.resize(256);
  const Case cases[] = {
      {"program byte", changedCode, kExampleBootloader,
       "MISMATCH at 0x0102: expected 0x03, programmed 0x00"},
      {"jump word", ExampleImage(), 0x7E00, "MISMATCH at 0x0002: expected 0x80, programmed 0x00"},
      {"relocated byte", changedStart, kExampleBootloader,
       "MISMATCH in relocated byte 1: expected 0xEF, received 0x00"},
      {"area", shorter, kExampleBootloader,
       "MISMATCH in program area: expected 320 bytes, programmed 256"},
  };
  for (const Case& c : cases) {
    SimDevice device(kExampleFlash, {});
    Feed(device, BuildFrame(c.image, 64, 8, c.bootloader));
    const TransferCheck verdict = VerifyTransfer(ExampleExpectation(), device.Memory(), device.Transfer());
    EXPECT_FALSE(verdict.ok) << c.name;
    EXPECT_EQ(verdict.text, c.text) << c.name;
  }
}

TEST(SimReport, LoadsTheExpectationAsTheHostLoadsTheFile) {
  TempDir dir;
  dir.write("example.hex", ExampleHexText());
  dir.write("tiny.hex", ":0400000080EF00F09D\n:00000001FF\n");
  dir.write("bad.hex", ":0400000080EF00F09E\n:00000001FF\n");
  const DeviceDescription device = ExampleDevice();
  Expectation expectation;
  std::string error;
  ASSERT_TRUE(LoadExpectation(dir.file("example.hex"), device, expectation, error)) << error;
  EXPECT_EQ(expectation.programBytes, 0x10A);
  EXPECT_EQ(expectation.image.size(), static_cast<size_t>(kExampleFlash));
  EXPECT_EQ(expectation.image[0x105], 6);
  EXPECT_FALSE(LoadExpectation(dir.file("tiny.hex"), device, expectation, error));
  EXPECT_NE(error.find("8 program bytes or fewer"), std::string::npos) << error;
  EXPECT_FALSE(LoadExpectation(dir.file("bad.hex"), device, expectation, error));
  EXPECT_NE(error.find("bad.hex"), std::string::npos) << error;
}

TEST(SimReport, WritesHexRecordsWithinTheir64KiBPage) {
  const std::vector<HexSegment> segments = {
      {0x0010, {0x01, 0x02, 0x03, 0x04}},
      {0xFFFC, {0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5}},
  };
  EXPECT_EQ(IntelHexText(segments),
            ":0400100001020304E2\n"
            ":04FFFC00A0A1A2A37B\n"
            ":020000040001F9\n"
            ":02000000A4A5B5\n"
            ":00000001FF\n");
}

TEST(SimReport, DumpReadsBackAsTheProgramWithItsRelocatedBytes) {
  SimDevice device(kExampleFlash, {});
  Feed(device, ExampleFrame());
  TempDir dir;
  std::string error;
  ASSERT_TRUE(WriteDump(dir.file("dump.hex"), device.Memory(), device.Transfer().relocated, error));
  const DeviceDescription description = ExampleDevice();
  Expectation programmed, relocated;
  ASSERT_TRUE(LoadExpectation(dir.file("dump.hex"), description, programmed, error)) << error;
  EXPECT_EQ(programmed.programBytes, 320);
  const std::array<uint8_t, 8> jump = JumpWords(kExampleBootloader);
  EXPECT_TRUE(std::equal(jump.begin(), jump.end(), programmed.image.begin()));
  EXPECT_TRUE(std::equal(programmed.image.begin() + 8, programmed.image.begin() + 320,
                         ExampleImage().begin() + 8));
  // Eight bytes are too few to load as a program; read the file directly.
  EXPECT_EQ(ReadFile(dir.file("dump.hex.relocated")),
            ":0800000080EF00F0FFFFFFFF9D\n:00000001FF\n");
}

// The user's own COM<n> link is borrowed, never lost; other files are left alone.
TEST(SimSymbolicLink, PutsBackTheLinkItReplacedAndLeavesOtherFilesAlone) {
  namespace fs = std::filesystem;
  TempDir dir;
  const std::string port = dir.file("COM3");
  fs::create_symlink("/dev/ttyUSB0", port);
  std::string error;
  {
    SymbolicLink link;
    ASSERT_TRUE(link.Create(port, "/dev/pts/91", error)) << error;
    EXPECT_EQ(fs::read_symlink(port), "/dev/pts/91");
  }
  EXPECT_EQ(fs::read_symlink(port), "/dev/ttyUSB0");

  {
    SymbolicLink link;
    ASSERT_TRUE(link.Create(port, "/dev/pts/91", error)) << error;
    fs::remove(port);
    fs::create_symlink("/dev/ttyACM0", port);  // pointed elsewhere meanwhile
  }
  EXPECT_EQ(fs::read_symlink(port), "/dev/ttyACM0");

  const std::string fresh = dir.file("COM4");
  {
    SymbolicLink link;
    ASSERT_TRUE(link.Create(fresh, "/dev/pts/92", error)) << error;
  }
  EXPECT_FALSE(fs::exists(fs::symlink_status(fresh)));

  dir.write("COM5", "a file");
  SymbolicLink link;
  EXPECT_FALSE(link.Create(dir.file("COM5"), "/dev/pts/93", error));
  EXPECT_NE(error.find("not a symbolic link"), std::string::npos) << error;
  EXPECT_TRUE(fs::is_regular_file(dir.file("COM5")));
}

TEST(SimOptions, RejectsWhatItCannotUse) {
  const std::vector<std::vector<std::string>> bad = {
      {"--baud"},          {"--baud", "0"},        {"--stop-echo", "-1"},
      {"--as-port", "x"},  {"--bootloader", "7D00"}, {"--noise", "3x"},
      {"--frobnicate"},    {"--dump", ""},         {"--latency-us", "-1"},
      {"--latency-us", "1000001"},
      // A chip needs its firmware; its line is its firmware's, its faults real.
      {"--chip", "p18f452"}, {"--firmware", "x.hex"}, {"--run-after", "1"},
      {"--chip", "p18f452", "--firmware", "x.hex", "--baud", "115200"},
      {"--chip", "p18f452", "--firmware", "x.hex", "--corrupt-echo", "5"},
      {"--chip", "p18f452", "--firmware", "x.hex", "--latency-us", "1000"},
      {"--chip", "p18f452", "--firmware", "x.hex", "--run-after", "0"},
  };
  for (const auto& args : bad) {
    SimOptions options;
    std::string error;
    EXPECT_FALSE(ParseSimOptions(args, options, error)) << args[0];
    EXPECT_FALSE(error.empty());
  }
  SimOptions options;
  std::string error;
  ASSERT_TRUE(ParseSimOptions({"--bootloader", "007d01", "--once", "--close-at", "9",
                               "--signal-interval", "0"},
                              options, error))
      << error;
  EXPECT_EQ(options.bootloaderAddress, 0x7D01);
  EXPECT_TRUE(options.once);
  EXPECT_EQ(options.faults.closeAt, 9);
  EXPECT_EQ(options.signalIntervalMs, 0);
}
