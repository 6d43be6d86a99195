#pragma once
// A unit number written into every board's image: where it goes, and the
// counter file that hands out each number once, whatever fails and however
// many stations share the file.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// --serial-number ADDR:FIRST[:BYTES]: ADDR in hexadecimal (0x optional),
// FIRST and BYTES in decimal; BYTES 1 to 8, default 4.
struct SerialNumberPlace {
  int64_t address = 0;
  uint64_t first = 0;
  int bytes = 4;
};

std::optional<SerialNumberPlace> ParseSerialNumberPlace(const std::string& text, std::string& error);

// "" when the number lies in the program area that the frame carries
// (programArea bytes from 0) and outside the jump words at 0..7, and first
// fits; the reason otherwise.
std::string CheckSerialNumberPlace(const SerialNumberPlace& place, int64_t programArea);

bool NumberFits(uint64_t number, int bytes);

// Writes number at place.address, least significant byte first.
void WriteSerialNumber(std::vector<uint8_t>& image, const SerialNumberPlace& place, uint64_t number);

// The counter: a text file holding the next number to give. A number is
// taken under a lock (on PATH.lock, which is never replaced) and the next
// one is on the disk before the number is handed out; so a number handed
// out is never handed out again, even after a crash or a power cut.
class SerialCounter {
 public:
  explicit SerialCounter(std::string path) : path_(std::move(path)) {}
  const std::string& path() const { return path_; }

  // The number that Take would give now, at least first; nothing, with the
  // reason, when the file cannot be read or the number does not fit.
  std::optional<uint64_t> Peek(const SerialNumberPlace& place, std::string& error) const;
  // Takes the next number, at least place.first, and stores the one after.
  std::optional<uint64_t> Take(const SerialNumberPlace& place, std::string& error);

 private:
  std::optional<uint64_t> Next(const SerialNumberPlace& place, std::string& error) const;
  bool Store(uint64_t next, std::string& error);

  std::string path_;
};

// $XDG_STATE_HOME/quorvel-zentrel/serial-number (XDG_STATE_HOME absolute,
// else ~/.local/state).
std::string DefaultSerialFile();
