#include "SimReport.h"

#include <algorithm>
#include <cstdio>
#include <fstream>

#include "HexCodec.h"
#include "HexParser.h"

namespace {
int32_t RoundUp(int32_t value, int32_t multiple) {
  if (multiple <= 0 || value % multiple == 0) return value;
  return value + multiple - value % multiple;
}

std::string Mismatch(int32_t address, uint8_t expected, uint8_t programmed) {
  return "MISMATCH at " + HexNumber(address, 4) + ": expected " + HexNumber(expected, 2) +
         ", programmed " + HexNumber(programmed, 2);
}

std::string FirstMemoryDifference(const Expectation& expectation, const FlashModel& memory,
                                  int32_t area) {
  const std::array<uint8_t, 8> jump = JumpWords(expectation.bootloaderAddress);
  for (int32_t address = 0; address < area; ++address) {
    const uint8_t expected = address < 8 ? jump[address] : expectation.image[address];
    if (memory.At(address) != expected) return Mismatch(address, expected, memory.At(address));
  }
  return "";
}

std::string FirstRelocatedDifference(const Expectation& expectation,
                                     const TransferRecord& transfer) {
  for (size_t k = 0; k < transfer.relocated.size(); ++k) {
    if (transfer.relocated[k] != expectation.image[k]) {
      return "MISMATCH in relocated byte " + std::to_string(k) + ": expected " +
             HexNumber(expectation.image[k], 2) + ", received " +
             HexNumber(transfer.relocated[k], 2);
    }
  }
  return "";
}

std::string DataRecord(int64_t address, const uint8_t* bytes, size_t count) {
  std::string body = HexPair(static_cast<int32_t>(count)) +
                     HexPair(static_cast<int32_t>(address >> 8)) +
                     HexPair(static_cast<int32_t>(address)) + "00";
  for (size_t i = 0; i < count; ++i) body += HexPair(bytes[i]);
  return ":" + body + RecordChecksum(body) + "\n";
}

std::string UpperAddressRecord(int64_t upper) {
  const std::string body =
      "02000004" + HexPair(static_cast<int32_t>(upper >> 8)) + HexPair(static_cast<int32_t>(upper));
  return ":" + body + RecordChecksum(body) + "\n";
}

bool WriteText(const std::string& path, const std::string& text, std::string& error) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  out.close();
  if (out) return true;
  error = "cannot write " + path;
  return false;
}
}  // namespace

bool LoadExpectation(const std::string& path, const DeviceDescription& device,
                     Expectation& expectation, std::string& error) {
  AppState state;
  state.Device = device;
  state.FlashImage.assign(device.FlashSize, 0xFF);
  MessageCollector messages;
  if (!ParseHexFile(state, path, messages)) {
    error = path + ":";
    for (const std::string& text : messages.messages) error += " " + text;
    return false;
  }
  if (state.ProgramBytes <= 8) {
    error = path + " holds 8 program bytes or fewer, which no host downloads";
    return false;
  }
  expectation.image = std::move(state.FlashImage);
  expectation.programBytes = state.ProgramBytes;
  expectation.eraseBlock = device.EraseBlockSize;
  expectation.bootloaderAddress = device.BootloaderAddress;
  return true;
}

TransferCheck VerifyTransfer(const Expectation& expectation, const FlashModel& memory,
                       const TransferRecord& transfer) {
  if (!transfer.faults.empty()) return {false, "FAULT: " + transfer.faults.front()};
  const int32_t eraseBlock = expectation.eraseBlock > 0 ? expectation.eraseBlock
                                                        : transfer.eraseBlock;
  const int32_t area = RoundUp(expectation.programBytes, eraseBlock);
  if (transfer.programBytes != area) {
    return {false, "MISMATCH in program area: expected " + std::to_string(area) +
                       " bytes, programmed " + std::to_string(transfer.programBytes)};
  }
  if (area > memory.Size() || area > static_cast<int32_t>(expectation.image.size())) {
    return {false, "MISMATCH in program area: " + std::to_string(area) +
                       " bytes do not fit program memory"};
  }
  std::string difference = FirstMemoryDifference(expectation, memory, area);
  if (difference.empty()) difference = FirstRelocatedDifference(expectation, transfer);
  if (!difference.empty()) return {false, difference};
  const int32_t target = 2 * JumpWordAddress(expectation.bootloaderAddress);
  return {true, "verified: " + std::to_string(area) + " bytes programmed, jump to " +
                    HexNumber(target, 6) + ", first eight bytes relocated"};
}

std::string CompletionLine(int bytes, double seconds) {
  char line[128];
  std::snprintf(line, sizeof line, "transfer complete: %d bytes in %.3f s (%.0f bytes/s)", bytes,
                seconds, seconds > 0 ? bytes / seconds : 0.0);
  return line;
}

std::string IncompleteLine(const TransferRecord& transfer) {
  return "transfer incomplete: the host closed the line after " +
         std::to_string(transfer.received) + " of " + std::to_string(transfer.FrameLength()) +
         " frame bytes";
}

bool ReportTransfer(const Expectation* expectation, const FlashModel& memory,
                    const TransferRecord& transfer, const std::string& dumpPath,
                    std::vector<std::string>& lines) {
  bool ok = true;
  if (expectation) {
    const TransferCheck check = VerifyTransfer(*expectation, memory, transfer);
    lines.push_back(check.text);
    ok = check.ok;
  } else {
    for (const std::string& fault : transfer.faults) lines.push_back("FAULT: " + fault);
    ok = transfer.faults.empty();
  }
  std::string error;
  if (!dumpPath.empty() && !WriteDump(dumpPath, memory, transfer.relocated, error)) {
    lines.push_back("dump failed: " + error);
    ok = false;
  }
  return ok;
}

std::string IntelHexText(const std::vector<HexSegment>& segments) {
  std::string text;
  int64_t upper = 0;
  for (const HexSegment& segment : segments) {
    size_t offset = 0;
    while (offset < segment.bytes.size()) {
      const int64_t address = segment.address + static_cast<int64_t>(offset);
      if (address >> 16 != upper) {
        upper = address >> 16;
        text += UpperAddressRecord(upper);
      }
      // A record stays inside its 64 KiB page.
      const size_t room = static_cast<size_t>(0x10000 - (address & 0xFFFF));
      const size_t count = std::min({segment.bytes.size() - offset, size_t{16}, room});
      text += DataRecord(address & 0xFFFF, segment.bytes.data() + offset, count);
      offset += count;
    }
  }
  return text + ":00000001FF\n";
}

std::vector<HexSegment> WrittenSegments(const FlashModel& memory) {
  std::vector<HexSegment> segments;
  bool inRun = false;
  for (int32_t address = 0; address < memory.Size(); ++address) {
    if (!memory.Written(address)) {
      inRun = false;
      continue;
    }
    if (!inRun) segments.push_back({address, {}});
    inRun = true;
    segments.back().bytes.push_back(memory.At(address));
  }
  return segments;
}

bool WriteDump(const std::string& path, const FlashModel& memory,
               const std::array<uint8_t, 8>& relocated, std::string& error) {
  const HexSegment relocatedSegment{0, {relocated.begin(), relocated.end()}};
  return WriteText(path, IntelHexText(WrittenSegments(memory)), error) &&
         WriteText(path + ".relocated", IntelHexText({relocatedSegment}), error);
}
