// The jump words are checked by an outside disassembler, not by our own
// reading of the instruction set.
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "common/HexText.h"
#include "common/Process.h"
#include "common/TestSupport.h"
#include "common/WorkedExample.h"
#include "DownloadFrame.h"

namespace {

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
    dir.write("jump.hex", HexText(std::vector<uint8_t>(state.DownloadFrame.begin() + 5, state.DownloadFrame.begin() + 13)));
    const ProcessResult gpdasm = RunProgram("gpdasm", {"-p", "p18f452", Q(dir.file("jump.hex"))});
    const std::string listing = gpdasm.out + gpdasm.err;

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
