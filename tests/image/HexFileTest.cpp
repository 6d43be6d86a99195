#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "HexTestSupport.h"
#include "common/TestSupport.h"
#include "HexParser.h"

namespace {
std::string ReadFailure(const std::string& path, AppState& state) {
  RecordingDialogs dialogs;
  EXPECT_FALSE(ParseHexFile(state, path, dialogs)) << path;
  return dialogs.messages.size() == 1 ? dialogs.messages[0] : "not one box";
}

TEST(HexFile, UnreadableFilesNameTheFileAndTheReason) {
  TempDir dir;
  AppState state = PreparedState();
  const std::string missing = dir.file("gone.hex");
  EXPECT_EQ(ReadFailure(missing, state),
            "Cannot read the program file " + missing + ": No such file or directory");
  EXPECT_EQ(ReadFailure(dir.path(), state),
            "Cannot read the program file " + dir.path() + ": Is a directory");
  // A pipe would block the reader until someone writes to it.
  const std::string pipe = dir.file("pipe.hex");
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  EXPECT_EQ(ReadFailure(pipe, state),
            "Cannot read the program file " + pipe + ": not a regular file");
  EXPECT_EQ(ReadFailure(std::string("a\0b", 3), state).find("NUL character") != std::string::npos,
            true);
  // A regular file whose first read fails: one box with the reason, and the
  // parse ends there instead of asking again.
  EXPECT_EQ(ReadFailure("/proc/self/mem", state),
            "Cannot read the program file /proc/self/mem: Input/output error");
  EXPECT_EQ(ReadFailure("/dev/zero", state),
            "Cannot read the program file /dev/zero: not a regular file");
  EXPECT_EQ(state.ProgramBytes, 0);
}

TEST(HexFile, NoPermission) {
  if (geteuid() == 0) GTEST_SKIP() << "root reads every file";
  TempDir dir;
  dir.write("locked.hex", EndRecord());
  const std::string path = dir.file("locked.hex");
  ASSERT_EQ(chmod(path.c_str(), 0), 0);
  AppState state = PreparedState();
  EXPECT_EQ(ReadFailure(path, state),
            "Cannot read the program file " + path + ": Permission denied");
}

std::string WholeImagePass(int32_t flashSize, uint8_t offset) {
  std::string pass;
  for (int32_t address = 0; address < flashSize; address += 16) {
    pass += Record(0, static_cast<uint16_t>(address),
                   std::vector<uint8_t>(16, static_cast<uint8_t>(address + offset)));
    pass += "\r\n";
  }
  return pass;
}

// 50 MB of 16-byte records writing the whole image again and again; the
// last pass writes a different pattern, which must win.
TEST(HexFile, FiftyMegabytesOfValidRecords) {
  TempDir dir;
  const std::string path = dir.file("big.hex");
  constexpr int32_t kFlash = 0x8000;
  const std::string pass = WholeImagePass(kFlash, 0);
  {
    std::ofstream out(path, std::ios::binary);
    for (size_t written = 0; written < (50u << 20); written += pass.size()) out << pass;
    out << WholeImagePass(kFlash, 1) << EndRecord() << "\r\n";
  }
  AppState state = PreparedState(kFlash);
  RecordingDialogs dialogs;
  ASSERT_TRUE(ParseHexFile(state, path, dialogs));
  EXPECT_TRUE(dialogs.messages.empty());
  EXPECT_EQ(state.ProgramBytes, kFlash);
  EXPECT_EQ(state.FlashImage[0], 1);
  EXPECT_EQ(state.FlashImage[0x7FF0], 0xF1);
}
}  // namespace
