#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/TestSupport.h"
#include "common/WorkedExample.h"
#include "DownloadFrame.h"
#include "LinkProtocol.h"

namespace {

using Log = std::vector<std::string>;

std::string Progress(int k) { return "status Downloaded byte " + std::to_string(k) + "/332"; }
std::string Error(int k) { return "status ERROR downloading byte " + std::to_string(k) + "/332"; }
std::string Write(uint8_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "write %02X", value);
  return text;
}
const std::string kWaiting = "status " + std::string(kWaitingText);
const std::string kReady = "status " + std::string(kReadyText);

// The worked example with slot 1 sent; the log starts empty.
struct Transfer : ::testing::Test {
  AppState state = ExampleState();
  RecordingLinkHost host;
  RecordingDialogs dialogs;

  void SetUp() override {
    StartDownload(state, host, dialogs);
    ASSERT_EQ(state.FrameLength, 332);
    host.log.clear();
    host.written.clear();
  }
  std::string Echo(int slot) const { return std::string(1, static_cast<char>(state.DownloadFrame[slot])); }
  std::string Echoes(int first, int last) const {
    std::string text;
    for (int slot = first; slot <= last; ++slot) text += Echo(slot);
    return text;
  }
  void Receive(const std::string& text) { OnPortReceive(state, host, text); }
  // Echoes the slots before this one; the log starts empty again.
  void Reach(int slot) {
    Receive(Echoes(1, slot - 1));
    host.log.clear();
    host.written.clear();
  }
  Log Tail(size_t count) const { return Log(host.log.end() - static_cast<long>(count), host.log.end()); }
};

TEST(LinkSignal, AnswersTheSignalOnlyInLinkState0) {
  struct Row {
    std::string input;
    int32_t linkState;
    Log log;
  };
  const Row rows[] = {
      {"", 0, {}},
      {"x", 0, {}},
      {"xyU", 1, {"write 55", kReady}},
      {"UU", 1, {"write 55", kReady}},  // the second meets no transfer
      {std::string("\0U\xAA", 3), 1, {"write 55", kReady}},
  };
  for (const Row& row : rows) {
    AppState state;
    RecordingLinkHost host;
    OnPortReceive(state, host, row.input);
    SCOPED_TRACE(row.input);
    EXPECT_EQ(host.log, row.log);
    EXPECT_EQ(state.LinkState, row.linkState);
    EXPECT_FALSE(state.TransferInProgress);
  }
}

TEST_F(Transfer, EveryEchoShowsProgressPumpsThenSendsTheNextSlot) {
  for (int slot = 1; slot < 332; ++slot) Receive(Echo(slot));

  ASSERT_EQ(host.log.size(), 331u * 3);
  for (int slot = 1; slot < 332; ++slot) {
    const size_t at = static_cast<size_t>(slot - 1) * 3;
    EXPECT_EQ(Log(host.log.begin() + at, host.log.begin() + at + 3),
              Log({Progress(slot), "pump", Write(state.DownloadFrame[slot + 1])}));
  }
  EXPECT_EQ(host.written, std::vector<uint8_t>(state.DownloadFrame.begin() + 2, state.DownloadFrame.end()));
  EXPECT_EQ(state.FrameIndex, 332);
  EXPECT_TRUE(state.TransferInProgress);
}

TEST_F(Transfer, LastEchoCompletesAndDropsWhatFollowsEvenASignal) {
  Receive(Echoes(1, 332) + "U\x3F");

  EXPECT_EQ(Tail(8), Log({Write(state.DownloadFrame[332]), Progress(332), "pump", "pause 1000",
                          "status Download completed!", "pump", "pause 2000", kWaiting}));
  EXPECT_EQ(host.written.size(), 331u);
  EXPECT_EQ(state.FrameIndex, 332);
  EXPECT_EQ(state.LinkState, 0);
  EXPECT_FALSE(state.TransferInProgress);
  // The frame stays for inspection; only a new press replaces it.
  EXPECT_EQ(state.DownloadFrame, ExampleSlots());
}

TEST_F(Transfer, WrongEchoOfSlot5StopsTheTransfer) {
  Reach(5);
  Receive("\x11" + Echo(5));

  EXPECT_EQ(host.log, Log({Progress(5), "pump", Error(5), "pump", "pause 2000", kWaiting}));
  EXPECT_TRUE(host.written.empty());
  EXPECT_EQ(state.FrameIndex, 5);
  EXPECT_EQ(state.LinkState, 0);
  EXPECT_FALSE(state.TransferInProgress);

  // A new signal is answered; the old frame is not resumed.
  host.log.clear();
  Receive(Echo(5) + "U" + Echo(5));
  EXPECT_EQ(host.log, Log({"write 55", kReady}));
}

TEST_F(Transfer, RestartingBootloaderEndsTheTransferAndIsAnsweredNextTime) {
  Reach(10);  // slot 10 (0xF0) is in flight
  Receive("UU");  // the second is dropped with the rest of the text
  EXPECT_EQ(host.log, Log({Progress(10), "pump", Error(10), "pump", "pause 2000", kWaiting}));

  host.log.clear();
  Receive("U");
  EXPECT_EQ(host.log, Log({"write 55", kReady}));
  EXPECT_EQ(state.LinkState, 1);
}

TEST(LinkEcho, FrameByte0x55IsAnOrdinaryEcho) {
  AppState state = ExampleState();
  state.FlashImage[8] = 0x55;  // slot 13
  RecordingLinkHost host;
  RecordingDialogs dialogs;
  StartDownload(state, host, dialogs);
  const std::string echoes(state.DownloadFrame.begin() + 1, state.DownloadFrame.begin() + 14);
  host.log.clear();
  OnPortReceive(state, host, echoes);

  EXPECT_EQ(state.FrameIndex, 14);
  EXPECT_EQ(state.LinkState, 1);
  EXPECT_EQ(host.log[host.log.size() - 3], "status Downloaded byte 13/332");
  EXPECT_EQ(host.log.back(), Write(state.DownloadFrame[14]));
}

TEST_F(Transfer, BytesOutsideATransferChangeNothing) {
  // After completion and a fresh signal, a byte equal to the old frame's
  // last slot must not complete anything.
  Receive(Echoes(1, 332));
  Receive("U");
  host.log.clear();
  Receive(Echo(332) + Echo(1) + "U");
  EXPECT_TRUE(host.log.empty());
  EXPECT_EQ(state.LinkState, 1);

  // A press that stops at its precondition leaves no frame to compare with.
  StartDownload(state, host, dialogs);
  host.log.clear();
  state.ProgramBytes = 0;
  StartDownload(state, host, dialogs);
  Receive("\x3F\x3F");
  EXPECT_TRUE(host.log.empty());
  EXPECT_EQ(state.LinkState, 1);
  EXPECT_EQ(state.FrameIndex, 1);
}

// One byte is in flight: a second one that arrives while the first is being
// handled is no echo, whatever its value, and nothing is sent after it.
TEST_F(Transfer, ASecondByteWhileAnEchoIsHandledFailsTheSlotInFlight) {
  struct Row {
    const char* what;
    std::string nested;
  };
  for (const Row& row : {Row{"noise", "\x11"}, Row{"the same echo again", Echo(3)},
                         Row{"the next slot's echo", Echo(4)}, Row{"two bytes", Echo(3) + Echo(4)}}) {
    SCOPED_TRACE(row.what);
    state = ExampleState();
    SetUp();
    Reach(3);
    host.onPump.push_back([this, &row] { Receive(row.nested); });
    Receive(Echo(3) + Echo(4));

    EXPECT_EQ(host.log, Log({Progress(3), "pump", Error(3), "pump", "pause 2000", kWaiting}));
    EXPECT_TRUE(host.written.empty());
    EXPECT_EQ(state.LinkState, 0);
    EXPECT_EQ(state.FrameIndex, 3);
    EXPECT_FALSE(state.EchoInHand);
  }
}

TEST_F(Transfer, NestedPressThatEmptiesTheFrameStopsTheOuterRun) {
  Reach(3);
  host.onPump.push_back([this] {
    state.ProgramBytes = 0;  // a failed load, then a press
    StartDownload(state, host, dialogs);
  });
  Receive(Echo(3) + Echo(4));

  EXPECT_EQ(host.log, Log({Progress(3), "pump"}));
  EXPECT_EQ(state.LinkState, 1);
  EXPECT_EQ(state.DownloadFrame, std::vector<uint8_t>{0});
}

// The byte being handled arrived before the new slot 1 was sent: it cannot
// be that slot's echo, so it is dropped and the new transfer waits for one.
TEST_F(Transfer, NestedPressStartsAfreshAndTheByteInHandIsNoEchoOfIt) {
  Reach(3);
  host.onPump.push_back([this] { StartDownload(state, host, dialogs); });
  Receive(Echo(1));

  EXPECT_EQ(host.log, Log({Progress(3), "pump", Write(0x3F)}));
  EXPECT_EQ(state.FrameIndex, 1);
  EXPECT_TRUE(state.TransferInProgress);
  Receive(Echo(1));
  EXPECT_EQ(host.log.back(), Write(0x01));
}

TEST_F(Transfer, BytesDuringTheCompletionPumpAreNotEchoes) {
  Reach(332);
  // The first pump follows the progress text; the byte arrives in the next,
  // the one after "Download completed!".
  host.onPump.push_back([this] { host.onPump.push_back([this] { Receive(Echo(332)); }); });
  Receive(Echo(332));

  EXPECT_EQ(host.log, Log({Progress(332), "pump", "pause 1000", "status Download completed!", "pump",
                           "pause 2000", kWaiting}));
  EXPECT_EQ(state.LinkState, 0);
}

TEST_F(Transfer, PressDuringTheOutcomePumpKeepsItsNewTransfer) {
  for (const bool wrongEcho : {false, true}) {
    SCOPED_TRACE(wrongEcho ? "after a wrong echo" : "after completion");
    SetUp();
    Reach(wrongEcho ? 100 : 332);
    // The first pump follows the progress text; the press comes in the next.
    host.onPump.push_back([this] { host.onPump.push_back([this] { StartDownload(state, host, dialogs); }); });
    Receive(wrongEcho ? std::string(1, static_cast<char>(~state.DownloadFrame[100])) : Echo(332));

    EXPECT_EQ(host.log.back(), "pause 2000");  // no return to waiting
    EXPECT_EQ(host.written, std::vector<uint8_t>{0x3F});
    EXPECT_EQ(state.LinkState, 1);
    EXPECT_TRUE(state.TransferInProgress);
    Receive(Echo(1));  // the new transfer goes on
    EXPECT_EQ(state.FrameIndex, 2);
  }
}

TEST_F(Transfer, LostLineEndsATransferAsAWrongEchoDoes) {
  Reach(5);
  OnLinkLost(state, host);

  EXPECT_EQ(host.log, Log({Error(5), "pump", "pause 2000", kWaiting}));
  EXPECT_EQ(state.LinkState, 0);
  EXPECT_FALSE(state.TransferInProgress);
  EXPECT_EQ(state.FrameIndex, 5);
}

TEST(LinkLost, OutsideATransferTheBootloaderMustSignalAgain) {
  AppState state;
  RecordingLinkHost host;
  OnPortReceive(state, host, "U");
  host.log.clear();
  OnLinkLost(state, host);
  EXPECT_EQ(host.log, Log({kWaiting}));
  EXPECT_EQ(state.LinkState, 0);
}

TEST_F(Transfer, AReopenedPortWaitsForTheSignalUnlessATransferRuns) {
  OnPortReopened(state, host);  // slot 1 in flight: nothing changes
  EXPECT_TRUE(host.log.empty());
  EXPECT_EQ(state.LinkState, 1);
  Receive(Echo(1));
  EXPECT_EQ(state.FrameIndex, 2);

  Receive(Echoes(2, 332));
  Receive("U");
  host.log.clear();
  OnPortReopened(state, host);  // ready, no transfer
  EXPECT_EQ(host.log, Log({kWaiting}));
  EXPECT_EQ(state.LinkState, 0);
  Receive("U");
  EXPECT_EQ(host.log.back(), kReady);
}

TEST_F(Transfer, LostLineInsideAPumpStopsTheOuterRun) {
  host.onPump.push_back([this] { OnLinkLost(state, host); });
  Receive(Echoes(1, 2));

  EXPECT_EQ(host.log, Log({Progress(1), "pump", Error(1), "pump", "pause 2000", kWaiting}));
  EXPECT_TRUE(host.written.empty());
}

// The serial layer reports a failed write from inside the write itself.
TEST(LinkLost, ALineThatFailsOnAWriteDropsTheRestOfTheInput) {
  struct FailingHost : RecordingLinkHost {
    AppState* state = nullptr;
    void WriteByte(uint8_t value) override {
      RecordingLinkHost::WriteByte(value);
      if (written.size() == 2) OnLinkLost(*state, *this);  // slot 2 fails
    }
  } host;
  AppState state = ExampleState();
  host.state = &state;
  RecordingDialogs dialogs;
  StartDownload(state, host, dialogs);
  host.log.clear();
  OnPortReceive(state, host, std::string(1, static_cast<char>(state.DownloadFrame[1])) + "U");

  EXPECT_EQ(host.log.back(), kWaiting);
  EXPECT_EQ(state.LinkState, 0);  // the U after the echo is not taken for a signal
  EXPECT_EQ(host.written.size(), 2u);
}

// The event carries the outcome a host acts on; the texts stay the window's.
TEST(LinkOutcome, EveryTransferEndsWithOneEvent) {
  using Kind = TransferOutcome::Kind;
  struct OutcomeHost : RecordingLinkHost {
    std::vector<TransferOutcome> outcomes;
    void TransferEnded(const TransferOutcome& outcome) override { outcomes.push_back(outcome); }
  };
  struct Row {
    const char* name;
    int reach;  // echoes matched before the end
    Kind kind;
  };
  const Row rows[] = {{"completed", 332, Kind::Completed}, {"wrong echo", 99, Kind::WrongEcho},
                      {"line lost", 4, Kind::LineLost}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    AppState state = ExampleState();
    OutcomeHost host;
    RecordingDialogs dialogs;
    StartDownload(state, host, dialogs);
    const auto* frame = reinterpret_cast<const char*>(state.DownloadFrame.data());
    OnPortReceive(state, host, std::string(frame + 1, frame + 1 + row.reach));
    if (row.kind == Kind::WrongEcho) OnPortReceive(state, host, "\x11");
    if (row.kind == Kind::LineLost) OnLinkLost(state, host);
    OnLinkLost(state, host);  // after the end: no second event

    ASSERT_EQ(host.outcomes.size(), 1u);
    const TransferOutcome& outcome = host.outcomes.front();
    const int slot = row.kind == Kind::Completed ? 332 : row.reach + 1;
    EXPECT_EQ(outcome.kind, row.kind);
    EXPECT_EQ(outcome.slot, slot);
    EXPECT_EQ(outcome.length, 332);
    EXPECT_EQ(outcome.sent, state.DownloadFrame[static_cast<size_t>(slot)]);
    if (row.kind == Kind::WrongEcho) {
      EXPECT_EQ(outcome.received, 0x11);
    }
  }
}

}  // namespace
