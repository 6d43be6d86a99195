#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "common/TestSupport.h"
#include "DownloadFrame.h"
#include "common/WorkedExample.h"

namespace {

const std::vector<uint8_t> kEmptyFrame = {0};

struct Press {
  RecordingLinkHost host;
  RecordingDialogs dialogs;
  void On(AppState& state) { StartDownload(state, host, dialogs); }
};

TEST(DownloadFrame, WorkedExampleSlotBySlot) {
  AppState state = ExampleState();
  Press press;
  press.On(state);

  EXPECT_EQ(state.ProgramBytes, 320);
  EXPECT_EQ(state.FrameLength, 332);
  EXPECT_EQ(state.FrameIndex, 1);
  EXPECT_TRUE(state.TransferInProgress);
  EXPECT_EQ(state.LinkState, 1);
  const std::vector<uint8_t> expected = ExampleSlots();
  ASSERT_EQ(state.DownloadFrame.size(), expected.size());
  for (size_t slot = 0; slot < expected.size(); ++slot) {
    EXPECT_EQ(state.DownloadFrame[slot], expected[slot]) << "slot " << slot;
  }
  EXPECT_EQ(press.host.written, std::vector<uint8_t>{0x3F});
  EXPECT_TRUE(press.dialogs.messages.empty());
  // Only the frame carries the jump; the image keeps what was loaded.
  EXPECT_EQ(std::vector<uint8_t>(state.FlashImage.begin(), state.FlashImage.begin() + 8),
            std::vector<uint8_t>({0x80, 0xEF, 0x00, 0xF0, 0xFF, 0xFF, 0xFF, 0xFF}));
}

TEST(DownloadFrame, WriteBlocksOf64ChangeOnlySlot4) {
  AppState state = ExampleState();
  state.Device.ProgramBlockSize = 64;
  Press press;
  press.On(state);

  std::vector<uint8_t> expected = ExampleSlots();
  expected[4] = 0x40;
  EXPECT_EQ(state.DownloadFrame, expected);
  EXPECT_EQ(state.FrameLength, 332);
}

TEST(DownloadFrame, PressingTwiceBuildsTheSameFrameAndSendsSlot1Again) {
  AppState state = ExampleState();
  Press press;
  press.On(state);
  state.FrameIndex = 40;  // as if the transfer had gone on
  press.On(state);

  EXPECT_EQ(state.ProgramBytes, 320);
  EXPECT_EQ(state.DownloadFrame, ExampleSlots());
  EXPECT_EQ(state.FrameIndex, 1);
  EXPECT_EQ(press.host.written, std::vector<uint8_t>({0x3F, 0x3F}));
}

TEST(DownloadFrame, RoundsUpToEraseBlocksAndAnnouncesTheLastAddress) {
  struct Row {
    int32_t before, after;
    uint8_t low, high;
    int32_t eraseBlock = 64, writeBlock = 8;
  };
  const Row rows[] = {
      {9, 64, 0x3F, 0x00},          {64, 64, 0x3F, 0x00},          {65, 128, 0x7F, 0x00},
      {0x10A, 320, 0x3F, 0x01},     {65535, 65536, 0xFF, 0xFF},    {65536, 65536, 0xFF, 0xFF},
      // Blocks of 255, the largest that a header slot holds, are sent.
      {9, 255, 0xFE, 0x00, 255, 255}, {256, 510, 0xFD, 0x01, 255, 255},
      {300, 510, 0xFD, 0x01, 255, 85},
  };
  for (const Row& row : rows) {
    AppState state = ExampleState();
    state.Device.FlashSize = 65536;
    state.Device.EraseBlockSize = row.eraseBlock;
    state.Device.ProgramBlockSize = row.writeBlock;
    state.Device.BootloaderAddress = 65536;
    state.FlashImage.resize(65536, 0xFF);
    state.ProgramBytes = row.before;
    Press press;
    press.On(state);
    SCOPED_TRACE(row.before);
    EXPECT_EQ(state.ProgramBytes, row.after);
    ASSERT_EQ(state.FrameLength, row.after + 12);
    EXPECT_EQ(state.DownloadFrame[1], row.low);
    EXPECT_EQ(state.DownloadFrame[2], row.high);
    EXPECT_EQ(press.host.written, std::vector<uint8_t>{row.low});
  }
}

TEST(DownloadFrame, JumpWordsLeadToTheBootloader) {
  struct Row {
    int32_t bootloader;
    uint8_t slots[4];
  };
  const Row rows[] = {
      {0x7D00, {0x80, 0xEF, 0x3E, 0xF0}},  {0x7D01, {0x80, 0xEF, 0x3E, 0xF0}},
      {0x7D03, {0x82, 0xEF, 0x3E, 0xF0}},  {0x1FC00, {0x00, 0xEF, 0xFE, 0xF0}},
      {0x20000, {0x00, 0xEF, 0x00, 0xF1}}, {0x1FFFFE, {0xFF, 0xEF, 0xFF, 0xFF}},
      {0x000140, {0xA0, 0xEF, 0x00, 0xF0}},
  };
  for (const Row& row : rows) {
    AppState state = ExampleState();
    state.Device.BootloaderAddress = row.bootloader;
    ASSERT_EQ(BuildDownloadFrame(state), "") << row.bootloader;
    SCOPED_TRACE(row.bootloader);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(state.DownloadFrame[7 + i], row.slots[i]) << "slot " << 7 + i;
    EXPECT_EQ(state.DownloadFrame[5], 0xD0);
    EXPECT_EQ(state.DownloadFrame[12], 0x00);
  }
}

TEST(DownloadFrame, StopsSilentlyWithoutAProgramOrASignal) {
  const std::function<void(AppState&)> cases[] = {
      [](AppState& s) { s.ProgramBytes = 8; },
      [](AppState& s) { s.ProgramBytes = 0; },
      [](AppState& s) { s.LinkState = 0; },
  };
  for (const auto& change : cases) {
    AppState state = ExampleState();
    Press press;
    press.On(state);  // a transfer is in progress
    state.FrameIndex = 7;
    change(state);
    const int32_t programBytes = state.ProgramBytes;
    press.host.log.clear();
    press.On(state);

    EXPECT_EQ(state.DownloadFrame, kEmptyFrame);
    EXPECT_EQ(state.FrameLength, 0);
    EXPECT_EQ(state.FrameIndex, 7);
    EXPECT_EQ(state.ProgramBytes, programBytes);
    EXPECT_FALSE(state.TransferInProgress);
    EXPECT_TRUE(press.host.log.empty());
    EXPECT_TRUE(press.dialogs.messages.empty());
  }
}

TEST(DownloadFrame, RefusesFramesThatCannotBeSentAndSaysWhy) {
  struct Row {
    const char* why;
    std::function<void(AppState&)> change;
    const char* mentions;
  };
  const Row rows[] = {
      {"erase block 0", [](AppState& s) { s.Device.EraseBlockSize = 0; }, "eraseblock:0"},
      {"write block negative", [](AppState& s) { s.Device.ProgramBlockSize = -8; }, "programblock:-8"},
      {"erase block over 255", [](AppState& s) { s.Device.EraseBlockSize = 256; }, "eraseblock:256"},
      {"write block over 255", [](AppState& s) { s.Device.ProgramBlockSize = 320; }, "programblock:320"},
      {"malformed bootloader", [](AppState& s) { s.Device.BootloaderAddress = -1; }, "bootloader:"},
      {"jump word too high", [](AppState& s) { s.Device.BootloaderAddress = 0x1FFFFF; },
       "bootloader:1FFFFF"},
      {"area above 64 KiB",
       [](AppState& s) {
         s.Device.FlashSize = 131072;
         s.FlashImage.resize(131072, 0xFF);
         s.ProgramBytes = 65537;
       },
       "65600"},
      {"write block not dividing", [](AppState& s) { s.Device.ProgramBlockSize = 24; },
       "programblock must divide eraseblock"},
      {"write block larger than area", [](AppState& s) { s.Device.ProgramBlockSize = 255; },
       "programblock:255"},
      {"area past flash",
       [](AppState& s) {
         s.Device.FlashSize = 300;
         s.FlashImage.resize(300);
       },
       "flash:300"},
      {"area reaching the bootloader", [](AppState& s) { s.Device.BootloaderAddress = 0x100; },
       "is 320 bytes and reaches config.txt bootloader:000100 (byte 256)"},
      {"bootloader at 0", [](AppState& s) { s.Device.BootloaderAddress = 0; }, "bootloader:000000"},
      {"port closed", [](AppState&) {}, "serial port is not open"},
  };
  for (const Row& row : rows) {
    AppState state = ExampleState();
    row.change(state);
    Press press;
    press.host.portOpen = std::string(row.why) != "port closed";
    press.On(state);

    SCOPED_TRACE(row.why);
    ASSERT_EQ(press.dialogs.messages.size(), 1u);
    EXPECT_NE(press.dialogs.messages[0].find(row.mentions), std::string::npos)
        << press.dialogs.messages[0];
    EXPECT_TRUE(press.host.log.empty());
    EXPECT_EQ(state.LinkState, 1);
    EXPECT_FALSE(state.TransferInProgress);
    EXPECT_EQ(state.DownloadFrame, kEmptyFrame);
    EXPECT_EQ(state.FrameLength, 0);
  }
}

TEST(DownloadFrame, RefusedBuildLeavesTheStateAsItWas) {
  AppState state = ExampleState();
  ASSERT_EQ(BuildDownloadFrame(state), "");
  state.Device.ProgramBlockSize = 24;
  state.ProgramBytes = 0x10A;
  const std::string reason = BuildDownloadFrame(state);

  EXPECT_NE(reason, "");
  EXPECT_EQ(state.ProgramBytes, 0x10A);
  EXPECT_EQ(state.DownloadFrame, ExampleSlots());
  EXPECT_EQ(state.FrameLength, 332);
}

TEST(DownloadFrame, BuildDoesNotDependOnTheLink) {
  AppState state = ExampleState();
  state.LinkState = 0;
  EXPECT_EQ(BuildDownloadFrame(state), "");
  EXPECT_EQ(state.DownloadFrame, ExampleSlots());
  EXPECT_EQ(state.LinkState, 0);
  EXPECT_FALSE(state.TransferInProgress);
}

TEST(DownloadFrame, RefusalHintNamesWhatTheBootloaderRefused) {
  AppState state = ExampleState();
  ASSERT_EQ(BuildDownloadFrame(state), "");
  const struct {
    int32_t slot;
    const char* hint;  // a part of it, or "" for none
  } cases[] = {
      {1, ""},
      {4, "check eraseblock: and programblock:"},
      {7, "the jump at 0..7 does not lead to the bootloader on the chip: check bootloader:"},
      {12, "; or the flash at 0x000000..0x000007 did not take"},
      {76, "the flash at 0x000040..0x000047 did not take the write"},
      {332, "first eight bytes did not take; the chip stays in the bootloader"},
  };
  for (const auto& c : cases) {
    const std::string hint = RefusalHint(c.slot, state);
    EXPECT_EQ(hint.empty(), *c.hint == '\0') << c.slot << ": " << hint;
    EXPECT_NE(hint.find(c.hint), std::string::npos) << c.slot << ": " << hint;
  }
  // An area that a wrong bootloader: let reach the chip's own code.
  state.Device.BootloaderAddress = 0x100;
  EXPECT_NE(RefusalHint(5 + 0x100, state).find("keeps 0x000100 for itself"), std::string::npos);
}

TEST(DownloadFrame, AppendFrameSlotKeepsEarlierSlots) {
  AppState state;  // never built: not even slot 0 exists
  AppendFrameSlot(state);
  state.DownloadFrame[1] = 0xAB;
  AppendFrameSlot(state);
  EXPECT_EQ(state.FrameLength, 2);
  EXPECT_EQ(state.DownloadFrame, std::vector<uint8_t>({0x00, 0xAB, 0x00}));
}

}  // namespace
