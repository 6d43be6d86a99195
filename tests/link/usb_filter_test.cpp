// Choosing boards by their adapter's USB identity.
#include <gtest/gtest.h>

#include "UsbFilter.h"

namespace {

const std::vector<SerialDevice> kListed = {
    {"/dev/ttyUSB0", 0x0403, 0x6001, "A10K3XYZ"},
    {"/dev/ttyUSB1", 0x0403, 0x6001, "B2"},
    {"/dev/ttyUSB2", 0x10C4, 0xEA60, ""},
    {"/dev/ttyACM0", 0x04D8, 0x00DD, "0001"},
    {"/dev/ttyS0", std::nullopt, std::nullopt, ""},  // on the board, no USB identity
};

std::vector<std::string> Chosen(const std::vector<std::string>& texts) {
  std::vector<UsbFilter> filters;
  for (const std::string& text : texts) {
    std::string error;
    const auto filter = ParseUsbFilter(text, error);
    EXPECT_TRUE(filter) << text << ": " << error;
    if (filter) filters.push_back(*filter);
  }
  std::vector<std::string> paths;
  for (const SerialDevice& device : MatchingDevices(kListed, filters)) paths.push_back(device.path);
  return paths;
}

TEST(UsbFilter, ChoosesByIdsAndSerialInTheOrderListed) {
  using Paths = std::vector<std::string>;
  EXPECT_EQ(Chosen({"0403:6001"}), (Paths{"/dev/ttyUSB0", "/dev/ttyUSB1"}));
  EXPECT_EQ(Chosen({"0403:6001:B2"}), (Paths{"/dev/ttyUSB1"}));
  EXPECT_EQ(Chosen({"10c4:EA60"}), (Paths{"/dev/ttyUSB2"}));
  EXPECT_EQ(Chosen({"*:00dd"}), (Paths{"/dev/ttyACM0"}));
  EXPECT_EQ(Chosen({"4d8:*:*"}), (Paths{"/dev/ttyACM0"}));
  // Any USB adapter, but never a port without a USB identity.
  EXPECT_EQ(Chosen({"*:*"}), (Paths{"/dev/ttyUSB0", "/dev/ttyUSB1", "/dev/ttyUSB2", "/dev/ttyACM0"}));
  // A device that two filters choose is chosen once.
  EXPECT_EQ(Chosen({"0403:*:A10K3XYZ", "0403:6001"}), (Paths{"/dev/ttyUSB0", "/dev/ttyUSB1"}));
  EXPECT_EQ(Chosen({"0403:6001:a10k3xyz"}), Paths{});  // a serial number is exact
  EXPECT_EQ(Chosen({"0403:6015"}), Paths{});
}

TEST(UsbFilter, MalformedIdsAreRefused) {
  for (const char* text : {"", "0403", "0403:", ":6001", "0403:6001x", "04030:6001", "0x0403:6001", "g:1",
                           "-1:6001"}) {
    std::string error;
    EXPECT_FALSE(ParseUsbFilter(text, error)) << text;
    EXPECT_NE(error.find("VID:PID[:SERIAL]"), std::string::npos) << text;
  }
}

}  // namespace
