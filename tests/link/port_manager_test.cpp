#include <gtest/gtest.h>
#include <termios.h>

#include <QTest>
#include <memory>

#include "common/TestSupport.h"
#include "PortManager.h"
#include "QtSerialLine.h"
#include "common/Pty.h"

namespace {

const char kNumber[] = "Serial Port Number";
const char kBaud[] = "Serial Port Baud Rate";

class PortManagerTest : public ::testing::Test {
 protected:
  void Map(const std::map<int, const Pty*>& usable) { MapPorts(dirs.portMapDir(), usable); }
  void Store(const std::string& number) { settings.WriteSetting(kNumber, number); }
  std::string Stored(const char* name) const {
    const std::string* value = settings.Find(name);
    return value ? *value : "<none>";
  }
  // The captions shown so far, one per open attempt.
  std::vector<std::string> Captions() const { return controls.log; }

  ScopedUserDirs dirs;
  Pty ptyA, ptyB;
  AppState state;
  MemorySettings settings;
  RecordingControls controls;
  RecordingDialogs dialogs;
  QtSerialLine line{dirs.portMapDir()};
  PortManager manager{state, settings, line, controls, dialogs};
};

TEST_F(PortManagerTest, FirstRunOpensTheDefaultPortAndStoresTheDefaults) {
  Map({{2, &ptyA}});
  manager.OpenPort();
  manager.ScanPorts();

  EXPECT_EQ(Captions(), std::vector<std::string>{"comm Serial port 2 ready"});
  EXPECT_EQ(controls.commColour, kColourPortReady);
  EXPECT_EQ(controls.commDetail, ptyA.devicePath());
  EXPECT_TRUE(state.PortOpened);
  EXPECT_EQ(state.BaudRate, "19200");
  EXPECT_EQ(Stored(kNumber), "2");
  EXPECT_EQ(Stored(kBaud), "19200");
  EXPECT_EQ(ptyA.OutputSpeed(), static_cast<unsigned>(B19200));
}

TEST_F(PortManagerTest, AStoredBaudRateReachesTheLineUnchanged) {
  Map({{2, &ptyA}});
  settings.WriteSetting(kBaud, "115200");
  manager.OpenPort();
  EXPECT_TRUE(state.PortOpened);
  EXPECT_EQ(ptyA.OutputSpeed(), static_cast<unsigned>(B115200));
  EXPECT_EQ(Stored(kBaud), "115200");
}

TEST_F(PortManagerTest, ScanTakesTheHighestUsablePort) {
  Map({{3, &ptyA}, {7, &ptyB}});
  manager.OpenPort();
  manager.ScanPorts();

  const std::vector<std::string> expected = {
      "comm Serial port 2 error!",  "comm Serial port 12 error!", "comm Serial port 11 error!",
      "comm Serial port 10 error!", "comm Serial port 9 error!",  "comm Serial port 8 error!",
      "comm Serial port 7 ready"};
  EXPECT_EQ(Captions(), expected);
  EXPECT_TRUE(state.PortOpened);
  EXPECT_EQ(state.PortNumber, 7);
  EXPECT_EQ(Stored(kNumber), "7");
  EXPECT_EQ(line.DevicePath(), ptyB.devicePath());
}

TEST_F(PortManagerTest, ScanWithNoUsablePortRestoresTheStoredNumber) {
  Map({});
  manager.OpenPort();
  EXPECT_NE(controls.commDetail.find("device not found"), std::string::npos) << controls.commDetail;
  manager.ScanPorts();

  ASSERT_EQ(Captions().size(), 14u);  // the first attempt and 13 more
  EXPECT_EQ(Captions()[1], "comm Serial port 12 error!");
  EXPECT_EQ(Captions()[12], "comm Serial port 1 error!");
  EXPECT_EQ(Captions().back(), "comm Serial port 2 error!");
  EXPECT_EQ(controls.commColour, kColourPortError);
  EXPECT_FALSE(state.PortOpened);
  EXPECT_EQ(Stored(kNumber), "2");
}

TEST_F(PortManagerTest, StoredNumbersRoundHalvesToEven) {
  Map({{4, &ptyA}, {6, &ptyB}});
  const std::pair<const char*, const Pty*> cases[] = {
      {"5.5", &ptyB}, {"4.5", &ptyA}, {" 6x", &ptyB}};
  for (const auto& [stored, pty] : cases) {
    Store(stored);
    manager.OpenPort();
    EXPECT_TRUE(state.PortOpened) << stored;
    EXPECT_EQ(line.DevicePath(), pty->devicePath()) << stored;
    line.Close();
  }
}

TEST_F(PortManagerTest, NumbersTheLineCannotTakeAreShownAsErrors) {
  Map({});
  const std::tuple<const char*, const char*, const char*> cases[] = {
      {"70000", "Serial port 70000 error!", "out of range"},
      {"99999999999", "Serial port 0 error!", "out of range"},
      {"-3", "Serial port -3 error!", "no device is mapped to COM-3"},
      {"x", "Serial port 0 error!", "no device is mapped to COM0"},
  };
  for (const auto& [stored, caption, reason] : cases) {
    Store(stored);
    manager.OpenPort();
    EXPECT_FALSE(state.PortOpened) << stored;
    EXPECT_EQ(controls.commCaption, caption);
    EXPECT_EQ(controls.commColour, kColourPortError);
    EXPECT_NE(controls.commDetail.find(reason), std::string::npos) << controls.commDetail;
  }
}

TEST_F(PortManagerTest, ABadStoredBaudRateIsShownAsAnError) {
  Map({{2, &ptyA}});
  settings.WriteSetting(kBaud, "fast");
  manager.OpenPort();
  EXPECT_FALSE(state.PortOpened);
  EXPECT_EQ(controls.commCaption, "Serial port 2 error!");
  EXPECT_NE(controls.commDetail.find("baud rate"), std::string::npos) << controls.commDetail;
}

TEST_F(PortManagerTest, ChangePortKeepsTheNumberOnAnyEntryButOneToTwelve) {
  Map({{3, &ptyA}});
  struct Case {
    const char* entry;
    bool wrong;
  };
  for (const Case& c :
       {Case{"03", true}, Case{" 3", true}, Case{"13", true}, Case{"0", true}, Case{"", false}}) {
    Store("3");
    manager.OpenPort();
    dialogs.messages.clear();
    settings.writes.clear();
    dialogs.inputAnswers = {c.entry};
    manager.ChangePort();

    EXPECT_EQ(dialogs.inputPrompts.back(), "Please select bootloader Serial Port Number [1-12].");
    EXPECT_EQ(dialogs.inputInitialTexts.back(), "3");
    EXPECT_EQ(dialogs.messages,
              c.wrong ? std::vector<std::string>{"Wrong entry!"} : std::vector<std::string>{})
        << c.entry;
    EXPECT_EQ(settings.writes, std::vector<std::string>{"Serial Port Number=3"}) << c.entry;
    EXPECT_EQ(controls.commCaption, "Serial port 3 ready") << c.entry;
    EXPECT_TRUE(line.IsOpen());
    line.Close();
  }
}

TEST_F(PortManagerTest, ChangePortToAnUnusablePortKeepsItWithoutAScan) {
  Map({{3, &ptyA}});
  Store("3");
  manager.OpenPort();
  controls.log.clear();
  dialogs.inputAnswers = {"12"};
  manager.ChangePort();

  EXPECT_EQ(Captions(), std::vector<std::string>{"comm Serial port 12 error!"});
  EXPECT_EQ(controls.commColour, kColourPortError);
  EXPECT_FALSE(line.IsOpen());
  EXPECT_EQ(state.PortNumber, 12);
  EXPECT_EQ(Stored(kNumber), "12");
}

TEST_F(PortManagerTest, ADeviceGoneMidRunShowsThePortAsFailed) {
  Map({{2, &ptyA}});
  manager.OpenPort();
  ASSERT_TRUE(state.PortOpened);
  int failures = 0;
  line.onFailure = [&](const std::string& why) {
    ++failures;
    manager.PortFailed(why);
  };
  ptyA.CloseDeviceSide();
  QTest::qWait(300);

  EXPECT_EQ(failures, 1);
  EXPECT_FALSE(line.IsOpen());
  EXPECT_FALSE(state.PortOpened);
  EXPECT_EQ(controls.commCaption, "Serial port 2 error!");
  EXPECT_EQ(controls.commColour, kColourPortError);
  EXPECT_NE(controls.commDetail.find(ptyA.devicePath()), std::string::npos) << controls.commDetail;
}

}  // namespace
