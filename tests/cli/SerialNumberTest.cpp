// Unit numbers: where one may go, and a counter that never hands out a
// number twice, however many processes share it. (How one is written into
// the image, the download test reads back from the simulator's memory.)
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <set>
#include <sstream>

#include "SerialNumber.h"
#include "common/TestSupport.h"

namespace {

TEST(SerialNumberPlace, TextAndAreaAreCheckedBeforeAnythingIsSent) {
  struct Row {
    const char* text;
    const char* refusal;  // "" when the place is good in a program area of 0x400 bytes
  };
  const Row rows[] = {{"100:1000", ""},
                      {"0x3FC:1:4", ""},
                      {"8:255:1", ""},
                      {"3F8:9223372036854775807:8", ""},
                      {"7:1", "jump to the bootloader"},
                      {"3FD:1:4", "outside the program area"},
                      {"400:1:1", "outside the program area"},
                      {"10:256:1", "does not fit in 1 byte"},
                      {"10:9223372036854775808:8", "does not fit"},
                      {"10:4294967296", "does not fit in 4 bytes"}};
  for (const Row& row : rows) {
    std::string error;
    const auto place = ParseSerialNumberPlace(row.text, error);
    ASSERT_TRUE(place) << row.text << ": " << error;
    const std::string refusal = CheckSerialNumberPlace(*place, 0x400);
    EXPECT_EQ(refusal.empty(), std::string(row.refusal).empty()) << row.text << ": " << refusal;
    EXPECT_NE(refusal.find(row.refusal), std::string::npos) << row.text << ": " << refusal;
  }
  for (const char* bad : {"", "100", "100:", "x:1", "100:1:0", "100:1:9", "100:-1", "100:1:4:5", "0x:1", "-10:1", "7FFFFFFFFFFFFFFF:1:8"}) {
    std::string error;
    EXPECT_FALSE(ParseSerialNumberPlace(bad, error)) << bad;
    EXPECT_NE(error.find("ADDR:FIRST[:BYTES]"), std::string::npos) << bad;
  }
}

TEST(SerialCounter, StartsAtFirstAndNeverGoesBack) {
  TempDir dir;
  SerialCounter counter(dir.file("state/numbers"));  // the folder is made
  std::string error;
  const SerialNumberPlace from1000{0x100, 1000, 2};
  EXPECT_EQ(counter.Peek(from1000, error), 1000u) << error;
  EXPECT_EQ(counter.Take(from1000, error), 1000u) << error;
  EXPECT_EQ(counter.Take(from1000, error), 1001u);
  EXPECT_EQ(ReadFile(dir.file("state/numbers")), "1002\n");
  // A lower FIRST on a later run continues; a higher one jumps ahead.
  EXPECT_EQ(counter.Take(SerialNumberPlace{0x100, 5, 2}, error), 1002u);
  EXPECT_EQ(counter.Take(SerialNumberPlace{0x100, 65535, 2}, error), 65535u);
  // 65536 does not fit two bytes: refused, and nothing is taken.
  EXPECT_FALSE(counter.Take(from1000, error));
  EXPECT_NE(error.find("does not fit in 2 bytes"), std::string::npos) << error;
  EXPECT_EQ(ReadFile(dir.file("state/numbers")), "65536\n");
}

TEST(SerialCounter, ACounterThatHoldsNoNumberIsRefusedAndKept) {
  TempDir dir;
  for (const char* content : {"", "12x\n", "-3\n", "99999999999999999999999\n"}) {
    dir.write("numbers", content);
    SerialCounter counter(dir.file("numbers"));
    std::string error;
    EXPECT_FALSE(counter.Take(SerialNumberPlace{0x100, 1, 4}, error)) << content;
    EXPECT_NE(error.find("holds no number"), std::string::npos) << error;
    EXPECT_EQ(ReadFile(dir.file("numbers")), content);
  }
}

// Processes that take numbers at the same time from one file: every number
// is handed out once, and the counter ends past all of them.
TEST(SerialCounter, ProcessesSharingOneFileNeverGetTheSameNumber) {
  TempDir dir;
  const std::string path = dir.file("numbers");
  constexpr int kProcesses = 6, kEach = 40;
  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    const pid_t child = fork();
    if (child == 0) {
      SerialCounter counter(path);
      std::ostringstream taken;
      std::string error;
      for (int i = 0; i < kEach; ++i) {
        const auto number = counter.Take(SerialNumberPlace{0x100, 7, 4}, error);
        if (!number) _exit(1);
        taken << *number << "\n";
      }
      dir.write("numbers." + std::to_string(p), taken.str());
      _exit(0);
    }
    children.push_back(child);
  }
  for (pid_t child : children) {
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  std::set<uint64_t> numbers;
  for (int p = 0; p < kProcesses; ++p) {
    std::istringstream taken(ReadFile(path + "." + std::to_string(p)));
    for (uint64_t number; taken >> number;) EXPECT_TRUE(numbers.insert(number).second) << number << " twice";
  }
  EXPECT_EQ(numbers.size(), size_t{kProcesses * kEach});
  EXPECT_EQ(*numbers.begin(), 7u);
  EXPECT_EQ(*numbers.rbegin(), 7u + kProcesses * kEach - 1);
  EXPECT_EQ(ReadFile(path), std::to_string(7 + kProcesses * kEach) + "\n");
}

}  // namespace
