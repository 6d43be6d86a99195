#include "DownloadFrame.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "HexCodec.h"

namespace {

// Every slot travels as one byte, so the header carries at most these.
constexpr int64_t kMaxProgramArea = 65536;
constexpr int32_t kMaxBlockSize = 255;
constexpr int64_t kMaxJumpWord = 0xFFFFF;

// Halves go to the even neighbour (the default floating-point rounding).
int64_t RoundHalfEven(double value) { return static_cast<int64_t>(std::nearbyint(value)); }

std::string Hex6(int32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "%06X", static_cast<unsigned>(value));
  return text;
}

// What the frame's shape comes to, before anything is stored.
struct FrameShape {
  int64_t programArea = 0;  // ProgramBytes rounded up to whole erase blocks
  int64_t lastBlock = 0;
  int64_t jumpWord = 0;
};

std::string BlockSizeRefusal(const char* key, int32_t value) {
  const std::string name(key);
  const std::string setting = "config.txt gives " + name + ":" + std::to_string(value);
  if (value <= 0) {
    // A missing line reads as 0, so say so.
    return "The download was refused: " + setting + " (or has no " + name +
           ": line); a block size must be 1 or more.";
  }
  if (value > kMaxBlockSize) {
    return "The download was refused: " + setting +
           "; the download header carries block sizes up to 255 bytes.";
  }
  return "";
}

std::string BootloaderRefusal(const DeviceDescription& device, int64_t jumpWord) {
  if (device.BootloaderAddress < 0) {
    return "The download was refused: the bootloader: line in config.txt is missing or malformed "
           "(it needs exactly six hexadecimal digits, e.g. bootloader:007D00).";
  }
  if (jumpWord > kMaxJumpWord) {
    return "The download was refused: config.txt gives bootloader:" + Hex6(device.BootloaderAddress) +
           "; the jump to the bootloader reaches byte addresses up to 1FFFFE only.";
  }
  return "";
}

std::string AreaRefusal(const AppState& state, const FrameShape& shape) {
  const DeviceDescription& device = state.Device;
  const std::string area = std::to_string(shape.programArea);
  if (shape.programArea > kMaxProgramArea) {
    return "The download was refused: the program area, rounded up to whole erase blocks, is " +
           area + " bytes; the download header announces at most 65536 bytes.";
  }
  if (shape.programArea > device.FlashSize) {
    return "The download was refused: the program area, rounded up to whole erase blocks of " +
           std::to_string(device.EraseBlockSize) + " bytes, is " + area +
           " bytes and reaches past config.txt flash:" + std::to_string(device.FlashSize) + ".";
  }
  if ((shape.lastBlock + 1) * device.ProgramBlockSize != shape.programArea) {
    return "The download was refused: config.txt gives programblock:" +
           std::to_string(device.ProgramBlockSize) + " and eraseblock:" +
           std::to_string(device.EraseBlockSize) +
           "; the write blocks do not cover the program area of " + area +
           " bytes exactly (programblock must divide eraseblock).";
  }
  if (shape.programArea > static_cast<int64_t>(state.FlashImage.size())) {
    return "The download was refused: the program image is smaller than the program area of " +
           area + " bytes; load the HEX file again.";
  }
  if (device.BootloaderAddress < shape.programArea) {
    // The bootloader would erase its own code and leave a board that only a
    // programmer can bring back.
    return "The download was refused: the program area, rounded up to whole erase blocks, is " +
           area + " bytes and reaches config.txt bootloader:" + Hex6(device.BootloaderAddress) +
           " (byte " + std::to_string(device.BootloaderAddress) +
           "); the bootloader would erase itself.";
  }
  return "";
}

// Works out the shape, or says why no sendable frame can be built.
std::string PlanFrame(const AppState& state, FrameShape& shape) {
  const DeviceDescription& device = state.Device;
  if (state.ProgramBytes <= 8) {
    return "The download was refused: the loaded program holds 8 bytes or fewer.";
  }
  std::string reason = BlockSizeRefusal("eraseblock", device.EraseBlockSize);
  if (reason.empty()) reason = BlockSizeRefusal("programblock", device.ProgramBlockSize);
  if (!reason.empty()) return reason;

  const int64_t erase = device.EraseBlockSize;
  shape.programArea = (state.ProgramBytes + erase - 1) / erase * erase;
  shape.lastBlock = RoundHalfEven(static_cast<double>(shape.programArea) / device.ProgramBlockSize - 1);
  shape.jumpWord = RoundHalfEven(device.BootloaderAddress / 2.0);
  reason = BootloaderRefusal(device, shape.jumpWord);
  if (reason.empty()) reason = AreaRefusal(state, shape);
  return reason;
}

void AppendSlot(AppState& state, int64_t value) {
  AppendFrameSlot(state);
  state.DownloadFrame[state.FrameLength] = static_cast<uint8_t>(value);
}

// The four instruction words that take the place of addresses 0..7: set bit 7
// of register 0xD0, GOTO the bootloader, NOP.
void StoreJumpWords(AppState& state, int64_t jumpWord) {
  std::vector<uint8_t>& frame = state.DownloadFrame;
  frame[5] = static_cast<uint8_t>(ParseHexByte("D0"));
  frame[6] = static_cast<uint8_t>(ParseHexByte("8E"));
  const int64_t gotoLow = ParseHexWord("EF00") + jumpWord % 256;
  frame[7] = static_cast<uint8_t>(gotoLow % 256);
  frame[8] = static_cast<uint8_t>(gotoLow / 256);
  const int64_t gotoHigh = ParseHexWord("F000") + jumpWord / 256;
  frame[9] = static_cast<uint8_t>(gotoHigh % 256);
  frame[10] = static_cast<uint8_t>(gotoHigh / 256);
  frame[11] = 0;
  frame[12] = 0;
}

void FillFrame(AppState& state, const FrameShape& shape) {
  const int64_t dataBytes = (shape.lastBlock + 1) * state.Device.ProgramBlockSize;
  state.ProgramBytes = static_cast<int32_t>(shape.programArea);
  EmptyDownloadFrame(state);
  state.DownloadFrame.reserve(static_cast<size_t>(dataBytes) + 13);
  AppendSlot(state, (shape.programArea - 1) % 256);
  AppendSlot(state, (shape.programArea - 1) / 256);
  AppendSlot(state, state.Device.EraseBlockSize);
  AppendSlot(state, state.Device.ProgramBlockSize);
  for (int64_t address = 0; address < dataBytes; ++address) {
    AppendSlot(state, state.FlashImage[static_cast<size_t>(address)]);
  }
  for (size_t address = 0; address < 8; ++address) AppendSlot(state, state.FlashImage[address]);
  StoreJumpWords(state, shape.jumpWord);
}

}  // namespace

void EmptyDownloadFrame(AppState& state) {
  state.FrameLength = 0;
  state.DownloadFrame.assign(1, 0);
}

void AppendFrameSlot(AppState& state) {
  // Sized from FrameLength so that slot 0 exists even on a never-built frame.
  state.FrameLength += 1;
  state.DownloadFrame.resize(static_cast<size_t>(state.FrameLength) + 1, 0);
  state.DownloadFrame[state.FrameLength] = 0;
}

std::string BuildDownloadFrame(AppState& state) {
  FrameShape shape;
  std::string reason = PlanFrame(state, shape);
  if (reason.empty()) FillFrame(state, shape);
  return reason;
}

std::string RefusalHint(int32_t slot, const AppState& state) {
  const DeviceDescription& device = state.Device;
  const int64_t address = int64_t{slot} - 5;  // slot 5 carries address 0
  const int64_t block = device.ProgramBlockSize;
  if (slot == 3 || slot == 4) {
    return "the bootloader's block sizes differ: check eraseblock: and programblock: in config.txt";
  }
  if (address < 0 || address >= state.ProgramBytes || block <= 0) {
    const bool relocated = slot == state.FrameLength && slot > 12;
    return relocated ? "the bootloader's copy of the program's first eight bytes did not take; the chip "
                       "stays in the bootloader"
                     : "";
  }
  const int64_t first = address - address % block;
  if (device.BootloaderAddress >= 0 && first >= device.BootloaderAddress) {
    return "the bootloader keeps 0x" + Hex6(static_cast<int32_t>(first)) +
           " for itself: check bootloader: in config.txt";
  }
  const std::string flash = "the flash at 0x" + Hex6(static_cast<int32_t>(first)) + "..0x" +
                            Hex6(static_cast<int32_t>(first + block - 1)) +
                            " did not take the write (worn flash, a low supply, or write protection)";
  if (address >= 8) return flash;
  // The last jump byte may also end the first write block.
  const std::string jump =
      "the jump at 0..7 does not lead to the bootloader on the chip: check bootloader: in config.txt";
  return (address + 1) % block == 0 ? jump + "; or " + flash : jump;
}

std::string RefusalNote(const TransferOutcome& outcome, const AppState& state) {
  const std::string hint = outcome.Refused() ? RefusalHint(outcome.slot, state) : "";
  return hint.empty() ? "" : "; the bootloader refused it: " + hint;
}

void StartDownload(AppState& state, LinkHost& host, Dialogs& dialogs) {
  // An emptied frame cannot carry a transfer on, whatever comes next.
  EmptyDownloadFrame(state);
  state.TransferInProgress = false;
  state.EchoInHand = false;  // a byte being handled belongs to no new transfer
  if (state.ProgramBytes <= 8 || state.LinkState == 0) return;

  FrameShape shape;
  std::string reason = PlanFrame(state, shape);
  if (reason.empty() && !host.PortIsOpen()) {
    reason = "The download was refused: the serial port is not open. Choose one with Options > Change Serial Port Number.";
  }
  if (!reason.empty()) {
    dialogs.ShowMessage(reason);
    return;
  }
  FillFrame(state, shape);
  state.FrameIndex = 1;
  state.TransferInProgress = true;
  host.WriteByte(state.DownloadFrame[1]);
}
