#include <gtest/gtest.h>

#include <filesystem>

#include "common/TestSupport.h"
#include "PortMap.h"

namespace fs = std::filesystem;

namespace {

class PortMapTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(devDir);
    fs::create_directories(mapDir);
    for (const char* name : {"ttyS10", "ttyS2", "ttyS0", "ttyACM0", "ttyUSB1", "ttyUSB0", "ttyS",
                             "ttySx1", "tty0", "ttyUSB1a", "console", "ttyACM01x"}) {
      dirs.write("dev/" + std::string(name), "");
      listed.push_back(devDir + "/" + name);
    }
  }

  TempDir dirs;
  std::string devDir = dirs.file("dev");
  std::string mapDir = dirs.file("ports");
  std::vector<std::string> listed;  // as the serial layer lists them, in its order
};

TEST_F(PortMapTest, DefaultRuleCountsUsbThenAcmThenOnBoardInNumericOrder) {
  const std::vector<std::string> expected = {devDir + "/ttyUSB0", devDir + "/ttyUSB1",
                                             devDir + "/ttyACM0", devDir + "/ttyS0",
                                             devDir + "/ttyS2",   devDir + "/ttyS10"};
  EXPECT_EQ(DefaultPortDevices(listed), expected);
  for (size_t n = 1; n <= expected.size(); ++n) {
    EXPECT_EQ(ResolvePortDevice(static_cast<int>(n), mapDir, listed), expected[n - 1]);
  }
  for (int n : {0, -1, 7, 1000}) EXPECT_EQ(ResolvePortDevice(n, mapDir, listed), "") << n;
  EXPECT_TRUE(DefaultPortDevices({}).empty());
}

// Only what the serial layer lists counts: a ttyS0 node with no UART behind
// it is no port, so with no adapter plugged in there is no COM1 at all.
TEST_F(PortMapTest, DeviceNodesThatAreNotListedAreNoPorts) {
  EXPECT_EQ(ResolvePortDevice(1, mapDir, {}), "");
  EXPECT_EQ(ResolvePortDevice(1, mapDir, {devDir + "/ttyS2"}), devDir + "/ttyS2");
  EXPECT_EQ(ResolvePortDevice(2, mapDir, {devDir + "/ttyS2"}), "");
}

TEST_F(PortMapTest, ALinkInTheMapOverridesTheDefaultRule) {
  fs::create_symlink(devDir + "/ttyS10", mapDir + "/COM1");
  fs::create_symlink("../dev/ttyACM0", mapDir + "/COM2");           // relative to the map
  fs::create_symlink(dirs.file("gone/ttyUSB9"), mapDir + "/COM3");  // device not present
  fs::create_symlink(mapDir + "/COM1", mapDir + "/COM4");           // a chain of links
  for (const char* name : {"COM01", "COM99999"}) fs::create_symlink(devDir + "/ttyS0", mapDir + "/" + name);

  EXPECT_EQ(ResolvePortDevice(1, mapDir, listed), devDir + "/ttyS10");
  EXPECT_EQ(ResolvePortDevice(2, mapDir, listed), devDir + "/ttyACM0");
  EXPECT_EQ(ResolvePortDevice(3, mapDir, listed), dirs.file("gone/ttyUSB9"));
  EXPECT_EQ(ResolvePortDevice(4, mapDir, listed), devDir + "/ttyS10");
  EXPECT_EQ(ResolvePortDevice(5, mapDir, listed), devDir + "/ttyS2");  // no link: the rule
  EXPECT_EQ(ResolvePortDevice(0, mapDir, listed), "");
  // The links that name a device, and only those a port number opens.
  std::vector<int> mapped;
  for (const MappedPort& port : MappedPorts(mapDir)) mapped.push_back(port.port);
  EXPECT_EQ(mapped, (std::vector<int>{1, 2, 4}));
}

}  // namespace
