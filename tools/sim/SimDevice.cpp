#include "SimDevice.h"

#include <algorithm>
#include <cstdio>

FlashModel::FlashModel(int32_t size) : bytes_(size, 0xFF), written_(size, false) {}

void FlashModel::BeginTransfer(int eraseBlock) {
  eraseBlock_ = eraseBlock;
  erasedThisTransfer_.assign(eraseBlock > 0 ? bytes_.size() / eraseBlock + 1 : 0, false);
}

void FlashModel::EraseFor(int64_t address, size_t length) {
  if (eraseBlock_ <= 0 || length == 0) return;
  const int64_t last = (address + static_cast<int64_t>(length) - 1) / eraseBlock_;
  for (int64_t block = address / eraseBlock_; block <= last; ++block) {
    if (erasedThisTransfer_[block]) continue;
    erasedThisTransfer_[block] = true;
    const int64_t start = block * eraseBlock_;
    const int64_t end = std::min<int64_t>(start + eraseBlock_, Size());
    std::fill(bytes_.begin() + start, bytes_.begin() + end, 0xFF);
    std::fill(written_.begin() + start, written_.begin() + end, false);
  }
}

std::string FlashModel::WriteBlock(int64_t address, const std::vector<uint8_t>& bytes) {
  if (address < 0 || address + static_cast<int64_t>(bytes.size()) > Size()) {
    return "write block at " + HexNumber(address, 6) + " runs past the end of program memory (" +
           std::to_string(Size()) + " bytes)";
  }
  EraseFor(address, bytes.size());
  std::copy(bytes.begin(), bytes.end(), bytes_.begin() + address);
  std::fill(written_.begin() + address, written_.begin() + address + bytes.size(), true);
  return "";
}

SimDevice::SimDevice(int32_t flashSize, FaultPlan faults) : flash_(flashSize), faults_(faults) {}

void SimDevice::Reset() {
  signalling_ = true;
  echoStopped_ = false;
  pending_.clear();
}

Reaction SimDevice::Receive(uint8_t byte) {
  if (!signalling_) return ReceiveFrameByte(byte);
  // Anything but the answer is line noise to a device waiting for it.
  if (byte == 0x55) {
    signalling_ = false;
    transfer_ = TransferRecord{};
  }
  return {};
}

Reaction SimDevice::ReceiveFrameByte(uint8_t byte) {
  const int k = ++transfer_.received;
  if (faults_.closeAt == k) {
    faults_.closeAt = 0;
    return {Reply::Close};
  }
  if (faults_.restartAt == k) {
    faults_.restartAt = 0;
    Reset();
    return {Reply::Restart};
  }
  if (k <= 4) {
    TakeHeaderByte(k, byte);
  } else if (k <= 4 + transfer_.programBytes) {
    TakeDataByte(k - 5, byte);
  } else {
    transfer_.relocated[k - 5 - transfer_.programBytes] = byte;
  }
  Reaction reaction{Reply::Echo, byte};
  if (faults_.stopEcho == k) {
    faults_.stopEcho = 0;
    echoStopped_ = true;
  }
  if (echoStopped_) reaction.reply = Reply::Nothing;
  if (faults_.corruptEcho == k) {
    faults_.corruptEcho = 0;
    reaction.value = byte ^ 0xFF;
  }
  if (k == transfer_.FrameLength()) {
    reaction.completed = true;
    Reset();
  }
  return reaction;
}

void SimDevice::TakeHeaderByte(int k, uint8_t byte) {
  switch (k) {
    case 1:
      transfer_.programBytes = byte + 1;
      break;
    case 2:
      transfer_.programBytes += byte * 256;
      break;
    case 3:
      transfer_.eraseBlock = byte;
      break;
    default:
      transfer_.writeBlock = byte;
      if (transfer_.eraseBlock == 0) transfer_.faults.push_back("erase block size 0 in the header");
      if (byte == 0) transfer_.faults.push_back("write block size 0 in the header");
      flash_.BeginTransfer(transfer_.eraseBlock);
      pending_.clear();
      writeFailed_ = false;
  }
}

void SimDevice::TakeDataByte(int32_t address, uint8_t byte) {
  if (transfer_.writeBlock == 0) return;
  if (pending_.empty()) pendingAddress_ = address;
  pending_.push_back(byte);
  const bool blockFull = static_cast<int>(pending_.size()) == transfer_.writeBlock;
  if (blockFull || address == transfer_.programBytes - 1) CommitPending();
}

void SimDevice::CommitPending() {
  std::string fault = flash_.WriteBlock(pendingAddress_, pending_);
  // One report per transfer is enough: later blocks fail the same way.
  if (!fault.empty() && !writeFailed_) transfer_.faults.push_back(fault);
  writeFailed_ = writeFailed_ || !fault.empty();
  pending_.clear();
}

int32_t JumpWordAddress(int32_t bootloaderAddress) {
  // Halves round to the even neighbour, as the host computes it.
  int32_t w = bootloaderAddress / 2;
  if (bootloaderAddress % 2 != 0 && w % 2 != 0) ++w;
  return w;
}

std::array<uint8_t, 8> JumpWords(int32_t bootloaderAddress) {
  const int32_t w = JumpWordAddress(bootloaderAddress);
  const int32_t goto1 = 0xEF00 + w % 256;
  const int32_t goto2 = 0xF000 + w / 256;
  return {0xD0, 0x8E, static_cast<uint8_t>(goto1 & 0xFF), static_cast<uint8_t>(goto1 >> 8),
          static_cast<uint8_t>(goto2 & 0xFF), static_cast<uint8_t>((goto2 >> 8) & 0xFF), 0x00,
          0x00};
}

std::string HexNumber(int64_t value, int digits) {
  char text[32];
  std::snprintf(text, sizeof text, "0x%0*llX", digits, static_cast<unsigned long long>(value));
  return text;
}
