#include <gtest/gtest.h>

#include <pty.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "common/Process.h"
#include "common/TestSupport.h"

namespace {

// The line of one port number in the listing.
std::string PortLine(const std::string& listing, const std::string& port) {
  const size_t at = listing.find("\n" + port + "  ");
  if (at == std::string::npos) return "";
  return listing.substr(at + 1, listing.find('\n', at + 1) - at - 1);
}

TEST(PortsCommand, ListsEveryNumberWithItsDeviceAndWhereItCameFrom) {
  ScopedUserDirs userDirs;
  int master = -1, slave = -1;
  char name[256];
  ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
  std::filesystem::create_directories(userDirs.portMapDir());
  std::filesystem::create_symlink(name, userDirs.portMapDir() + "/COM3");
  std::filesystem::create_symlink(userDirs.dir().file("unplugged"), userDirs.portMapDir() + "/COM5");

  ProcessResult run = RunCli({"ports"});
  close(slave);
  close(master);
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(PortLine(run.out, "COM3").rfind("COM3  " + std::string(name) + "  (port map)  ", 0), 0u) << run.out;
  EXPECT_EQ(PortLine(run.out, "COM5"), "COM5  " + userDirs.dir().file("unplugged") + "  (port map)  missing")
      << run.out;
  for (int port = 1; port <= 12; ++port) {
    EXPECT_NE(PortLine(run.out, "COM" + std::to_string(port)), "") << port << run.out;
  }
  EXPECT_EQ(RunCli({"ports", "extra"}).exitCode, 2);
}

}  // namespace
