#include "LinkProtocol.h"

#include <charconv>
#include <cstdint>
#include <cstring>

namespace {

constexpr int32_t kSignal = 0x55;

// "<prefix>k/n" in a caller's buffer: the per-byte path allocates nothing.
class CountText {
 public:
  CountText(std::string_view prefix, int32_t index, int32_t length) {
    std::memcpy(text_, prefix.data(), prefix.size());
    char* end = text_ + sizeof text_;
    char* at = std::to_chars(text_ + prefix.size(), end, index).ptr;
    *at++ = '/';
    size_ = static_cast<size_t>(std::to_chars(at, end, length).ptr - text_);
  }
  std::string_view view() const { return {text_, size_}; }

 private:
  char text_[64];  // longest prefix plus two 32-bit numbers fits with room
  size_t size_ = 0;
};

constexpr std::string_view kProgressPrefix = "Downloaded byte ";
constexpr std::string_view kErrorPrefix = "ERROR downloading byte ";

// Only a live transfer with a slot to compare against takes echoes.
bool EchoExpected(const AppState& state) {
  return state.TransferInProgress && state.FrameIndex >= 1 &&
         state.FrameIndex <= state.FrameLength &&
         static_cast<size_t>(state.FrameIndex) < state.DownloadFrame.size();
}

void EndTransfer(AppState& state) {
  state.TransferInProgress = false;
  state.EchoInHand = false;
}

void BackToWaiting(AppState& state, LinkHost& host) {
  state.LinkState = 0;
  EndTransfer(state);
  host.SetStatus(kWaitingText);
}

// Keeps the outcome on view, then waits for the next signal. A press of the
// download button that the pump let in has started a new transfer, which the
// bootloader is already taking: that transfer keeps the link.
void ShowOutcomeThenWait(AppState& state, LinkHost& host) {
  host.PumpEvents();
  host.Pause(2000);
  if (!state.TransferInProgress) BackToWaiting(state, host);
}

TransferOutcome OutcomeOf(const AppState& state, TransferOutcome::Kind kind) {
  const auto slot = static_cast<size_t>(state.FrameIndex);
  const uint8_t sent = slot < state.DownloadFrame.size() ? state.DownloadFrame[slot] : 0;
  return TransferOutcome{kind, state.FrameIndex, state.FrameLength, sent,
                         static_cast<uint8_t>(state.ReceivedByte)};
}

// The transfer is over as soon as the outcome is known, so that bytes that a
// pump lets in are not taken for echoes of the finished frame.
void FailTransfer(AppState& state, LinkHost& host, TransferOutcome::Kind kind) {
  EndTransfer(state);
  host.TransferEnded(OutcomeOf(state, kind));
  host.SetStatus(CountText(kErrorPrefix, state.FrameIndex, state.FrameLength).view());
  ShowOutcomeThenWait(state, host);
}

void CompleteTransfer(AppState& state, LinkHost& host) {
  EndTransfer(state);
  host.TransferEnded(OutcomeOf(state, TransferOutcome::Kind::Completed));
  host.Pause(1000);
  host.SetStatus(kCompletedText);
  ShowOutcomeThenWait(state, host);
}

// Handles one echo; false when the rest of the input is to be dropped.
bool HandleEcho(AppState& state, LinkHost& host) {
  host.SetStatus(CountText(kProgressPrefix, state.FrameIndex, state.FrameLength).view());
  state.EchoInHand = true;
  host.PumpEvents();
  // A nested run or a press inside the pump may have ended the transfer,
  // started a new one or emptied the frame; this byte and the rest of its
  // input then belong to no transfer.
  if (!state.EchoInHand || !EchoExpected(state)) return false;
  state.EchoInHand = false;
  if (state.ReceivedByte != state.DownloadFrame[state.FrameIndex]) {
    FailTransfer(state, host, TransferOutcome::Kind::WrongEcho);
    return false;
  }
  if (state.FrameIndex == state.FrameLength) {
    CompleteTransfer(state, host);
    return false;
  }
  state.FrameIndex += 1;
  host.WriteByte(state.DownloadFrame[state.FrameIndex]);
  // A line that fails on this write has ended the transfer already.
  return state.TransferInProgress;
}

void AnswerSignal(AppState& state, LinkHost& host) {
  if (state.ReceivedByte != kSignal) return;
  host.WriteByte(kSignal);
  state.LinkState = 1;
  host.SetStatus(kReadyText);
}

}  // namespace

std::string ErrorText(int32_t slot, int32_t length) {
  return std::string(CountText(kErrorPrefix, slot, length).view());
}

void OnPortReceive(AppState& state, LinkHost& host, std::string_view input) {
  for (char character : input) {
    state.ReceivedByte = static_cast<unsigned char>(character);
    if (state.EchoInHand) {
      // A second byte while the slot in flight is still being handled.
      FailTransfer(state, host, TransferOutcome::Kind::WrongEcho);
      return;
    }
    if (state.LinkState == 0) {
      AnswerSignal(state, host);
    } else if (EchoExpected(state) && !HandleEcho(state, host)) {
      return;
    }
  }
}

void OnLinkLost(AppState& state, LinkHost& host) {
  if (state.TransferInProgress) {
    FailTransfer(state, host, TransferOutcome::Kind::LineLost);
  } else {
    BackToWaiting(state, host);
  }
}

void OnPortReopened(AppState& state, LinkHost& host) {
  if (!state.TransferInProgress) BackToWaiting(state, host);
}
