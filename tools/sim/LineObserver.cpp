#include "LineObserver.h"

LineObserver::Event LineObserver::FromHost(uint8_t value) {
  if (state_ == State::Signalled) {
    // The host's first byte after a signal is its answer.
    if (value != 0x55) return Event::None;
    state_ = State::Frame;
    sent_.clear();
    transfer_ = TransferRecord{};
    return Event::Started;
  }
  if (state_ != State::Frame) return Event::None;
  sent_.push_back(value);
  if (sent_.size() == 2) transfer_.programBytes = sent_[0] + 256 * sent_[1] + 1;
  if (sent_.size() == 3) transfer_.eraseBlock = value;
  if (sent_.size() == 4) transfer_.writeBlock = value;
  return Event::None;
}

LineObserver::Event LineObserver::FromChip(uint8_t value) {
  const size_t k = static_cast<size_t>(transfer_.received);
  if (state_ == State::Frame && k < sent_.size()) {
    if (value != sent_[k]) {
      failure_ = "wrong echo of frame byte " + std::to_string(k + 1) + ": sent " +
                 HexNumber(sent_[k], 2) + ", echoed " + HexNumber(value, 2);
      if (value == (sent_[k] ^ 0xFF)) failure_ += " (inverted: the bootloader refused it)";
      state_ = State::Quiet;
      return Event::Failed;
    }
    ++transfer_.received;
    if (transfer_.received != transfer_.FrameLength()) return Event::None;
    state_ = State::Done;
    output_.clear();
    return Event::Completed;
  }
  // After a transfer the program runs until the next reset: all it sends is
  // its own, a 'U' too.
  if (state_ == State::Done) {
    output_.push_back(value);
  } else if (value == 0x55 && state_ != State::Frame) {
    state_ = State::Signalled;  // a bootloader signals whenever it starts over
  }
  return Event::None;
}

void LineObserver::Reset() {
  state_ = State::Quiet;
  sent_.clear();
}
