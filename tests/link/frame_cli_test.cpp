// zentrel-cli frame writes what the download command builds in-process.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "common/Process.h"
#include "common/TestSupport.h"
#include "ProgramLoader.h"
#include "DownloadFrame.h"
#include "DeviceDescription.h"

namespace {

int RunFrame(const QStringList& args, std::string* out = nullptr) {
  const ProcessResult run = RunCli(QStringList{"frame"} + args);
  if (out != nullptr) *out = run.out;
  return run.exitCode;
}

std::string FrameInProcess(const std::string& sample) {
  AppState state;
  std::string error;
  EXPECT_TRUE(ReadDeviceDescription(SourcePath("samples/config.txt"), state.Device, error)) << error;
  state.LastPath = SourcePath("samples/");
  RecordingDialogs dialogs;
  RecordingControls controls;
  EXPECT_EQ(LoadProgramFile(state, sample, dialogs, controls), LoadOutcome::Loaded);
  state.LinkState = 1;
  EXPECT_EQ(BuildDownloadFrame(state), "");
  return std::string(state.DownloadFrame.begin() + 1, state.DownloadFrame.end());
}

TEST(FrameCommand, WritesTheFrameOfTheBundledSamples) {
  for (const std::string sample : {"blink.hex", "chase.hex"}) {
    TempDir dir;
    const int status = RunFrame({QString::fromStdString(SourcePath("samples/" + sample)), "--out",
                                 QString::fromStdString(dir.file("frame.bin")), "--config",
                                 QString::fromStdString(SourcePath("samples/config.txt"))});
    SCOPED_TRACE(sample);
    EXPECT_EQ(status, 0);
    const std::string expected = FrameInProcess(sample);
    EXPECT_GT(expected.size(), 12u);
    EXPECT_EQ(ReadFile(dir.file("frame.bin")), expected);
    // "-", or any name of stdout's file: the bytes alone on stdout, every
    // text line on stderr.
    for (const char* name : {"-", "/dev/stdout", "/proc/self/fd/1"}) {
      std::string out;
      EXPECT_EQ(RunFrame({QString::fromStdString(SourcePath("samples/" + sample)), "--out", name,
                          "--config", QString::fromStdString(SourcePath("samples/config.txt"))},
                         &out),
                0);
      EXPECT_EQ(out, expected) << name;
    }
  }
}

TEST(FrameCommand, ExitStatusSaysWhatWentWrong) {
  TempDir dir;
  dir.write("divides-not.txt",
            "model:X\nflash:32768\neeprom:256\neraseblock:64\nprogramblock:24\nbootloader:007D00\n");
  dir.write("faulty.hex", ":0400000001020304F1\n:00000001FF\n");  // bad checksum
  const QString sample = QString::fromStdString(SourcePath("samples/blink.hex"));
  const QString out = QString::fromStdString(dir.file("frame.bin"));
  const QString config = QString::fromStdString(SourcePath("samples/config.txt"));

  EXPECT_EQ(RunFrame({sample, "--out", out, "--config",
                      QString::fromStdString(dir.file("divides-not.txt"))}),
            3);
  EXPECT_EQ(RunFrame({QString::fromStdString(dir.file("faulty.hex")), "--out", out, "--config", config}),
            1);
  EXPECT_EQ(RunFrame({sample, "--out", out, "--config", QString::fromStdString(dir.file("none.txt"))}), 2);
  EXPECT_EQ(RunFrame({sample, "--config", config}), 2);  // no --out
  EXPECT_FALSE(std::filesystem::exists(dir.file("frame.bin")));
}

}  // namespace
