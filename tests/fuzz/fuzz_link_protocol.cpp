// Drives the download command and the receive handler with a script of
// arrivals, presses and lost lines, also from inside the handler's pumps,
// and checks what the link promises whatever the order:
// - nothing is sent outside a transfer but the answer 0x55 to a 0x55;
// - slots go out in order, each after the echo of the one before;
// - "Download completed!" only when the bytes that arrived since slot 1 went
//   out are the frame's echoes, one byte each, none of them older than its
//   slot (a text read at once is handled in order, so its bytes count as
//   arriving one after the other).
// Frame reads out of bounds abort through the library's checked vectors.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "AppState.h"
#include "Dialogs.h"
#include "DownloadFrame.h"
#include "LinkHost.h"
#include "LinkProtocol.h"

namespace {

void Check(bool holds) {
  if (!holds) std::abort();
}

struct Arrival {
  uint8_t value;
  uint64_t text;  // when its text was read
};

class Script {
 public:
  Script(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool Done() const { return at_ >= size_; }
  uint8_t Next() { return Done() ? 0 : data_[at_++]; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

class FuzzHost : public LinkHost {
 public:
  FuzzHost(AppState& state, Script& script) : state_(state), script_(script) {}

  void Run(uint8_t op);
  // Echoes whatever was sent last until the transfer ends.
  void Finish();

  bool PortIsOpen() const override { return portOpen_; }
  void WriteByte(uint8_t value) override;
  void SetStatus(std::string_view text) override;
  void PumpEvents() override;
  void Pause(int) override {}
  void TransferEnded(const TransferOutcome& outcome) override;

 private:
  void Deliver(const std::string& text);
  void Press();
  void CheckCompletion() const;
  std::string Count(int32_t index) const {
    return std::to_string(index) + "/" + std::to_string(state_.FrameLength);
  }

  AppState& state_;
  Script& script_;
  MessageCollector dialogs_;
  bool portOpen_ = true;
  int depth_ = 0;
  bool pressing_ = false;
  uint64_t clock_ = 0;
  uint8_t lastWritten_ = 0;
  int32_t lastSlot_ = 0;                // the slot of this transfer sent last
  std::vector<uint64_t> sentAt_;        // per slot of this transfer
  std::vector<Arrival> arrivals_;       // since slot 1 of this transfer went out
  uint64_t signalsDelivered_ = 0, answers_ = 0;
};

void FuzzHost::WriteByte(uint8_t value) {
  ++clock_;
  lastWritten_ = value;
  if (!state_.TransferInProgress) {
    Check(value == 0x55 && state_.LinkState == 0 && state_.ReceivedByte == 0x55 && depth_ > 0);
    Check(++answers_ <= signalsDelivered_);
    return;
  }
  const int32_t k = state_.FrameIndex;
  Check(state_.LinkState == 1 && k >= 1 && k <= state_.FrameLength);
  Check(value == state_.DownloadFrame[static_cast<size_t>(k)]);
  if (k == 1) {
    Check(pressing_);
    arrivals_.clear();
    sentAt_.assign(static_cast<size_t>(state_.FrameLength) + 1, 0);
  } else {
    Check(!pressing_ && k == lastSlot_ + 1);
  }
  lastSlot_ = k;
  sentAt_[static_cast<size_t>(k)] = clock_;
}

void FuzzHost::SetStatus(std::string_view text) {
  if (text.starts_with("Downloaded byte ") || text.starts_with("ERROR downloading byte ")) {
    Check(text.ends_with(" " + Count(lastSlot_)) && state_.FrameIndex == lastSlot_);
  } else if (text == kCompletedText) {
    CheckCompletion();
  }
}

// The event names the slot in flight, and a completion holds as the text does.
void FuzzHost::TransferEnded(const TransferOutcome& outcome) {
  Check(outcome.slot == lastSlot_ && outcome.length == state_.FrameLength);
  if (outcome.kind == TransferOutcome::Kind::Completed) CheckCompletion();
}

void FuzzHost::CheckCompletion() const {
  const auto n = static_cast<size_t>(state_.FrameLength);
  Check(lastSlot_ == state_.FrameLength && arrivals_.size() >= n);
  for (size_t i = 0; i < arrivals_.size(); ++i) {
    const Arrival& byte = arrivals_[i];
    if (i >= n) {
      Check(byte.text == arrivals_[n - 1].text);  // dropped with the last echo
      continue;
    }
    Check(byte.value == state_.DownloadFrame[i + 1]);
    Check(byte.text > sentAt_[i + 1] || (i > 0 && byte.text == arrivals_[i - 1].text));
  }
}

void FuzzHost::Deliver(const std::string& text) {
  const uint64_t when = ++clock_;
  for (char c : text) {
    arrivals_.push_back({static_cast<uint8_t>(c), when});
    if (static_cast<uint8_t>(c) == 0x55) ++signalsDelivered_;
  }
  ++depth_;
  OnPortReceive(state_, *this, text);
  --depth_;
}

void FuzzHost::Press() {
  ++clock_;
  const bool outer = pressing_;
  pressing_ = true;
  StartDownload(state_, *this, dialogs_);
  pressing_ = outer;
}

void FuzzHost::Run(uint8_t op) {
  const std::string echo(1, static_cast<char>(lastWritten_));
  switch (op % 8) {
    case 0:
      Deliver(echo);
      break;
    case 1:
      Deliver(echo + static_cast<char>(script_.Next()));
      break;
    case 2:
      Deliver(std::string(1, static_cast<char>(script_.Next())));
      break;
    case 3:
      Deliver("U");
      break;
    case 4:
      Press();
      break;
    case 5:
      portOpen_ = false;
      OnLinkLost(state_, *this);
      break;
    case 6: {
      // Bytes that happen to equal the slots still to come, read at once.
      std::string text;
      const size_t count = 1 + script_.Next() % 16;
      for (size_t k = static_cast<size_t>(state_.FrameIndex); k < state_.DownloadFrame.size() && text.size() < count; ++k) {
        text += static_cast<char>(state_.DownloadFrame[k]);
      }
      Deliver(text);
      break;
    }
    default:
      portOpen_ = true;
      OnPortReopened(state_, *this);
  }
}

// A pump lets one queued event run, nested, now and then.
void FuzzHost::PumpEvents() {
  const uint8_t choice = script_.Next();
  if (depth_ < 4 && choice >= 0x80) Run(choice);
}

void FuzzHost::Finish() {
  for (int steps = 0; state_.TransferInProgress && steps < 2000; ++steps) {
    Deliver(std::string(1, static_cast<char>(lastWritten_)));
  }
  Check(!state_.TransferInProgress);
}

// A small device, so that whole transfers fit in a short input.
AppState DeviceFrom(uint8_t shape, uint8_t size, uint8_t fill) {
  AppState state;
  const int32_t erase = 8 << (shape % 3);
  state.Device = {"FUZZ", 256, 0, erase, erase >> ((shape >> 2) % 4), (shape & 0x40) ? 0x40 : 0x7D00};
  state.FlashImage.assign(256, 0xFF);
  for (size_t i = 0; i < state.FlashImage.size(); i += 1 + fill % 7) state.FlashImage[i] = static_cast<uint8_t>(fill + i);
  state.ProgramBytes = size;
  return state;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  AppState state = DeviceFrom(data[0], data[1], data[2]);
  Script script(data + 3, size - 3);
  FuzzHost host(state, script);
  while (!script.Done()) host.Run(script.Next());
  host.Finish();
  return 0;
}
