#pragma once
// A PIC18 in gpsim running firmware instruction by instruction, its UART
// pins reached as a serial line: bytes go onto RX bit by bit at the baud
// rate the chip's registers set, and TX is decoded from the pin's levels.
// Nothing of gpsim shows in this header.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// What the part is, where gpsim does not know it or knows it wrong: its
// device template's values.
struct ChipSetup {
  int writeBlock = 0;         // flash write block in bytes; 0 keeps gpsim's (8)
  int64_t programBytes = 0;   // program memory; 0 takes gpsim's
  std::string txPin = "RC6";  // the UART pins, as a template's uart: line names them
  std::string rxPin = "RC7";
  int64_t flashFault = -1;    // a byte that never takes a write; -1 none
};

// The value a cell holds erased, as on a chip.
inline constexpr uint8_t kErasedByte = 0xFF;

class ChipModel {
 public:
  ChipModel();
  ~ChipModel();
  ChipModel(const ChipModel&) = delete;
  ChipModel& operator=(const ChipModel&) = delete;

  // chip: a gpsim processor name such as p18f452 (PIC18F452 is accepted);
  // firmware: Intel HEX or .cod. False with the reason.
  bool Load(const std::string& chip, const std::string& firmware, const ChipSetup& setup,
            std::string& error);

  // A power-on reset: the program starts again, flash keeps what it holds.
  void Reset();
  uint64_t Cycle() const;
  // Instruction cycles a second (the crystal over four).
  double CyclesPerSecond() const;
  // Runs the chip until cycle.
  void RunTo(uint64_t cycle);
  // Runs the chip until it is about to execute the instruction at address,
  // or until cycle.
  void RunToAddress(uint64_t cycle, uint32_t address);

  // Puts a byte on RX after those still going out.
  void Send(uint8_t value);
  // Bytes decoded from TX up to the current cycle.
  std::vector<uint8_t> TakeReceived();
  // The cycle by which a byte in progress on TX is complete, or by which RX
  // needs its next bit: the chip must run at least that far to go on.
  uint64_t NextLineEvent() const;

  // Program memory, byte by byte from address 0, and its size.
  std::vector<uint8_t> ProgramMemory() const;
  int64_t ProgramBytes() const;

  struct Parts;

 private:
  std::unique_ptr<Parts> parts_;
};

// The gpsim name for a chip given as p18f452, 18F452 or PIC18F452.
std::string GpsimChipName(const std::string& chip);
