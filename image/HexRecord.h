#pragma once
// One line of a HEX file checked as a record and, for data records, placed
// by the PIC18 address map. Works on the line in place; nothing allocates.
#include <cstddef>
#include <cstdint>
#include <string_view>

// The longest line that can be a valid record: 255 data bytes.
constexpr size_t kRecordHeadSize = 1 + 8 + 2 * 255 + 2;

// A line with its trailing spaces removed, described so that a line too long
// to hold can be judged from its head and a running checksum sum.
struct RecordLine {
  // The whole line, or at least its first kRecordHeadSize characters.
  std::string_view text;
  uint64_t length = 0;   // length of the whole line
  int64_t bodySum = 0;   // RecordPairSum of the body; set when length >= 11
  char check[2] = {};    // the last two characters; set when length >= 11
};

// A line held whole: trailing spaces removed, sum and checksum taken.
RecordLine WholeLine(std::string_view line);

enum class Verdict {
  Next,       // go on with the next line
  EndOfFile,  // a type 01 record: stop reading, no fault
  StartCode,
  TooShort,
  Checksum,
  RecordType,
  Type04,
  NumberOfBytes,
  Address,
  ByteCount,
  DataByte,
  OutOfRange,
};

// The fault's text after the line number, beginning with ": ".
std::string_view FaultText(Verdict fault);

// Bytes of a file outside program memory, by area: checked, never stored,
// since a download carries program memory only.
struct OtherAreaBytes {
  uint64_t id = 0;        // ID locations, 0x200000..0x200007
  uint64_t config = 0;    // configuration words, 0x300000..0x30000F
  uint64_t deviceId = 0;  // device ID, 0x3FFFFE..0x3FFFFF (read only on a chip)
  uint64_t eeprom = 0;    // data EEPROM, from 0xF00000
  bool Any() const { return id + config + deviceId + eeprom > 0; }
};

// Where the bytes of one parse go. Program memory is image[0, programSize).
struct LoadTarget {
  uint8_t* image = nullptr;
  uint64_t programSize = 0;
  uint64_t eepromSize = 0;
  int32_t* programBytes = nullptr;  // raised to one past each stored byte
  int64_t extendedAddress = 0;      // from the last type 04 record
  OtherAreaBytes otherAreas;        // counted as they pass
};

// Handles one line: skips blank and comment lines, checks the record and
// carries it out. Stored bytes stay even when a later byte is faulty.
Verdict ProcessLine(const RecordLine& line, LoadTarget& target);
