#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <tuple>

#include "common/TestSupport.h"
#include "DeviceDescription.h"

namespace {

auto Fields(const DeviceDescription& d) {
  return std::tuple(d.DeviceModel, d.FlashSize, d.EepromSize, d.EraseBlockSize, d.ProgramBlockSize,
                    d.BootloaderAddress);
}

const DeviceDescription kDemo1{"DEMO1", 32768, 256, 64, 8, 0x7D00};

DeviceDescription Read(const std::string& text) {
  std::istringstream in(text);
  DeviceDescription device;
  std::string error;
  EXPECT_TRUE(ReadDeviceDescription(in, "config.txt", device, error)) << error;
  return device;
}

TEST(DeviceDescription, ReadsTheSampleFile) {
  DeviceDescription device;
  std::string error;
  ASSERT_TRUE(ReadDeviceDescription(SourcePath("samples/config.txt"), device, error)) << error;
  EXPECT_EQ(Fields(device), Fields(kDemo1));
}

TEST(DeviceDescription, LinesSetTheirFieldExactlyAsWritten) {
  struct Case {
    std::string text;
    std::string model;
    int32_t flash;
    int32_t bootloader;
  };
  const Case cases[] = {
      {"Model:DEMO1", "", 0, 0},
      {"model:demo1", "DEMO1", 0, 0},
      {"model: DEMO1", " DEMO1", 0, 0},
      {"model:pic18f452 rev\xC3\xA9", "PIC18F452 REV\xC3\xA9", 0, 0},
      {" model:DEMO1", "", 0, 0},
      {"flash:32768 bytes", "", 32768, 0},
      {"flash:", "", 0, 0},
      {"flash:12.5", "", 12, 0},
      {"flash:13.5", "", 14, 0},
      {"flash:&H8000", "", 32768, 0},
      {"flash:0", "", 0, 0},
      {"FLASH:32768", "", 0, 0},
      {"bootloader:7d00", "", 0, -1},
      {"bootloader:007d00", "", 0, 0x7D00},
      {"bootloader: 007D00", "", 0, -1},
      {"bootloader:007D00 ", "", 0, -1},
      {"bootloader:", "", 0, -1},
      {"flash:16384\nflash:32768", "", 32768, 0},
      {"model:A\nmodel:B", "B", 0, 0},
  };
  for (const Case& c : cases) {
    DeviceDescription device = Read(c.text);
    EXPECT_EQ(device.DeviceModel, c.model) << c.text;
    EXPECT_EQ(device.FlashSize, c.flash) << c.text;
    EXPECT_EQ(device.BootloaderAddress, c.bootloader) << c.text;
  }
}

TEST(DeviceDescription, EveryLineEndEndsALine) {
  for (const std::string end : {"\r\n", "\r", "\n"}) {
    DeviceDescription device = Read("model:demo1" + end + "flash:32768" + end + "eeprom:256" + end +
                                    "eraseblock:64" + end + "programblock:8" + end +
                                    "bootloader:007D00" + end);
    EXPECT_EQ(Fields(device), Fields(kDemo1));
  }
  // Without a final line end the last line still counts.
  EXPECT_EQ(Read("eeprom:1\r\neeprom:2").EepromSize, 2);
}

TEST(DeviceDescription, EmptyFileLeavesEverythingZero) {
  TempDir dir;
  dir.write("config.txt", "");
  DeviceDescription device;
  device.FlashSize = 5;
  device.DeviceModel = "OLD";
  std::string error;
  ASSERT_TRUE(ReadDeviceDescription(dir.file("config.txt"), device, error));
  EXPECT_EQ(Fields(device), Fields(DeviceDescription{}));
}

TEST(DeviceDescription, ReportsWhatItCannotUse) {
  TempDir dir;
  struct Case {
    std::string name;  // "" = a file that is not there
    std::string content;
    std::string wanted;
  };
  const Case cases[] = {
      {"", "", "The device description " + dir.file("missing.txt") + " was not found."},
      {"flash.txt", "model:X\nflash:99999999999\n", "flash:99999999999"},
      {"eeprom.txt", "eeprom:-2147483649\r\n", "eeprom:-2147483649"},
      {"erase.txt", "eraseblock:&H100000000", "eraseblock:&H100000000"},
      {"program.txt", "programblock:1e10", "programblock:1e10"},
  };
  for (const Case& c : cases) {
    std::string path = dir.file(c.name.empty() ? "missing.txt" : c.name);
    if (!c.name.empty()) dir.write(c.name, c.content);
    DeviceDescription device;
    std::string error;
    EXPECT_FALSE(ReadDeviceDescription(path, device, error)) << path;
    EXPECT_NE(error.find(c.wanted), std::string::npos) << error;
    EXPECT_NE(error.find(path), std::string::npos) << error;
  }
  std::string error;
  DeviceDescription device;
  EXPECT_FALSE(ReadDeviceDescription(dir.path(), device, error));
  EXPECT_NE(error.find(dir.path()), std::string::npos) << error;
}

}  // namespace
