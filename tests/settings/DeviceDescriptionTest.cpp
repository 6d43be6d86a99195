#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

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
      {"model:abcxyz{`@[", "ABCXYZ{`@[", 0, 0},
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
      {"bootloader:007a00", "", 0, 0x7A00},
      {"bootloader:00fA0f", "", 0, 0xFA0F},
      {"flash:&H7A00", "", 0x7A00, 0},
      {"; " + std::string(100000, 'x') + "\nflash:8", "", 8, 0},
      {"model:" + std::string(4000, 'a'), std::string(4000, 'A'), 0, 0},
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
      {"long.txt", "model:X\r\nflash:" + std::string(5000, ' ') + "1", "line 2"},
      {"/dev/zero", "", "not a regular file"},
      {"/proc/self/mem", "", "Input/output error"},
  };
  for (const Case& c : cases) {
    const bool system = c.name.starts_with('/');
    std::string path = system ? c.name : dir.file(c.name.empty() ? "missing.txt" : c.name);
    if (!c.name.empty() && !system) dir.write(c.name, c.content);
    DeviceDescription device;
    std::string error;
    EXPECT_FALSE(ReadDeviceDescription(path, device, error)) << path;
    EXPECT_NE(error.find(c.wanted), std::string::npos) << error;
    EXPECT_NE(error.find(path), std::string::npos) << error;
  }
  std::string error;
  DeviceDescription device;
  EXPECT_FALSE(ReadDeviceDescription(dir.path(), device, error));
  EXPECT_NE(error.find(dir.path() + " could not be read: Is a directory"), std::string::npos) << error;
}

// A pipe never ends and a device may never end: neither is waited on.
TEST(DeviceDescription, PipeIsRefusedAtOnce) {
  TempDir dir;
  ASSERT_EQ(mkfifo(dir.file("config.txt").c_str(), 0600), 0);
  // A writer keeps the pipe open, so a reader that waited would wait for good.
  const int writer = open(dir.file("config.txt").c_str(), O_RDWR);
  ASSERT_GE(writer, 0);
  DeviceDescription device;
  std::string error;
  EXPECT_FALSE(ReadDeviceDescription(dir.file("config.txt"), device, error));
  EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;
  close(writer);
}

}  // namespace
