#pragma once
// The device side of the link: a PIC18 bootloader that has signalled with
// 0x55, takes the answer, then the frame (4-byte header, P bytes of block
// data, the 8 relocated bytes) and echoes every byte. Program memory is
// modelled as flash: erased to 0xFF, written a write block at a time, each
// erase block erased before its first write of a transfer.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

// Faults to inject, counting frame bytes from 1 (the header's first byte is
// 1); 0 is off. Each fires once in a run, on the first transfer that gets
// there, so that a host's retry can succeed.
struct FaultPlan {
  int corruptEcho = 0;  // echo this byte inverted
  int stopEcho = 0;     // echo nothing from this byte to the end of the transfer
  int restartAt = 0;    // reboot on this byte: no echo, back to signalling
  int closeAt = 0;      // close the line on this byte
};

class FlashModel {
 public:
  explicit FlashModel(int32_t size);
  void BeginTransfer(int eraseBlock);
  // Erases where needed and writes; "" or why nothing was written.
  std::string WriteBlock(int64_t address, const std::vector<uint8_t>& bytes);
  int32_t Size() const { return static_cast<int32_t>(bytes_.size()); }
  uint8_t At(int32_t address) const { return bytes_[address]; }
  bool Written(int32_t address) const { return written_[address]; }

 private:
  void EraseFor(int64_t address, size_t length);

  std::vector<uint8_t> bytes_;
  std::vector<bool> written_;
  std::vector<bool> erasedThisTransfer_;  // one entry per erase block
  int eraseBlock_ = 0;
};

// What one transfer delivered, read from its header and trailer.
struct TransferRecord {
  int32_t programBytes = 0;  // P, from the header
  int eraseBlock = 0;
  int writeBlock = 0;
  int received = 0;  // frame bytes so far
  std::array<uint8_t, 8> relocated{};
  std::vector<std::string> faults;  // frames a real device could not program

  int FrameLength() const { return received >= 2 ? programBytes + 12 : 0; }
};

enum class Reply { Nothing, Echo, Restart, Close };

struct Reaction {
  Reply reply = Reply::Nothing;
  uint8_t value = 0;       // the echo, for Reply::Echo
  bool completed = false;  // this was the frame's last byte
};

class SimDevice {
 public:
  SimDevice(int32_t flashSize, FaultPlan faults);

  // True while the device waits for the answer to its signal.
  bool Signalling() const { return signalling_; }
  bool TransferStarted() const { return !signalling_ && transfer_.received > 0; }
  Reaction Receive(uint8_t byte);
  // A reset of the chip: the transfer is dropped, flash keeps what was written.
  void Reset();

  const FlashModel& Memory() const { return flash_; }
  const TransferRecord& Transfer() const { return transfer_; }

 private:
  Reaction ReceiveFrameByte(uint8_t byte);
  void TakeHeaderByte(int k, uint8_t byte);
  void TakeDataByte(int32_t address, uint8_t byte);
  void CommitPending();

  FlashModel flash_;
  FaultPlan faults_;
  bool signalling_ = true;
  bool echoStopped_ = false;
  bool writeFailed_ = false;
  TransferRecord transfer_;
  std::vector<uint8_t> pending_;  // the write block being filled
  int32_t pendingAddress_ = 0;
};

// The word address that the jump leads to: half the byte address.
int32_t JumpWordAddress(int32_t bootloaderAddress);

// The four instruction words that a frame carries at addresses 0..7: BSF,
// the two-word GOTO to the bootloader's word address, NOP.
std::array<uint8_t, 8> JumpWords(int32_t bootloaderAddress);

// "0x" and at least the given number of upper-case hex digits.
std::string HexNumber(int64_t value, int digits);
