#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "HexTestSupport.h"
#include "common/TestSupport.h"
#include "HexCodec.h"
#include "HexParser.h"

namespace {
const std::string kStartCode = ": The record does not begin with ':' simbol.";
const std::string kTooShort = ": The record is too short.";
const std::string kChecksum = ": Invalid 'checksum' field in the record.";
const std::string kRecordType = ": Invalid 'record type' field in the record.";
const std::string kType04 = ": Invalid '04 type' record.";
const std::string kNumberOfBytes = ": Invalid 'number of bytes' field in the record.";
const std::string kAddress = ": Invalid 'address' field in the record.";
const std::string kByteCount = ": The record does not contain the specified number of bytes.";
const std::string kDataByte = ": Invalid data byte in the record.";
const std::string kOutOfRange = ": Address out of range.";

// A record line whose checksum field matches its body, whatever the body holds.
std::string WithChecksum(const std::string& body) { return ":" + body + RecordChecksum(body); }

struct Parsed {
  AppState state;
  bool ok = false;
  std::vector<std::string> messages;
};

Parsed Parse(const std::string& text, size_t bufferSize = kHexReadBufferSize,
             int32_t flashSize = 0x8000, int32_t eepromSize = 256) {
  Parsed result;
  result.state = PreparedState(flashSize, eepromSize);
  RecordingDialogs dialogs;
  result.ok = ParseHexText(result.state, text, dialogs, bufferSize);
  result.messages = dialogs.messages;
  return result;
}

// "" for a clean parse, else the fault box text.
std::string Outcome(const Parsed& parsed) {
  if (parsed.ok) return parsed.messages.empty() ? "" : "ok, yet a box: " + parsed.messages[0];
  return parsed.messages.size() == 1 ? parsed.messages[0] : "fault without one box";
}

struct Example {
  const char* name;
  std::string text;
  std::string expected;  // "" = accepted
  int32_t programBytes = 0;
};

TEST(HexParser, RecordChecksInTheirOrder) {
  const Example examples[] = {
      {"only an end record", ":00000001FF\r\n", ""},
      {"lines after the end record are not read", ":00000001FF\r\nrubbish\r\n", ""},
      {"lower-case checksum", ":00000001ff\r\n", FaultMessage(1, kChecksum)},
      {"blank before the start code", " :00000001FF\r\n", FaultMessage(1, kStartCode)},
      {"trailing spaces are dropped", ":00000001FF   \r\n", ""},
      {"a trailing tab is not", ":00000001FF\t\r\n", FaultMessage(1, kChecksum)},
      {"comments and blank lines count", ";a\r\n\r\nX\r\n", FaultMessage(3, kStartCode)},
      {"a comment after spaces is no comment", "  ;a\r\n", FaultMessage(1, kStartCode)},
      {"too short", ":00000001F\r\n", FaultMessage(1, kTooShort)},
      {"empty file", "", ""},
      {"no end record", Record(0, 0x10, {1}) + "\r\n", "", 0x11},
      {"type 00 without data", ":0000000000\r\n", ""},
      {"type 00 without data, any count and address", WithChecksum("FFGGGG00"), ""},
      {"type 02", Record(2, 0, {0x10, 0}), FaultMessage(1, kRecordType)},
      {"type 03", Record(3, 0, {0, 0, 0, 0}), FaultMessage(1, kRecordType)},
      {"type field not hex", WithChecksum("000000ZZ"), FaultMessage(1, kRecordType)},
      {"type 05 is skipped", Record(5, 0, {0, 0, 1, 0}) + "\n" + Record(0, 0, {7}), "", 1},
      {"04 with count and address ignored", WithChecksum("FF1G3404" "0030"), ""},
      {"04 data too long", Record(4, 0, {0, 0x30, 0}), FaultMessage(1, kType04)},
      {"04 data lower case", WithChecksum("02000004" "0a0f"), FaultMessage(1, kType04)},
      {"bad number of bytes", WithChecksum("0G000000" "01"), FaultMessage(1, kNumberOfBytes)},
      {"bad address", WithChecksum("01000G00" "01"), FaultMessage(1, kAddress)},
      {"count 02 with three bytes", WithChecksum("02000000" "010203"), FaultMessage(1, kByteCount)},
      {"a changed count breaks the checksum", Record(0, 0, {1, 2, 3}).replace(1, 2, "02"),
       FaultMessage(1, kChecksum)},
      {"odd data length", WithChecksum("01000000" "012"), FaultMessage(1, kByteCount)},
      {"bad data byte", WithChecksum("02000000" "01G0"), FaultMessage(1, kDataByte), 1},
      {"worked example", ":0400100001020304E2\r\n" + Record(0, 0, {9}), "", 20},
      {"across 64 KiB without wrap", ":04FFFE0001020304F5", "", 0x10002},
  };
  for (const Example& e : examples) {
    const Parsed parsed = Parse(e.text, kHexReadBufferSize, 0x20000);
    EXPECT_EQ(Outcome(parsed), e.expected) << e.name;
    EXPECT_EQ(parsed.state.ProgramBytes, e.programBytes) << e.name;
  }
}

TEST(HexParser, StoresBytesAndRaisesProgramBytesToTheHighest) {
  const Parsed parsed = Parse(":0400100001020304E2\r\n" + Record(0, 0, {0xAA}) + "\r\n");
  ASSERT_TRUE(parsed.ok);
  const std::vector<uint8_t>& image = parsed.state.FlashImage;
  EXPECT_EQ(std::vector<uint8_t>(image.begin() + 0x10, image.begin() + 0x14),
            (std::vector<uint8_t>{1, 2, 3, 4}));
  EXPECT_EQ(image[0], 0xAA);
  EXPECT_EQ(image[1], 0xFF);
  EXPECT_EQ(image[0x14], 0xFF);
  EXPECT_EQ(parsed.state.ProgramBytes, 20);
}

TEST(HexParser, AddressMap) {
  const std::vector<uint8_t> two = {0x12, 0x34};
  const Example examples[] = {
      {"configuration", ExtendedRecord(0x30) + "\n" + Record(0, 0, std::vector<uint8_t>(16, 1)),
       ""},
      {"past configuration", ExtendedRecord(0x30) + "\n" + Record(0, 0x0F, two),
       FaultMessage(2, kOutOfRange)},
      {"ID locations", ExtendedRecord(0x20) + "\n" + Record(0, 0, std::vector<uint8_t>(8, 1)),
       ""},
      {"past ID locations", ExtendedRecord(0x20) + "\n" + Record(0, 7, two),
       FaultMessage(2, kOutOfRange)},
      {"device ID", ExtendedRecord(0x3F) + "\n" + Record(0, 0xFFFE, two), ""},
      {"below device ID", ExtendedRecord(0x3F) + "\n" + Record(0, 0xFFFD, two),
       FaultMessage(2, kOutOfRange)},
      {"EEPROM", ExtendedRecord(0xF0) + "\n" + Record(0, 0xFE, two), ""},
      {"past EEPROM", ExtendedRecord(0xF0) + "\n" + Record(0, 0xFF, two),
       FaultMessage(2, kOutOfRange)},
      {"ID bytes still validated",
       ExtendedRecord(0x20) + "\n" + WithChecksum("02000000" "0G00"), FaultMessage(2, kDataByte)},
      {"highest extended address", ExtendedRecord(0xFFFF) + "\n" + Record(0, 0xFFFF, two),
       FaultMessage(2, kOutOfRange)},
      {"extended address with the top bit", ExtendedRecord(0x8000) + "\n" + Record(0, 0, two),
       FaultMessage(2, kOutOfRange)},
      {"program memory ends at FlashSize", Record(0, 0x7FFE, {1, 2, 3, 4}),
       FaultMessage(1, kOutOfRange), 0x8000},
      {"a later record applies the extended address",
       ExtendedRecord(0x30) + "\n" + Record(0, 0, two) + "\n" + Record(0, 2, two), ""},
  };
  for (const Example& e : examples) {
    const Parsed parsed = Parse(e.text);
    EXPECT_EQ(Outcome(parsed), e.expected) << e.name;
    EXPECT_EQ(parsed.state.ProgramBytes, e.programBytes) << e.name;
  }
  // Bytes before the fault stay: the loader discards them, not the parser.
  const Parsed partial = Parse(Record(0, 0x7FFE, {1, 2, 3, 4}));
  EXPECT_EQ(partial.state.FlashImage[0x7FFE], 1);
  EXPECT_EQ(partial.state.FlashImage[0x7FFF], 2);
  // No EEPROM at all: its first byte is out of range.
  const Parsed noEeprom = Parse(ExtendedRecord(0xF0) + "\n" + Record(0, 0, two),
                                kHexReadBufferSize, 0x8000, 0);
  EXPECT_EQ(Outcome(noEeprom), FaultMessage(2, kOutOfRange));
}

TEST(HexParser, ExtendedAddressStartsAtZeroInEveryParse) {
  AppState state = PreparedState();
  RecordingDialogs dialogs;
  ASSERT_TRUE(ParseHexText(state, ExtendedRecord(0x30) + "\n", dialogs));
  ASSERT_TRUE(ParseHexText(state, Record(0, 0, {0x42}), dialogs));
  EXPECT_EQ(state.FlashImage[0], 0x42);
  EXPECT_EQ(state.ProgramBytes, 1);
}

TEST(HexParser, EveryLineEndCountsOneLine) {
  const std::string good = Record(0, 0, {1});
  const char* ends[] = {"\r\n", "\r", "\n"};
  for (const char* end : ends) {
    const std::string text = ";c" + std::string(end) + end + good + end + "X" + end;
    EXPECT_EQ(Outcome(Parse(text)), FaultMessage(4, kStartCode)) << int(end[0]);
  }
  // LF CR is two line ends; CR CR LF is two.
  EXPECT_EQ(Outcome(Parse(good + "\n\rX")), FaultMessage(3, kStartCode));
  EXPECT_EQ(Outcome(Parse(good + "\r\r\nX")), FaultMessage(3, kStartCode));
  // A last line without an end is read; a final line end adds no line.
  EXPECT_EQ(Outcome(Parse(good + "\r\n" + good)), "");
  EXPECT_EQ(Outcome(Parse("\r\n\r\nX\r\n")), FaultMessage(3, kStartCode));
}

// Texts that touch the buffer edges: any buffer size must give the same
// messages, image and ProgramBytes as one large buffer.
std::vector<std::string> BufferEdgeTexts() {
  const std::string data = Record(0, 0x20, std::vector<uint8_t>(255, 0x5A));
  const std::string long05 = WithChecksum("FF000005" + std::string(4000, 'A'));
  return {
      ";x\r\n\r\n" + data + "\r\n" + Record(0, 0, {1, 2}) + "\r\nX\r\n",
      data + "\r" + data + "\n" + data + "\r\n\r" + EndRecord(),
      long05 + "   \r\n" + Record(0, 0, {7}) + "\n",
      long05 + "B\r\n",
      ":00000000" + std::string(3000, ' ') + "00\r\n" + Record(0, 3, {3}),
      data + std::string(5000, ' ') + "\r\n" + Record(0, 1, {1}),
      ":FF000000" + std::string(6000, '0') + "\n",
      ":GG000000" + std::string(6000, '0') + "\n",
      ":00000004" + std::string(6000, '0') + "\n",
      std::string(6000, '\0') + "\n",
      std::string(700, ';') + "\r\r\r\n" + std::string(700, ' ') + "\r\n:",
  };
}

TEST(HexParser, SameResultForEveryBufferSize) {
  for (const std::string& text : BufferEdgeTexts()) {
    const Parsed reference = Parse(text);
    for (size_t size : {2, 3, 5, 11, 16, 64, 521, 522, 1000}) {
      const Parsed parsed = Parse(text, size);
      ASSERT_EQ(parsed.messages, reference.messages) << size << " " << text.substr(0, 40);
      ASSERT_EQ(parsed.ok, reference.ok);
      ASSERT_EQ(parsed.state.ProgramBytes, reference.state.ProgramBytes);
      ASSERT_EQ(parsed.state.FlashImage, reference.state.FlashImage);
    }
  }
  // The folded sum must really match: the long type 05 record is accepted.
  EXPECT_EQ(Outcome(Parse(BufferEdgeTexts()[2], 64)), "");
  EXPECT_EQ(Outcome(Parse(BufferEdgeTexts()[3], 64)), FaultMessage(1, kChecksum));
}

TEST(HexParser, LinesOfAMegabyte) {
  const std::string next = "\r\n" + Record(0, 0, {0x33}) + "\r\n";
  const std::string megabyte(1 << 20, 'C');
  const Example examples[] = {
      {"valid type 05", WithChecksum("FF000005" + megabyte) + next, "", 1},
      {"a megabyte of trailing spaces", EndRecord() + std::string(1 << 20, ' ') + next, ""},
      {"spaces then a character", EndRecord() + std::string(1 << 20, ' ') + "X" + next,
       FaultMessage(1, kChecksum)},
      {"data far beyond 255 bytes", WithChecksum("FF000000" + megabyte) + next,
       FaultMessage(1, kByteCount)},
      {"NUL bytes", std::string(1 << 20, '\0') + next, FaultMessage(1, kStartCode)},
  };
  TempDir dir;
  for (const Example& e : examples) {
    dir.write("long.hex", e.text);
    AppState state = PreparedState();
    RecordingDialogs dialogs;
    const bool ok = ParseHexFile(state, dir.file("long.hex"), dialogs);
    EXPECT_EQ(ok, e.expected.empty()) << e.name;
    EXPECT_EQ(dialogs.messages, ok ? std::vector<std::string>{} : std::vector{e.expected})
        << e.name;
    EXPECT_EQ(state.ProgramBytes, e.programBytes) << e.name;
  }
}

TEST(HexParser, NulBytesInsideARecord) {
  std::string line = Record(0, 0, {1, 2});
  line[10] = '\0';
  EXPECT_EQ(Outcome(Parse(line)), FaultMessage(1, kChecksum));
  const std::string sneaky = WithChecksum(std::string("02000000") + '\0' + "102");
  EXPECT_EQ(Outcome(Parse(sneaky)), FaultMessage(1, kDataByte));
}
}  // namespace
