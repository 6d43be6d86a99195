// The reference host for link benchmarks: the least a host can do per byte.
// Opens the device raw, waits for the signal 0x55, answers it, then for each
// frame byte writes it and reads its echo, blocking. Prints bytes, seconds
// and bytes/s, so that a real host's rate can be set against it.
//
//   reference_loop DEVICE FILE.hex [--config PATH]   frame built as the window builds it
//   reference_loop DEVICE --frame FILE               frame written by zentrel-cli frame
//
// Pair it with zentrel-sim --signal-interval 0, so that no repeated signal
// meets the frame.
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "ProgramLoader.h"
#include "DownloadFrame.h"
#include "DeviceDescription.h"

namespace {
constexpr int kSignalWaitMs = 10000;
constexpr int kEchoWaitMs = 2000;

// The loader reports through boxes and labels; here only faults matter.

bool FrameFromHex(const std::string& hexPath, const std::string& configPath,
                  std::vector<uint8_t>& frame, std::string& error) {
  AppState state;
  if (!ReadDeviceDescription(configPath, state.Device, error)) return false;
  MessageCollector dialogs;
  NoControls controls;
  if (LoadProgramFile(state, hexPath, dialogs, controls) != LoadOutcome::Loaded) {
    error = dialogs.messages.empty() ? "" : dialogs.messages.back();
    return false;
  }
  state.LinkState = 1;
  error = BuildDownloadFrame(state);
  if (!error.empty()) return false;
  frame.assign(state.DownloadFrame.begin() + 1, state.DownloadFrame.end());
  return true;
}

bool FrameFromFile(const std::string& path, std::vector<uint8_t>& frame, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  frame.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (in.bad() || !in.is_open() || frame.empty()) error = "cannot read a frame from " + path;
  return error.empty();
}

// config.txt sits beside the programs, as for the window.
std::string ProgramDir() {
  char path[4096];
  const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  const std::string self(path, length > 0 ? length : 0);
  return self.substr(0, self.rfind('/') + 1);
}

int OpenRaw(const std::string& device) {
  const int fd = open(device.c_str(), O_RDWR | O_NOCTTY);
  termios settings{};
  if (fd < 0 || tcgetattr(fd, &settings) != 0) return -1;
  cfmakeraw(&settings);
  return tcsetattr(fd, TCSANOW, &settings) == 0 ? fd : -1;
}

// The byte read, or -1 on time-out or a closed line.
int ReadByte(int fd, int timeoutMs) {
  pollfd entry{fd, POLLIN, 0};
  uint8_t value = 0;
  if (poll(&entry, 1, timeoutMs) <= 0 || read(fd, &value, 1) != 1) return -1;
  return value;
}

// 0 when every echo matched, else the number of the failing frame byte.
size_t SendFrame(int fd, const std::vector<uint8_t>& frame) {
  for (size_t k = 0; k < frame.size(); ++k) {
    if (write(fd, &frame[k], 1) != 1 || ReadByte(fd, kEchoWaitMs) != frame[k]) return k + 1;
  }
  return 0;
}

int Run(const std::string& device, const std::vector<uint8_t>& frame) {
  const int fd = OpenRaw(device);
  if (fd < 0) {
    std::perror(device.c_str());
    return 2;
  }
  int value = 0;
  while ((value = ReadByte(fd, kSignalWaitMs)) != 0x55 && value >= 0) {
  }
  const uint8_t answer = 0x55;
  if (value != 0x55 || write(fd, &answer, 1) != 1) {
    std::cerr << "no signal from the bootloader\n";
    close(fd);
    return 1;
  }
  const auto start = std::chrono::steady_clock::now();
  const size_t failed = SendFrame(fd, frame);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  close(fd);
  if (failed != 0) {
    std::cerr << "wrong or missing echo of byte " << failed << "/" << frame.size() << "\n";
    return 1;
  }
  std::printf("bytes %zu seconds %.4f bytes/s %.0f us/byte %.1f\n", frame.size(), seconds,
              frame.size() / seconds, seconds * 1e6 / frame.size());
  return 0;
}
}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  std::vector<uint8_t> frame;
  std::string error;
  bool ok = false;
  if (args.size() == 3 && args[1] == "--frame") {
    ok = FrameFromFile(args[2], frame, error);
  } else if (args.size() == 2 || (args.size() == 4 && args[2] == "--config")) {
    const std::string config = args.size() == 4 ? args[3] : ProgramDir() + "config.txt";
    ok = FrameFromHex(args[1], config, frame, error);
  } else {
    std::cerr << "usage: reference_loop DEVICE FILE.hex [--config PATH]\n"
                 "       reference_loop DEVICE --frame FILE\n";
    return 2;
  }
  if (!ok) {
    std::cerr << "reference_loop: " << error << "\n";
    return 2;
  }
  return Run(args[0], frame);
}
