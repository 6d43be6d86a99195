#include "HexRecord.h"

#include <algorithm>
#include <array>

#include "HexCodec.h"

namespace {
// Shortest record: start code, the three fields and the checksum.
constexpr uint64_t kMinRecordLength = 11;
constexpr size_t kDataStart = 9;

// A run of addresses from here to end (exclusive) in one area; end 0 means
// the address lies in no area. Bytes outside program memory are counted.
struct Area {
  uint64_t end = 0;
  uint64_t OtherAreaBytes::*count = nullptr;  // null: program memory, stored
};

struct FixedArea {
  uint64_t first, end;
  uint64_t OtherAreaBytes::*count;
};
// ID locations, device ID and configuration, in the order they are tried.
constexpr std::array<FixedArea, 3> kFixedAreas = {{
    {0x200000, 0x200008, &OtherAreaBytes::id},
    {0x3FFFFE, 0x400000, &OtherAreaBytes::deviceId},
    {0x300000, 0x300010, &OtherAreaBytes::config},
}};
constexpr uint64_t kEepromStart = 0xF00000;

Area AreaOf(uint64_t address, const LoadTarget& target) {
  if (address < target.programSize) return {target.programSize, nullptr};
  for (const FixedArea& area : kFixedAreas) {
    if (address >= area.first && address < area.end) return {area.end, area.count};
  }
  const uint64_t eepromEnd = kEepromStart + target.eepromSize;
  if (address >= kEepromStart && address < eepromEnd) return {eepromEnd, &OtherAreaBytes::eeprom};
  return {};
}

// Stores pairs at image[address...]; stops at the first bad pair.
Verdict StoreRun(std::string_view pairs, uint64_t address, LoadTarget& target) {
  uint8_t* out = target.image + address;
  const size_t count = pairs.size() / 2;
  size_t stored = 0;
  for (; stored < count; ++stored) {
    const int32_t value = HexPairValue(pairs[2 * stored], pairs[2 * stored + 1]);
    if (value < 0) break;
    out[stored] = static_cast<uint8_t>(value);
  }
  const auto end = static_cast<int32_t>(address + stored);
  if (stored > 0 && *target.programBytes < end) *target.programBytes = end;
  return stored == count ? Verdict::Next : Verdict::DataByte;
}

Verdict CheckRun(std::string_view pairs) {
  for (size_t i = 0; i < pairs.size(); i += 2) {
    if (HexPairValue(pairs[i], pairs[i + 1]) < 0) return Verdict::DataByte;
  }
  return Verdict::Next;
}

Verdict PlaceBytes(std::string_view data, uint64_t base, LoadTarget& target) {
  const size_t count = data.size() / 2;
  for (size_t k = 0; k < count;) {
    const uint64_t address = base + k;
    const Area area = AreaOf(address, target);
    if (area.end == 0) return Verdict::OutOfRange;
    const size_t run = static_cast<size_t>(std::min<uint64_t>(count - k, area.end - address));
    const std::string_view pairs = data.substr(2 * k, 2 * run);
    const Verdict verdict = area.count ? CheckRun(pairs) : StoreRun(pairs, address, target);
    if (verdict != Verdict::Next) return verdict;
    if (area.count) target.otherAreas.*area.count += run;
    k += run;
  }
  return Verdict::Next;
}

Verdict DataRecord(const RecordLine& line, LoadTarget& target) {
  const uint64_t dataLength = line.length - kMinRecordLength;
  if (dataLength == 0) return Verdict::Next;
  const int32_t count = ParseHexByte(line.text.substr(1, 2));
  if (count < 0) return Verdict::NumberOfBytes;
  const int32_t address = ParseHexWord(line.text.substr(3, 4));
  if (address < 0) return Verdict::Address;
  if (dataLength != 2 * static_cast<uint64_t>(count)) return Verdict::ByteCount;
  const uint64_t base = static_cast<uint64_t>(target.extendedAddress) * 65536 + address;
  return PlaceBytes(line.text.substr(kDataStart, dataLength), base, target);
}

Verdict ExtendedAddressRecord(const RecordLine& line, LoadTarget& target) {
  if (line.length != kMinRecordLength + 4) return Verdict::Type04;
  const int32_t value = ParseHexWord(line.text.substr(kDataStart, 4));
  if (value < 0) return Verdict::Type04;
  target.extendedAddress = value;
  return Verdict::Next;
}
}  // namespace

RecordLine WholeLine(std::string_view line) {
  while (!line.empty() && line.back() == ' ') line.remove_suffix(1);
  RecordLine record{line, line.size()};
  if (line.size() >= kMinRecordLength) {
    record.bodySum = RecordPairSum(line.substr(1, line.size() - 3));
    record.check[0] = line[line.size() - 2];
    record.check[1] = line[line.size() - 1];
  }
  return record;
}

std::string_view FaultText(Verdict fault) {
  switch (fault) {
    case Verdict::StartCode: return ": The record does not begin with ':' simbol.";
    case Verdict::TooShort: return ": The record is too short.";
    case Verdict::Checksum: return ": Invalid 'checksum' field in the record.";
    case Verdict::RecordType: return ": Invalid 'record type' field in the record.";
    case Verdict::Type04: return ": Invalid '04 type' record.";
    case Verdict::NumberOfBytes: return ": Invalid 'number of bytes' field in the record.";
    case Verdict::Address: return ": Invalid 'address' field in the record.";
    case Verdict::ByteCount: return ": The record does not contain the specified number of bytes.";
    case Verdict::DataByte: return ": Invalid data byte in the record.";
    case Verdict::OutOfRange: return ": Address out of range.";
    case Verdict::Next:
    case Verdict::EndOfFile: break;
  }
  return {};
}

Verdict ProcessLine(const RecordLine& line, LoadTarget& target) {
  if (line.length == 0 || line.text[0] == ';') return Verdict::Next;
  if (line.text[0] != ':') return Verdict::StartCode;
  if (line.length < kMinRecordLength) return Verdict::TooShort;
  if (!IsHexPairOf(line.check[0], line.check[1], ChecksumOfSum(line.bodySum))) {
    return Verdict::Checksum;
  }
  switch (ParseHexByte(line.text.substr(7, 2))) {
    case 0x00: return DataRecord(line, target);
    case 0x01: return Verdict::EndOfFile;
    case 0x04: return ExtendedAddressRecord(line, target);
    case 0x05: return Verdict::Next;
    default: return Verdict::RecordType;
  }
}
