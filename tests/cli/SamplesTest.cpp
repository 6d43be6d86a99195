#include <gtest/gtest.h>

#include <QString>
#include <string>

#include "common/Process.h"
#include "common/TestSupport.h"

namespace {

const char* const kSamples[] = {"blink", "chase"};
// hello only talks on its UART: no EEPROM or ID bytes to load.
const char* const kAssembled[] = {"blink", "chase", "hello"};

// Program memory below 0x8000 as a reference reader sees it, 0xFF elsewhere.
const char kProgramMemory[] =
    "import sys\n"
    "from intelhex import IntelHex\n"
    "h = IntelHex(sys.argv[1])\n"
    "assert max(h.addresses()) >= 0xF00000, 'no EEPROM bytes'\n"
    "sys.stdout.buffer.write(bytes(h.tobinarray(start=0, size=0x8000)))\n";

TEST(Samples, CommittedHexFilesAreTheAssemblersOutput) {
  TempDir out;
  ProcessResult run = RunProgram("bash", {Q(SourcePath("samples/build-samples.sh")), Q(out.path())});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  for (const char* name : kAssembled) {
    std::string file = std::string(name) + ".hex";
    EXPECT_EQ(ReadFile(out.file(file)), ReadFile(SourcePath("samples/" + file))) << file;
  }
}

TEST(Samples, LoadWithOnlyTheirProgramMemoryInTheImage) {
  TempDir out;
  for (const char* name : kSamples) {
    std::string hex = SourcePath("samples/" + std::string(name) + ".hex");
    std::string text = ReadFile(hex);
    // Configuration, ID and EEPROM records are present, so the loader meets them.
    for (const char* area : {":020000040030CA", ":020000040020DA", ":0200000400F00A"}) {
      EXPECT_NE(text.find(area), std::string::npos) << name << " lacks " << area;
    }
    std::string image = out.file(std::string(name) + ".bin");
    ProcessResult check = RunCli({"check", Q(hex), "--config", Q(SourcePath("samples/config.txt")),
                                  "--image-out", Q(image)});
    EXPECT_EQ(check.exitCode, 0) << name << check.err;
    ProcessResult reference = RunProgram(SystemPython(), {"-c", kProgramMemory, Q(hex)});
    ASSERT_EQ(reference.exitCode, 0) << reference.err;
    EXPECT_TRUE(ReadFile(image) == reference.out) << name;
    // Nothing reaches the bootloader at 0x7D00.
    EXPECT_EQ(reference.out.find_first_not_of('\xFF', 0x7D00), std::string::npos) << name;
  }
}

}  // namespace
