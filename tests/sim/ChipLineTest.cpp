// The chip model's view of the line, without a chip: UART levels decoded as
// a receiver samples them, and the transfer followed from both directions.
#include <gtest/gtest.h>

#include <chrono>

#include "LineObserver.h"
#include "RealTimePace.h"
#include "UartBits.h"

namespace {

// Plays bytes onto a decoder as a transmitter would, from cycle at on.
uint64_t Transmit(UartDecoder& decoder, uint64_t at, const std::vector<uint8_t>& bytes, uint64_t bit,
                  uint64_t gap = 0) {
  for (uint8_t value : bytes) {
    for (bool level : UartFrameBits(value)) {
      decoder.Level(at, level, bit);
      at += bit;
    }
    at += gap;
  }
  return at;
}

TEST(UartDecoder, ReadsBytesBackToBackOrApartAtAnyRate) {
  const std::vector<uint8_t> bytes = {0x55, 0x00, 0xFF, 0x01, 0x80, 0xA5};
  for (uint64_t bit : {4, 44, 260}) {
    for (uint64_t gap : {0, 1, 1000}) {
      SCOPED_TRACE(std::to_string(bit) + " cycles a bit, gap " + std::to_string(gap));
      UartDecoder decoder;
      decoder.Level(0, true, bit);
      const uint64_t end = Transmit(decoder, 10, bytes, bit, gap);
      std::vector<uint8_t> out;
      decoder.Collect(end, out);
      EXPECT_EQ(out, bytes);
      EXPECT_EQ(decoder.Due(), kNever);
    }
  }
}

TEST(UartDecoder, WaitsForTheStopBitAndForARisingLineAfterABreak) {
  UartDecoder decoder;
  const uint64_t end = Transmit(decoder, 100, {0x3C}, 10);
  std::vector<uint8_t> out;
  decoder.Collect(decoder.Due() - 1, out);
  EXPECT_TRUE(out.empty());
  decoder.Collect(end, out);
  EXPECT_EQ(out, std::vector<uint8_t>{0x3C});
  // A line held low (a disabled transmitter) reads as one zero byte, then
  // nothing until it rises and falls again.
  decoder.Level(1000, false, 10);
  decoder.Collect(5000, out);
  EXPECT_EQ(out, (std::vector<uint8_t>{0x3C, 0x00}));
  decoder.Level(6000, true, 10);
  Transmit(decoder, 7000, {0x42}, 10);
  decoder.Collect(9000, out);
  EXPECT_EQ(out, (std::vector<uint8_t>{0x3C, 0x00, 0x42}));
}

// Signal, answer and a frame with P = 16: 4 header bytes, 16, 8.
std::vector<uint8_t> SmallFrame() {
  std::vector<uint8_t> frame = {15, 0, 64, 8};
  for (int i = 0; i < 24; ++i) frame.push_back(static_cast<uint8_t>(i * 7));
  return frame;
}

LineObserver Answered() {
  LineObserver line;
  line.FromChip(0x55);
  EXPECT_EQ(line.FromHost(0x55), LineObserver::Event::Started);
  return line;
}

TEST(LineObserver, CompletesWhenTheLastEchoMatches) {
  LineObserver line = Answered();
  const std::vector<uint8_t> frame = SmallFrame();
  for (size_t k = 0; k < frame.size(); ++k) {
    line.FromHost(frame[k]);
    EXPECT_EQ(line.FromChip(frame[k]), k + 1 == frame.size() ? LineObserver::Event::Completed
                                                              : LineObserver::Event::None);
  }
  EXPECT_EQ(line.Transfer().programBytes, 16);
  EXPECT_EQ(line.Transfer().writeBlock, 8);
  // What follows is the program's, a 'U' too; the host's bytes change nothing.
  line.FromHost(0x55);
  for (char c : std::string("U ok")) line.FromChip(static_cast<uint8_t>(c));
  EXPECT_EQ(std::string(line.ProgramOutput().begin(), line.ProgramOutput().end()), "U ok");
}

TEST(LineObserver, NamesTheFrameByteOfAWrongEchoAndWaitsForTheNextSignal) {
  LineObserver line = Answered();
  for (uint8_t value : {15, 0, 64}) {
    line.FromHost(value);
    line.FromChip(value);
  }
  line.FromHost(32);
  EXPECT_EQ(line.FromChip(32 ^ 0xFF), LineObserver::Event::Failed);
  EXPECT_EQ(line.Failure(), "wrong echo of frame byte 4: sent 0x20, echoed 0xDF (inverted: the bootloader refused it)");
  EXPECT_FALSE(line.InTransfer());
  // Until the bootloader signals again, a host's 0x55 is no answer.
  EXPECT_EQ(line.FromHost(0x55), LineObserver::Event::None);
  line.FromChip(0x55);
  EXPECT_EQ(line.FromHost(0x55), LineObserver::Event::Started);
}

TEST(LineObserver, NoiseBeforeTheAnswerStartsNothing) {
  LineObserver line;
  EXPECT_EQ(line.FromHost(0x55), LineObserver::Event::None);  // no signal yet
  line.FromChip(0x55);
  EXPECT_EQ(line.FromHost(0x13), LineObserver::Event::None);  // no answer
  EXPECT_FALSE(line.InTransfer());
}

}  // namespace

namespace {

// A chip of 1000 cycles a second that may lag 20 ms.
TEST(RealTimePace, NeverAheadOfTheWallClockAndGivesUpWhatItLost) {
  using namespace std::chrono_literals;
  const RealTimePace::Clock::time_point start{};
  RealTimePace pace(1000, 20ms);
  pace.Start(start + 5ms, 100);  // the host settles first
  EXPECT_EQ(pace.Target(start, 100), 100u);
  EXPECT_EQ(pace.Target(start + 15ms, 100), 110u);
  // Starved for a second at cycle 110: it may catch up 20 ms, no more.
  EXPECT_EQ(pace.Target(start + 1005ms, 110), 130u);
  // From there on, what the wall clock gives and not a cycle beyond.
  EXPECT_EQ(pace.Target(start + 1015ms, 130), 140u);
  EXPECT_EQ(pace.Target(start + 1015ms, 140), 140u);
  EXPECT_NEAR(std::chrono::duration<double>(pace.WallTimeOf(150) - start).count(), 1.025, 1e-6);
}

}  // namespace
