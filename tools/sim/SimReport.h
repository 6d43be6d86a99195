#pragma once
// What the simulator says about a finished transfer: the check against the
// HEX file the host was given, and the dump of programmed memory.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "AppState.h"
#include "SimDevice.h"

// The HEX file as the host loads it, and what the frame must then carry.
struct Expectation {
  std::vector<uint8_t> image;  // FlashSize bytes, 0xFF where the file has none
  int32_t programBytes = 0;    // before rounding up to the erase block
  int32_t eraseBlock = 0;      // 0: round by the transfer's header
  int32_t bootloaderAddress = 0;
};

// Parses the file with the host's own parser; false with the reason.
bool LoadExpectation(const std::string& path, const DeviceDescription& device,
                     Expectation& expectation, std::string& error);

struct TransferCheck {
  bool ok = false;
  std::string text;  // one line: "verified: ..." or what differs first
};

TransferCheck VerifyTransfer(const Expectation& expectation, const FlashModel& memory,
                       const TransferRecord& transfer);

// "transfer complete: N bytes in T s (R bytes/s)"
std::string CompletionLine(int bytes, double seconds);
// The host closed the line in the middle of a transfer.
std::string IncompleteLine(const TransferRecord& transfer);

// Checks a finished transfer against the expectation (when there is one) and
// dumps the memory (when dumpPath is set); the lines to print, and whether
// it passed.
bool ReportTransfer(const Expectation* expectation, const FlashModel& memory,
                    const TransferRecord& transfer, const std::string& dumpPath,
                    std::vector<std::string>& lines);

struct HexSegment {
  int64_t address = 0;
  std::vector<uint8_t> bytes;
};

// Intel HEX text: 16-byte data records, type 04 records above 64 KiB.
std::string IntelHexText(const std::vector<HexSegment>& segments);

// The runs of written bytes, in address order.
std::vector<HexSegment> WrittenSegments(const FlashModel& memory);

// PATH gets the programmed memory (the jump words at 0..7, as on the chip);
// PATH.relocated gets the eight relocated bytes at addresses 0..7, so that
// laying it over PATH gives the program as the user's file had it.
bool WriteDump(const std::string& path, const FlashModel& memory,
               const std::array<uint8_t, 8>& relocated, std::string& error);
