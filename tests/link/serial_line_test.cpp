#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTest>
#include <cstdio>
#include <fstream>
#include <vector>

#include "common/TestSupport.h"
#include "QtSerialLine.h"
#include "common/Pty.h"

namespace {

const char kLine[] = "19200,n,8,1";

std::string AllByteValues() {
  std::string bytes;
  for (int v = 0; v < 256; ++v) bytes += static_cast<char>(v);
  return bytes;
}

// Reads through the line as a host with its own loop does.
std::string ReceiveThroughLine(QtSerialLine& line, size_t count) {
  std::string received;
  line.onReceive = [&] { received += line.ReadAll(); };
  for (int tries = 0; received.size() < count && tries < 100; ++tries) line.WaitForInput(50);
  return received;
}

class SerialLineTest : public ::testing::Test {
 protected:
  void SetUp() override { MapPorts(dirs.portMapDir(), {{3, &pty}}); }

  ScopedUserDirs dirs;
  Pty pty;
  QtSerialLine line{dirs.portMapDir()};
};

TEST_F(SerialLineTest, EveryByteValuePassesBothWaysUnaltered) {
  std::string error;
  ASSERT_TRUE(line.Open(3, kLine, error)) << error;
  EXPECT_EQ(line.DevicePath(), pty.devicePath());

  pty.Send(AllByteValues());
  EXPECT_EQ(ReceiveThroughLine(line, 256), AllByteValues());

  for (int v = 0; v < 256; ++v) line.WriteByte(static_cast<uint8_t>(v));
  EXPECT_EQ(pty.Receive(256), AllByteValues());
  EXPECT_EQ(line.ReadAll(), "");
}

TEST_F(SerialLineTest, RefusesWhatItCannotOpenWithAReason) {
  struct Case {
    int number;
    std::string settings;
    std::string reason;
  };
  const Case cases[] = {
      {3, "abc,n,8,1", "baud rate"},
      {3, "0,n,8,1", "baud rate"},
      {3, " 19200,n,8,1", "baud rate"},
      {3, "99999999999,n,8,1", "baud rate"},
      {3, "19200,N,8,1", "parity"},
      {3, "19200,x,8,1", "parity"},
      {3, "19200,n,9,1", "data bits"},
      {3, "19200,n,4,1", "data bits"},
      {3, "19200,n,8,3", "stop bits"},
      {3, "19200,n,8", "expected"},
      {3, "", "expected"},
      {3, "19200,n,8,1,", "expected"},
      {70000, kLine, "out of range"},
      {-40000, kLine, "out of range"},
      {0, kLine, "no device is mapped to COM0"},
      {4, kLine, "COM4: " + dirs.portMapDir() + "/nothing: device not found"},
  };
  for (const Case& c : cases) {
    std::string error;
    EXPECT_FALSE(line.Open(c.number, c.settings, error)) << c.settings;
    EXPECT_NE(error.find(c.reason), std::string::npos)
        << c.number << " " << c.settings << ": " << error;
    EXPECT_FALSE(line.IsOpen());
  }
  std::string error;
  EXPECT_FALSE(line.OpenDevice("", kLine, error));
  EXPECT_EQ(error, "no device given");
}

TEST_F(SerialLineTest, AcceptsEveryValidLineSetting) {
  for (const char* settings : {"9600,e,7,1", "115200,o,8,2", "300,m,5,1.5", "57600,s,6,1"}) {
    std::string error;
    EXPECT_TRUE(line.Open(3, settings, error)) << settings << ": " << error;
    line.Close();
  }
}

// One owner per device, whatever name reaches it: the number, the real path,
// another link to it.
TEST_F(SerialLineTest, ASecondOpenOfTheSameDeviceIsBusyUnderAnyName) {
  const std::string link = dirs.dir().file("board");
  ASSERT_EQ(symlink(pty.devicePath().c_str(), link.c_str()), 0);
  std::string error;
  ASSERT_TRUE(line.OpenDevice(link, kLine, error)) << error;
  std::string program = ReadFile("/proc/self/comm");
  program.pop_back();  // its line end
  const std::string holder = "busy, in use by " + program + " (pid " + std::to_string(getpid()) + ", this program)";
  QtSerialLine other(dirs.portMapDir());
  EXPECT_FALSE(other.Open(3, kLine, error));
  EXPECT_NE(error.find(holder), std::string::npos) << error;
  for (const std::string& name : {pty.devicePath(), link}) {
    EXPECT_FALSE(other.OpenDevice(name, kLine, error)) << name;
    EXPECT_EQ(error, name + ": " + holder);
  }
  // The refused opens left the owner's line as it was.
  line.WriteByte(0x5A);
  EXPECT_EQ(pty.Receive(1), "\x5A");

  line.Close();
  EXPECT_TRUE(other.Open(3, kLine, error)) << error;
}

// "busy" names the holder wherever it can be found: a program with the
// device open that holds no lock, or the serial port's lock file; and says
// how to find one that cannot be seen.
TEST_F(SerialLineTest, BusyNamesTheHolderOrHowToFindIt) {
  const std::string device = pty.devicePath();
  EXPECT_NE(BusyReason(device).find("'sudo fuser -v " + device + "' names it"), std::string::npos);
  QProcess holder;
  holder.setStandardInputFile(QString::fromStdString(device));
  holder.start("sleep", {"30"});
  ASSERT_TRUE(holder.waitForStarted());
  const std::string gone = std::to_string(holder.processId());
  EXPECT_EQ(BusyReason(device), "busy, in use by sleep (pid " + gone + ")");
  holder.kill();
  holder.waitForFinished();

  const std::string lockFile = "/var/lock/LCK.." + device.substr(5).replace(3, 1, "_");
  if (access("/var/lock", W_OK) != 0) GTEST_SKIP() << "the lock folder is the system's";
  std::ofstream(lockFile) << gone << "\nzentrel\nhost\n";  // a program that has ended
  const std::string reason = LockFileReason(device);
  EXPECT_EQ(reason.rfind("busy: the lock file " + lockFile + " of zentrel (pid " + gone + "), which has ended", 0), 0u);
  EXPECT_NE(reason.find("; remove it: sudo rm " + lockFile), std::string::npos) << reason;
  std::remove(lockFile.c_str());
}

// The hint names the device's access, and a group to join only where that
// group may use the device.
TEST_F(SerialLineTest, PermissionDeniedNamesTheDevicesAccess) {
  const std::string device = dirs.dir().file("locked");
  dirs.dir().write("locked", "");
  const group* dialout = getgrnam("dialout");
  const gid_t usable = dialout != nullptr ? dialout->gr_gid : getegid();
  const std::string name = getgrgid(usable)->gr_name;
  ASSERT_TRUE(chown(device.c_str(), static_cast<uid_t>(-1), usable) == 0 || geteuid() != 0);
  for (const auto& [mode, join] : {std::pair{0660, true}, std::pair{0600, false}, std::pair{0640, false}}) {
    chmod(device.c_str(), static_cast<mode_t>(mode));
    const std::string reason = PermissionReason(device);
    EXPECT_EQ(reason.rfind("permission denied (-rw", 0), 0u) << reason;
    EXPECT_NE(reason.find(":" + name + ")"), std::string::npos) << reason;
    EXPECT_EQ(reason.find("add your user to the " + name + " group") != std::string::npos, join && usable != 0);
  }
  if (geteuid() == 0) return;  // root opens any device
  chmod(device.c_str(), 0);
  std::string error;
  EXPECT_FALSE(line.OpenDevice(device, kLine, error));
  EXPECT_EQ(error, device + ": " + PermissionReason(device));
}

TEST_F(SerialLineTest, TheOtherEndGoingAwayClosesTheLineOnce) {
  std::string error;
  ASSERT_TRUE(line.Open(3, kLine, error)) << error;
  int failures = 0;
  std::string why;
  line.onFailure = [&](const std::string& text) {
    ++failures;
    why = text;
    EXPECT_FALSE(line.IsOpen());
  };
  pty.CloseDeviceSide();
  QTest::qWait(300);

  EXPECT_EQ(failures, 1);
  EXPECT_FALSE(line.IsOpen());
  EXPECT_NE(why.find(pty.devicePath()), std::string::npos) << why;
  // A closed line takes writes and waits without harm.
  line.WriteByte(0x55);
  EXPECT_EQ(line.ReadAll(), "");
  EXPECT_FALSE(line.WaitForInput(10));
  EXPECT_EQ(failures, 1);
}

TEST_F(SerialLineTest, AHangUpWhileWaitingEndsTheWait) {
  std::string error;
  ASSERT_TRUE(line.Open(3, kLine, error)) << error;
  int failures = 0;
  line.onFailure = [&](const std::string&) { ++failures; };
  pty.CloseDeviceSide();
  for (int tries = 0; tries < 5; ++tries) EXPECT_FALSE(line.WaitForInput(50));
  EXPECT_EQ(failures, 1);
  EXPECT_FALSE(line.IsOpen());
}

TEST_F(SerialLineTest, AWriteAfterAHangUpClosesTheLineOnce) {
  std::string error;
  ASSERT_TRUE(line.Open(3, kLine, error)) << error;
  int failures = 0;
  line.onFailure = [&](const std::string&) { ++failures; };
  pty.CloseDeviceSide();
  line.WriteByte(0x55);
  line.WriteByte(0x55);
  QTest::qWait(100);
  EXPECT_EQ(failures, 1);
  EXPECT_FALSE(line.IsOpen());
}

TEST_F(SerialLineTest, WritingToAClosedLineDoesNothing) {
  line.WriteByte(0x55);
  std::string error;
  ASSERT_TRUE(line.Open(3, kLine, error)) << error;
  line.Close();
  line.Close();
  line.WriteByte(0x55);
  EXPECT_EQ(pty.Receive(1, 100), "");
}

TEST_F(SerialLineTest, BytesAlreadyWaitingCountAsInput) {
  std::string error;
  ASSERT_TRUE(line.Open(3, kLine, error)) << error;
  pty.Send("\x55");
  ASSERT_TRUE(line.WaitForInput(2000));  // arrives; left unread
  int receives = 0;
  line.onReceive = [&] { ++receives; };
  EXPECT_TRUE(line.WaitForInput(0));
  EXPECT_EQ(receives, 1);
  EXPECT_EQ(line.ReadAll(), "\x55");
}

// A host loop's reads and the event loop's reads share one stream, in order.
TEST_F(SerialLineTest, BytesReadByAWaitComeBeforeBytesTheEventLoopReads) {
  std::string error;
  ASSERT_TRUE(line.Open(3, kLine, error)) << error;
  EXPECT_FALSE(line.WaitForInput(0));
  EXPECT_TRUE(line.IsOpen());  // nothing waiting is not a hang-up
  pty.Send("A");
  ASSERT_TRUE(line.WaitForInput(2000));  // read; left unread by the host
  pty.Send("B");
  QTest::qWait(200);
  EXPECT_EQ(line.ReadAll(), "AB");
  pty.Send("C");
  ASSERT_TRUE(line.WaitForInput(2000));
  line.Close();
  EXPECT_EQ(line.ReadAll(), "");  // a closed line drops what it held
}

TEST_F(SerialLineTest, AResetPulseRefusedByThePtyLeavesTheLineWorking) {
  std::string error;
  const ResetSequence dtr{ResetStep{}};
  EXPECT_FALSE(line.PulseResetLine(dtr, error));
  EXPECT_NE(error.find("not open"), std::string::npos) << error;
  ASSERT_TRUE(line.Open(3, kLine, error)) << error;

  int failures = 0;
  line.onFailure = [&](const std::string&) { ++failures; };
  for (const char* text : {"dtr", "-rts:1:1"}) {
    error.clear();
    const ResetSequence sequence = *ParseResetSequence(text, error);
    if (!line.PulseResetLine(sequence, error)) {
      EXPECT_NE(error.find(LineName(sequence[0])), std::string::npos) << error;
    }
  }
  EXPECT_EQ(failures, 0);
  ASSERT_TRUE(line.IsOpen());
  line.WriteByte(0x11);
  EXPECT_EQ(pty.Receive(1), "\x11");
}

// The window's handler pumps events; what arrives meanwhile must still
// raise a receive once it has returned, or a last byte would wait forever.
TEST_F(SerialLineTest, BytesThatArriveWhileTheHandlerPumpsAreReceivedLater) {
  std::string error;
  ASSERT_TRUE(line.Open(3, kLine, error)) << error;
  std::vector<std::string> reads;
  line.onReceive = [&] {
    reads.push_back(line.ReadAll());
    if (reads.size() != 1) return;
    pty.Send("B");
    QElapsedTimer pumping;
    pumping.start();
    while (pumping.elapsed() < 200) QCoreApplication::processEvents();
  };
  pty.Send("A");
  QTest::qWait(500);
  EXPECT_EQ(reads, (std::vector<std::string>{"A", "B"}));
}

}  // namespace
