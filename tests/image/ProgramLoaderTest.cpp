#include <gtest/gtest.h>

#include <clocale>

#include "HexTestSupport.h"
#include "common/TestSupport.h"
#include "ProgramLoader.h"

namespace {
const std::string kFilter = "Intel HEX files (*.hex)|*.hex|All files (*.*)|*.*";

struct Loader {
  TempDir dir;
  AppState state = PreparedState();
  RecordingDialogs dialogs;
  RecordingControls controls;
  MemorySettings settings;

  Loader() { state.LastPath = dir.path() + "/"; }
  LoadOutcome Load(const std::string& name, const std::string& content) {
    dir.write(name, content);
    return LoadProgramFile(state, name, dialogs, controls);
  }
};

std::string Success(const std::string& total, const std::string& kilobytes) {
  return "Operation completed.\r\nTotal " + total + " (" + kilobytes + "K) program bytes loaded.";
}

TEST(ProgramLoader, KilobyteText) {
  const std::pair<int32_t, const char*> cases[] = {
      {1000, ".976"}, {1536, "1.5"},   {10000, "9.76"},     {32768, "32"},
      {0, "0"},       {1, ".000"},     {1024, "1"},         {2097152, "2048"},
      {1048575, "1023"}, {INT32_MAX, "2097"}, {-1000, "-.97"},
  };
  for (const auto& [bytes, text] : cases) EXPECT_EQ(KilobyteText(bytes), text) << bytes;
  // A locale with a decimal comma must not change it.
  if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8") != nullptr) {
    EXPECT_EQ(KilobyteText(1536), "1.5");
    std::setlocale(LC_NUMERIC, "C");
  }
}

TEST(ProgramLoader, SuccessReportsTheTotal) {
  const std::pair<uint16_t, const char*> cases[] = {
      {999, ".976"}, {1535, "1.5"}, {9999, "9.76"}, {0x7FFF, "32"},
  };
  for (const auto& [highest, kilobytes] : cases) {
    Loader loader;
    EXPECT_EQ(loader.Load("p.hex", Record(0, highest, {0x11}) + "\r\n" + EndRecord()),
              LoadOutcome::Loaded);
    EXPECT_EQ(loader.dialogs.messages,
              std::vector<std::string>{Success(std::to_string(highest + 1), kilobytes)});
    EXPECT_EQ(loader.controls.log,
              (std::vector<std::string>{"disable", "hex ", "hex p.hex", "enable"}));
  }
  Loader onlyConfig;
  EXPECT_EQ(onlyConfig.Load("c.hex", ExtendedRecord(0x30) + "\n" + Record(0, 0, {1, 2})),
            LoadOutcome::Loaded);
  EXPECT_EQ(onlyConfig.dialogs.messages, std::vector<std::string>{Success("0", "0")});
}

// The download carries program memory only: label_hex's tooltip says what
// else the file held, and the message box keeps its text.
TEST(ProgramLoader, TooltipNamesTheAreasTheDownloadLeavesOut) {
  const struct {
    std::string hex;
    const char* detail;
  } cases[] = {
      {Record(0, 0, {1}), ""},
      {ExtendedRecord(0xF0) + "\n" + Record(0, 0, {1}), "The download leaves out the file's data EEPROM (1 byte)."},
      {ExtendedRecord(0x30) + "\n" + Record(0, 0, {1, 2}) + "\n" + ExtendedRecord(0x20) + "\n" +
           Record(0, 0, {1, 2, 3}) + "\n" + ExtendedRecord(0xF0) + "\n" + Record(0, 0, {4}) + "\n" +
           ExtendedRecord(0x3F) + "\n" + Record(0, 0xFFFE, {5, 6}),
       "The download leaves out the file's configuration words (2 bytes), ID locations (3 bytes), data EEPROM "
       "(1 byte) and device ID (2 bytes): the program runs with the bootloader's configuration words."},
  };
  for (const auto& c : cases) {
    Loader loader;
    EXPECT_EQ(loader.Load("p.hex", c.hex), LoadOutcome::Loaded);
    EXPECT_EQ(loader.controls.hexDetail, c.detail);
    EXPECT_EQ(loader.dialogs.messages.size(), 1u);
  }
}

TEST(ProgramLoader, ASecondFileLeavesNothingOfTheFirst) {
  Loader loader;
  ASSERT_EQ(loader.Load("a.hex", Record(0, 0x100, {1, 2, 3, 4})), LoadOutcome::Loaded);
  ASSERT_EQ(loader.Load("b.hex", Record(0, 0x10, {9})), LoadOutcome::Loaded);
  EXPECT_EQ(loader.state.FlashImage[0x10], 9);
  EXPECT_EQ(loader.state.FlashImage[0x100], 0xFF);
  EXPECT_EQ(loader.state.ProgramBytes, 0x11);
  EXPECT_EQ(loader.controls.hexLabel, "b.hex");
}

TEST(ProgramLoader, FailureBlanksTheImage) {
  Loader loader;
  ASSERT_EQ(loader.Load("a.hex", Record(0, 0, {1})), LoadOutcome::Loaded);
  loader.dialogs.messages.clear();
  loader.controls.log.clear();
  // Two bytes are stored before the fault; none may remain.
  EXPECT_EQ(loader.Load("bad.hex", Record(0, 0x7FFE, {1, 2, 3, 4})), LoadOutcome::Faulty);
  EXPECT_EQ(loader.state.FlashImage, std::vector<uint8_t>(0x8000, 0xFF));
  EXPECT_EQ(loader.state.ProgramBytes, 0);
  EXPECT_EQ(loader.dialogs.messages.size(), 1u);
  EXPECT_EQ(loader.controls.log, (std::vector<std::string>{"disable", "hex ", "hex ", "enable"}));
  // A file that cannot be read ends the same way.
  EXPECT_EQ(LoadProgramFile(loader.state, "missing.hex", loader.dialogs, loader.controls),
            LoadOutcome::Faulty);
  EXPECT_EQ(loader.dialogs.messages.back(), "Cannot read the program file " +
                                                loader.state.LastPath +
                                                "missing.hex: No such file or directory");
  EXPECT_EQ(loader.state.ProgramBytes, 0);
  EXPECT_TRUE(loader.controls.enabled);
}

TEST(ProgramLoader, RefusesAFlashSizeOutsideTheProgramSpace) {
  for (int32_t flash : {0, -5, 0x200001}) {
    Loader loader;
    loader.state.Device.FlashSize = flash;
    EXPECT_EQ(loader.Load("a.hex", Record(0, 0, {1})), LoadOutcome::Refused);
    EXPECT_EQ(loader.dialogs.messages,
              std::vector<std::string>{
                  "The device description gives a program memory size (flash:) of " +
                  std::to_string(flash) + " bytes; it must be 1 to 2097152."});
    EXPECT_TRUE(loader.state.FlashImage.empty());
    EXPECT_EQ(loader.state.ProgramBytes, 0);
    EXPECT_EQ(loader.controls.log.front(), "disable");
    EXPECT_EQ(loader.controls.log.back(), "enable");
  }
  Loader largest;
  largest.state.Device.FlashSize = 0x200000;
  EXPECT_EQ(largest.Load("a.hex", ExtendedRecord(0x1F) + "\n" + Record(0, 0xFFFF, {1})),
            LoadOutcome::Loaded);
  EXPECT_EQ(largest.state.ProgramBytes, 0x200000);
}

TEST(ProgramLoader, OpenCommandRemembersTheFolder) {
  Loader loader;
  loader.state.LastPath = "/start/";
  loader.dir.write("x.hex", Record(0, 0, {5}));
  loader.dialogs.fileAnswers = {loader.dir.file("x.hex")};
  OpenProgramFile(loader.state, loader.dialogs, loader.settings, loader.controls);
  EXPECT_EQ(loader.dialogs.lastFileTitle, "Select Program File");
  EXPECT_EQ(loader.dialogs.lastFileFilter, kFilter);
  EXPECT_EQ(loader.dialogs.lastFileInitialDir, "/start/");
  EXPECT_EQ(loader.state.LastPath, loader.dir.path() + "/");
  EXPECT_EQ(loader.settings.writes, std::vector<std::string>{"Last Path=" + loader.dir.path() + "/"});
  EXPECT_EQ(loader.controls.hexLabel, "x.hex");
  EXPECT_EQ(loader.state.FlashImage[0], 5);
}

TEST(ProgramLoader, CancelChangesNothing) {
  Loader loader;
  ASSERT_EQ(loader.Load("a.hex", Record(0, 0, {1})), LoadOutcome::Loaded);
  const AppState before = loader.state;
  loader.controls.log.clear();
  OpenProgramFile(loader.state, loader.dialogs, loader.settings, loader.controls);
  EXPECT_EQ(loader.state.LastPath, before.LastPath);
  EXPECT_EQ(loader.state.FlashImage, before.FlashImage);
  EXPECT_EQ(loader.state.ProgramBytes, before.ProgramBytes);
  EXPECT_TRUE(loader.settings.writes.empty());
  EXPECT_TRUE(loader.controls.log.empty());
}

TEST(ProgramLoader, PathWithoutAFolder) {
  Loader loader;
  loader.dialogs.fileAnswers = {"relative.hex"};
  OpenProgramFile(loader.state, loader.dialogs, loader.settings, loader.controls);
  EXPECT_EQ(loader.state.LastPath, "");
  EXPECT_EQ(loader.settings.writes, std::vector<std::string>{"Last Path="});
  EXPECT_EQ(loader.dialogs.messages.back(),
            "Cannot read the program file relative.hex: No such file or directory");
}
}  // namespace
