// The jump words are checked by an outside disassembler, not by our own
// reading of the instruction set.
#include <gtest/gtest.h>

#include <cstdio>
#include <regex>
#include <string>

#include "common/TestSupport.h"
#include "frame_fixture.h"
#include "DownloadFrame.h"

namespace {

// One data record at address 0 and the end record.
std::string HexFileOf(const std::vector<uint8_t>& bytes) {
  char field[3];
  unsigned sum = static_cast<unsigned>(bytes.size());
  std::string line = ":";
  std::snprintf(field, sizeof field, "%02X", static_cast<unsigned>(bytes.size()));
  line += field;
  line += "000000";
  for (uint8_t byte : bytes) {
    std::snprintf(field, sizeof field, "%02X", byte);
    line += field;
    sum += byte;
  }
  std::snprintf(field, sizeof field, "%02X", (0x100 - sum % 0x100) % 0x100);
  return line + field + "\n:00000001FF\n";
}

std::string RunCommand(const std::string& command) {
  std::string output;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return output;
  char buffer[256];
  while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) output += buffer;
  pclose(pipe);
  return output;
}

TEST(DownloadFrameDisassembly, JumpWordsReadAsBsfGotoNop) {
  struct Row {
    int32_t bootloader;
    const char* target;
  };
  // Targets inside the 32 KiB of the device that the disassembler knows.
  const Row rows[] = {{0x7D00, "0x0*7d00"}, {0x7D02, "0x0*7d02"}, {0x0800, "0x0*800"}};
  for (const Row& row : rows) {
    AppState state = ExampleState();
    state.Device.BootloaderAddress = row.bootloader;
    ASSERT_EQ(BuildDownloadFrame(state), "");
    TempDir dir;
    dir.write("jump.hex", HexFileOf({state.DownloadFrame.begin() + 5, state.DownloadFrame.begin() + 13}));
    const std::string listing = RunCommand("gpdasm -p p18f452 '" + dir.file("jump.hex") + "' 2>&1");

    SCOPED_TRACE(listing);
    const auto has = [&](const std::string& pattern) {
      return std::regex_search(listing, std::regex(pattern, std::regex::icase));
    };
    EXPECT_TRUE(has(R"(000000:\s+8ed0\s+bsf\s+(0xd0|rcon),\s*(0x0*7|7|ipen)(,\s*(0x0|0|access|a))?\s*\n)"));
    EXPECT_TRUE(has(std::string(R"(000002:\s+\w+\s+goto\s+)") + row.target + R"(\s*\n)"));
    EXPECT_TRUE(has(R"(000006:\s+0000\s+nop\s*\n)"));
  }
}

}  // namespace
