// Parse throughput of the HEX reader on files that fill 2 MiB of program
// memory, against srec_cat and python3-intelhex reading the same files in
// the same run. Prints MB/s of HEX text and the ratios.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "AppState.h"
#include "Dialogs.h"
#include "HexParser.h"

namespace {
constexpr int32_t kFlash = 0x200000;
constexpr int kOurRuns = 7;
constexpr int kToolRuns = 3;

void AppendRecord(std::string& out, int type, uint32_t address, const uint8_t* data, size_t count) {
  const uint8_t head[4] = {static_cast<uint8_t>(count), static_cast<uint8_t>(address >> 8),
                           static_cast<uint8_t>(address), static_cast<uint8_t>(type)};
  unsigned sum = 0;
  char pair[3];
  out += ':';
  auto put = [&](uint8_t b) {
    sum += b;
    std::snprintf(pair, sizeof pair, "%02X", b);
    out += pair;
  };
  for (uint8_t b : head) put(b);
  for (size_t i = 0; i < count; ++i) put(data[i]);
  std::snprintf(pair, sizeof pair, "%02X", (0x100 - (sum & 0xFF)) & 0xFF);
  out += pair;
  out += "\r\n";
}

// Program memory 0 .. kFlash-1 in records of recordSize bytes, cut at every
// 64 KiB boundary, each boundary announced by a type 04 record.
std::string MakeHex(size_t recordSize) {
  std::vector<uint8_t> bytes(kFlash);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 131 + (i >> 9));
  std::string out;
  for (uint32_t upper = 0; upper < kFlash / 0x10000; ++upper) {
    const uint8_t ext[2] = {static_cast<uint8_t>(upper >> 8), static_cast<uint8_t>(upper)};
    AppendRecord(out, 4, 0, ext, 2);
    for (uint32_t low = 0; low < 0x10000; low += static_cast<uint32_t>(recordSize)) {
      const size_t count = std::min<size_t>(recordSize, 0x10000 - low);
      AppendRecord(out, 0, low, &bytes[upper * 0x10000 + low], count);
    }
  }
  out += ":00000001FF\r\n";
  return out;
}

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

double BestOurs(const std::string& path) {
  double best = 1e9;
  for (int run = 0; run < kOurRuns; ++run) {
    AppState state;
    state.Device.FlashSize = kFlash;
    state.FlashImage.assign(kFlash, 0xFF);
    MessageCollector dialogs;
    const auto start = Clock::now();
    const bool ok = ParseHexFile(state, path, dialogs);
    best = std::min(best, Seconds(start));
    if (!ok || state.ProgramBytes != kFlash) {
      std::fprintf(stderr, "our reader failed on %s\n", path.c_str());
      for (const std::string& text : dialogs.messages) std::fprintf(stderr, "%s\n", text.c_str());
      std::exit(1);
    }
  }
  return best;
}

// Wall time of a whole command, process start included.
double BestCommand(const std::string& command) {
  double best = 1e9;
  for (int run = 0; run < kToolRuns; ++run) {
    const auto start = Clock::now();
    if (std::system(command.c_str()) != 0) {
      std::fprintf(stderr, "failed: %s\n", command.c_str());
      std::exit(1);
    }
    best = std::min(best, Seconds(start));
  }
  return best;
}

// intelhex's own load time, measured inside python, start-up left out.
double BestIntelhex(const std::string& path) {
  const std::string command =
      "/usr/bin/python3 -c 'import sys, time\nfrom intelhex import IntelHex\nbest = 1e9\n"
      "for _ in range(" + std::to_string(kToolRuns) + "):\n    t = time.perf_counter()\n"
      "    IntelHex(sys.argv[1])\n    best = min(best, time.perf_counter() - t)\nprint(best)' '" +
      path + "'";
  FILE* pipe = popen(command.c_str(), "r");
  double seconds = -1;
  if (pipe == nullptr || std::fscanf(pipe, "%lf", &seconds) != 1 || pclose(pipe) != 0) {
    std::fprintf(stderr, "python3-intelhex failed\n");
    std::exit(1);
  }
  return seconds;
}

void Measure(const std::filesystem::path& dir, size_t recordSize) {
  const std::string path = (dir / ("records" + std::to_string(recordSize) + ".hex")).string();
  const std::string text = MakeHex(recordSize);
  std::ofstream(path, std::ios::binary) << text;
  const double megabytes = static_cast<double>(text.size()) / 1e6;
  const double ours = BestOurs(path);
  const double srec = BestCommand("srec_cat '" + path + "' -intel -o /dev/null -binary");
  const double intelhex = BestIntelhex(path);
  std::printf("%3zu-byte records, %.2f MB of HEX text:\n", recordSize, megabytes);
  std::printf("  ours      %8.1f MB/s\n", megabytes / ours);
  std::printf("  srec_cat  %8.1f MB/s   ours/srec_cat = %.1f\n", megabytes / srec, srec / ours);
  std::printf("  intelhex  %8.1f MB/s   ours/intelhex = %.1f\n", megabytes / intelhex,
              intelhex / ours);
}
}  // namespace

int main() {
  const auto dir = std::filesystem::temp_directory_path() /
                   ("zentrel-hex-bench-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  Measure(dir, 16);
  Measure(dir, 255);
  std::filesystem::remove_all(dir);
  return 0;
}
