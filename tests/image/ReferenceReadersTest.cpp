#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "HexTestSupport.h"
#include "common/TestSupport.h"
#include "HexParser.h"

namespace {
constexpr int kFiles = 200;
constexpr int32_t kFlash = 0x20000;

// Random valid files written by python3-intelhex and srec_cat; our image and
// ProgramBytes must equal what those tools read back from the same files.
TEST(ReferenceReaders, SameImageAsIntelhexAndSrecCat) {
  TempDir dir;
  // Debian's interpreter: the intelhex module comes with the system package.
  const std::string command = "/usr/bin/python3 '" + SourcePath("tests/image/reference_hex.py") +
                              "' '" + dir.path() + "' " + std::to_string(kFiles) + " 20240 " +
                              std::to_string(kFlash);
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
  std::istringstream manifest(ReadFile(dir.file("manifest.txt")));
  std::string name;
  int32_t programBytes = 0;
  int checked = 0;
  while (manifest >> name >> programBytes) {
    AppState state = PreparedState(kFlash);
    RecordingDialogs dialogs;
    ASSERT_TRUE(ParseHexFile(state, dir.file(name), dialogs))
        << name << ": " << (dialogs.messages.empty() ? "" : dialogs.messages[0]);
    const std::string expected = ReadFile(dir.file(name.substr(0, name.size() - 4) + ".bin"));
    ASSERT_EQ(std::string(state.FlashImage.begin(), state.FlashImage.end()), expected) << name;
    ASSERT_EQ(state.ProgramBytes, programBytes) << name;
    ++checked;
  }
  EXPECT_EQ(checked, kFiles);
}
}  // namespace
