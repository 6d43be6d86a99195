#include "ChipModel.h"

#include <gpsim/16bit-processors.h>
#include <gpsim/breakpoints.h>
#include <gpsim/eeprom.h>
#include <gpsim/gpsim_time.h>
#include <gpsim/interface.h>
#include <gpsim/pic-processor.h>
#include <gpsim/processor.h>
#include <gpsim/sim_context.h>
#include <gpsim/stimuli.h>
#include <gpsim/trigger.h>

#include <algorithm>
#include <cctype>
#include <deque>
#include <fstream>

#include "UartBits.h"

// libgpsim calls these into the program that embeds it.
const char* gpsim_version() { return "0.31"; }
void quit_gui() {}
void exit_gpsim(int) {}

namespace {
// The firmware's default crystal.
constexpr double kCrystalHz = 20e6;

// Registers of the PIC18 UART, at the same addresses on every part here but
// BAUDCON, which the PIC18F1220 and PIC18F1320 have at 0xFAA (DS39605).
constexpr unsigned kTXSTA = 0xFAC, kSPBRG = 0xFAF, kSPBRGH = 0xFB0;
constexpr unsigned kBaudconAddresses[] = {0xFB8, 0xFAA};
constexpr unsigned kTXEN = 0x20, kTRMT = 0x02;
// The flash controller: EECON1 and its bits (the same on every PIC18 here).
constexpr unsigned kEECON1 = 0xFA6, kEEPGD = 0x80, kFREE = 0x10, kWR = 0x02;
// Bounds the wait for a transmitter to fall silent before a reset.
constexpr int kMostFramesDrained = 64;

void StartGpsimOnce() {
  static const bool started = [] {
    initialize_gpsim_core();
    initialization_is_complete();
    return true;
  }();
  (void)started;
}

Cycle_Counter& Cycles() { return get_cycles(); }

class HaltAtBreak : public TriggerObject {
 public:
  void callback() override { get_bp().halt(); }
};

// A line driver, the host's end of RX; also the idle pull-up on TX.
class LineDriver : public stimulus {
 public:
  LineDriver(const char* name, double impedance) : stimulus(name, 5.0, impedance) {
    bDriving = true;
    bDrivingState = true;
  }
  void getThevenin(double& v, double& z, double& c) override {
    v = bDrivingState ? 5.0 : 0.0;
    z = Zth;
    c = 0;
  }
  void Drive(bool high) {
    bDrivingState = high;
    if (snode) snode->update();
  }
};

unsigned ReadRegister(Processor* cpu, unsigned address) {
  Register* reg = cpu->registers[address];
  return reg ? reg->get_value() : 0;
}

// The line's bit time, as the chip's UART registers set it.
class UartRate {
 public:
  explicit UartRate(Processor* cpu) : cpu_(cpu) {
    for (unsigned address : kBaudconAddresses) {
      const Register* reg = cpu->registers[address];
      if (reg && reg->name().rfind("baudc", 0) == 0 && baudcon_ == 0) baudcon_ = address;
    }
  }
  // Instruction cycles per bit at the rate that TXSTA, SPBRG and BAUDCON set.
  uint64_t BitCycles() const {
    const bool brg16 = baudcon_ != 0 && (ReadRegister(cpu_, baudcon_) & 0x08) != 0;
    const bool brgh = (ReadRegister(cpu_, kTXSTA) & 0x04) != 0;
    uint64_t n = ReadRegister(cpu_, kSPBRG) & 0xFF;
    if (brg16) n |= (ReadRegister(cpu_, kSPBRGH) & 0xFF) << 8;
    // Crystal cycles a bit: 64, 16 or 4 (n + 1); four make an instruction cycle.
    const uint64_t perStep = brg16 ? (brgh ? 4 : 16) : (brgh ? 16 : 64);
    return std::max<uint64_t>(1, perStep * (n + 1) / 4);
  }

 private:
  Processor* cpu_;
  unsigned baudcon_ = 0;  // 0: the part has none
};

// Hears the TX pin and hands its levels to the decoder.
class PinListener : public IOPIN {
 public:
  PinListener(UartDecoder& decoder, const UartRate& rate)
      : IOPIN("zentrel_tx"), decoder_(decoder), rate_(rate) {}
  void set_nodeVoltage(double v) override {
    IOPIN::set_nodeVoltage(v);
    decoder_.Level(Cycles().get(), v > 2.5, rate_.BitCycles());
  }

 private:
  UartDecoder& decoder_;
  const UartRate& rate_;
};

// Clocks queued bytes onto RX, one bit a break, each byte at the rate the
// chip's registers set when its start bit goes out.
class RxClock : public TriggerObject {
 public:
  RxClock(LineDriver& line, const UartRate& rate) : line_(line), rate_(rate) {}
  void Send(uint8_t value) {
    const std::vector<bool> bits = UartFrameBits(value);
    bits_.insert(bits_.end(), bits.begin(), bits.end());
    if (next_ == kNever) Schedule(std::max(Cycles().get() + 1, lineFree_));
  }
  void callback() override {
    line_.Drive(bits_.front());
    bits_.pop_front();
    lineFree_ = Cycles().get() + bitCycles_;
    next_ = kNever;
    if (!bits_.empty()) Schedule(lineFree_);
  }
  // When the last queued bit has gone out; kNever when nothing is queued.
  uint64_t End() const { return next_ == kNever ? kNever : next_ + bits_.size() * bitCycles_; }
  void Clear() {
    bits_.clear();
    if (next_ != kNever) Cycles().clear_break(this);
    next_ = kNever;
    lineFree_ = 0;
    line_.Drive(true);
  }

 private:
  void Schedule(uint64_t cycle) {
    if (bits_.size() % 10 == 0) bitCycles_ = rate_.BitCycles();
    next_ = cycle;
    Cycles().set_break(cycle, this);
  }
  LineDriver& line_;
  const UartRate& rate_;
  std::deque<bool> bits_;
  uint64_t next_ = kNever;
  uint64_t lineFree_ = 0;
  uint64_t bitCycles_ = 1;
};
}  // namespace

// A program-memory byte that never takes a write, as a worn cell: an erase
// leaves kErasedByte in it, a write leaves what was there. It stands in for
// EECON1 in gpsim's register map (as gpsim's own register breakpoints do)
// to see each flash operation; gpsim carries the operation out before that
// write to EECON1 returns (it burns the 2 ms there).
class FlashFault : public BreakpointRegister {
 public:
  FlashFault(Processor* cpu, uint32_t address)
      : BreakpointRegister(cpu, nullptr, kEECON1, 0), cpu_(cpu), address_(address) {}
  void put(unsigned int value) override {
    const uint8_t before = Cell();
    BreakpointRegister::put(value);
    Settle(before, value);
  }
  void put_value(unsigned int value) override {
    const uint8_t before = Cell();
    BreakpointRegister::put_value(value);
    Settle(before, value);
  }
  void putRV(RegisterValue value) override {
    const uint8_t before = Cell();
    BreakpointRegister::putRV(value);
    Settle(before, value.data);
  }
  void setbit(unsigned int bit, bool value) override {
    const uint8_t before = Cell();
    BreakpointRegister::setbit(bit, value);
    Settle(before, get_value());
  }

 private:
  uint32_t Word() const { return address_ & ~1u; }
  unsigned Shift() const { return (address_ & 1) * 8; }
  uint8_t Cell() const { return static_cast<uint8_t>(cpu_->pma->get_opcode(Word()) >> Shift()); }
  // What an operation that changed the cell should have left there.
  void Settle(uint8_t before, unsigned int eecon1) {
    if ((eecon1 & (kEEPGD | kWR)) != (kEEPGD | kWR) || Cell() == before) return;
    const uint8_t kept = (eecon1 & kFREE) ? kErasedByte : before;
    const unsigned opcode = cpu_->pma->get_opcode(Word());
    cpu_->init_program_memory(Word(), (opcode & ~(0xFFu << Shift())) | (unsigned{kept} << Shift()));
  }

  Processor* cpu_;
  uint32_t address_;
};

struct ChipModel::Parts {
  Processor* cpu = nullptr;
  int64_t programBytes = 0;
  std::unique_ptr<UartRate> rate;
  std::unique_ptr<FlashFault> flashFault;
  UartDecoder decoder;
  std::vector<uint8_t> received;
  HaltAtBreak halt;
  std::unique_ptr<LineDriver> rxLine, txPullUp;
  std::unique_ptr<PinListener> txListener;
  std::unique_ptr<RxClock> rxClock;
  Stimulus_Node* txNode = nullptr;
  Stimulus_Node* rxNode = nullptr;
};

ChipModel::ChipModel() : parts_(std::make_unique<Parts>()) {}
ChipModel::~ChipModel() = default;

std::string GpsimChipName(const std::string& chip) {
  std::string name;
  for (char c : chip) name += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (name.rfind("pic", 0) == 0) name = name.substr(3);
  if (name.rfind("p", 0) != 0) name = "p" + name;
  return name;
}

namespace {
// The pin a template names RC6 (or rc6): gpsim's portc6.
IOPIN* PinNamed(Processor* cpu, const std::string& pin) {
  if (pin.size() != 3 || std::toupper(static_cast<unsigned char>(pin[0])) != 'R') return nullptr;
  const std::string name = std::string("port") +
                           static_cast<char>(std::tolower(static_cast<unsigned char>(pin[1]))) + pin[2];
  for (int number = 1; number <= cpu->get_pin_count(); ++number) {
    IOPIN* io = cpu->get_pin(number);
    if (io && io->name() == name) return io;
  }
  return nullptr;
}

// gpsim gives every PIC18 table write 4 holding words (8 bytes); parts with
// larger write blocks get theirs, or a whole write block would not land.
class FlashGeometry : public EEPROM_EXTND {
 public:
  static bool SetWriteBlock(Processor* cpu, int bytes, std::string& error) {
    auto* core = dynamic_cast<_16bit_processor*>(cpu);
    if (!core || bytes % 2 != 0 || bytes < 2) {
      error = "cannot give " + cpu->name() + " a write block of " + std::to_string(bytes) + " bytes";
      return false;
    }
    EEPROM_EXTND& table = core->tbl;
    table.initialize(table.get_rom_size(), table.*(&FlashGeometry::erase_block_size), bytes / 2,
                     table.*(&FlashGeometry::config_word_base), table.*(&FlashGeometry::has_eeadrh));
    return true;
  }
};

Stimulus_Node* Connect(const char* name, IOPIN* pin, std::initializer_list<stimulus*> others) {
  auto* node = new Stimulus_Node(name);  // gpsim's symbol table owns it
  node->attach_stimulus(pin);
  for (stimulus* other : others) node->attach_stimulus(other);
  node->update();
  return node;
}
}  // namespace

bool ChipModel::Load(const std::string& chip, const std::string& firmware, const ChipSetup& setup,
                     std::string& error) {
  std::ifstream file(firmware);
  if (!file) {
    error = "cannot read the firmware " + firmware;
    return false;
  }
  // gpsim takes any file and runs an empty chip: see that it is one of its two.
  const bool cod = firmware.size() > 4 && firmware.compare(firmware.size() - 4, 4, ".cod") == 0;
  if (!cod && file.peek() != ':') {
    error = firmware + " is neither Intel HEX nor a .cod file";
    return false;
  }
  StartGpsimOnce();
  const std::string type = GpsimChipName(chip);
  Processor* cpu = nullptr;
  CSimulationContext::GetContext()->LoadProgram(firmware.c_str(), type.c_str(), &cpu);
  if (!cpu || cpu->name() != type) {
    error = "gpsim could not load " + firmware + " into a " + type +
            " (is it a PIC18 part that gpsim simulates?)";
    return false;
  }
  IOPIN* tx = PinNamed(cpu, setup.txPin);
  IOPIN* rx = PinNamed(cpu, setup.rxPin);
  if (!tx || !rx) {
    error = type + " has no UART pins " + setup.txPin + " and " + setup.rxPin;
    return false;
  }
  if (setup.writeBlock > 0 && !FlashGeometry::SetWriteBlock(cpu, setup.writeBlock, error)) return false;
  Parts& p = *parts_;
  p.cpu = cpu;
  const int64_t simulated = int64_t{cpu->program_memory_size()} * 2;
  p.programBytes = setup.programBytes > 0 ? setup.programBytes : simulated;
  // Memory is read a 16-bit word at a time, and only as far as gpsim has it.
  if (p.programBytes % 2 != 0 || p.programBytes > simulated) {
    error = "flash: " + std::to_string(p.programBytes) + " bytes does not fit the " + type + " (" +
            std::to_string(simulated) + " bytes in gpsim, in 16-bit words)";
    return false;
  }
  if (setup.flashFault >= p.programBytes) {
    error = "--flash-fault " + std::to_string(setup.flashFault) + " lies outside program memory";
    return false;
  }
  if (setup.flashFault >= 0) {
    p.flashFault = std::make_unique<FlashFault>(cpu, static_cast<uint32_t>(setup.flashFault));
  }
  cpu->set_frequency(kCrystalHz);
  p.rate = std::make_unique<UartRate>(cpu);
  p.rxLine = std::make_unique<LineDriver>("zentrel_rx", 50);
  p.txPullUp = std::make_unique<LineDriver>("zentrel_idle", 10e3);
  p.txListener = std::make_unique<PinListener>(p.decoder, *p.rate);
  p.rxClock = std::make_unique<RxClock>(*p.rxLine, *p.rate);
  p.txNode = Connect("zentrel_tx_line", tx, {p.txListener.get(), p.txPullUp.get()});
  p.rxNode = Connect("zentrel_rx_line", rx, {p.rxLine.get()});
  return true;
}

void ChipModel::Reset() {
  parts_->rxClock->Clear();
  // gpsim's transmitter often never finishes a byte once TXEN has been
  // cleared and set again, and a reset clears it; so an enabled transmitter
  // survives the reset as it was set. With SPEN clear, RC6 is still a port
  // pin, as after a real reset.
  Processor* cpu = parts_->cpu;
  // A chip stopped when its last host left may be half-way through sending;
  // gpsim's shift register goes on across the reset, and the stale bits would
  // swallow the next signal. Let what is on its way leave first, unheard.
  const uint64_t frame = parts_->rate->BitCycles() * 10;
  for (int k = 0; k < kMostFramesDrained && (parts_->decoder.Due() != kNever ||
                                             (ReadRegister(cpu, kTXSTA) & kTRMT) == 0); ++k) {
    RunTo(Cycles().get() + frame);
  }
  parts_->decoder.Abandon();
  parts_->received.clear();
  const unsigned transmitter = ReadRegister(cpu, kTXSTA);
  cpu->reset(POR_RESET);
  if (transmitter & kTXEN) cpu->registers[kTXSTA]->put(transmitter);
}

uint64_t ChipModel::Cycle() const { return Cycles().get(); }

double ChipModel::CyclesPerSecond() const { return kCrystalHz / 4; }

void ChipModel::RunTo(uint64_t cycle) {
  if (cycle > Cycles().get()) {
    Cycles().set_break(cycle, &parts_->halt);
    parts_->cpu->run(false);
    // Only a break still pending is cleared: gpsim's clear_break of a spent
    // one takes another object's.
    if (Cycles().get() < cycle) Cycles().clear_break(&parts_->halt);
  }
  parts_->decoder.Collect(Cycles().get(), parts_->received);
}

void ChipModel::RunToAddress(uint64_t cycle, uint32_t address) {
  // One instruction at a time: gpsim's execution breaks crash near the top
  // of a 64 KiB part. A step inside a flash write's stall may not advance
  // the cycle counter, so the steps are counted too; the rest runs as usual.
  Processor* cpu = parts_->cpu;
  for (uint64_t steps = cycle - std::min(cycle, Cycles().get());
       steps > 0 && Cycles().get() < cycle && cpu->pma->get_PC() != address; --steps) {
    cpu->step(1, false);
  }
  if (cpu->pma->get_PC() != address) RunTo(cycle);
  parts_->decoder.Collect(Cycles().get(), parts_->received);
}

void ChipModel::Send(uint8_t value) { parts_->rxClock->Send(value); }

std::vector<uint8_t> ChipModel::TakeReceived() {
  std::vector<uint8_t> bytes;
  bytes.swap(parts_->received);
  return bytes;
}

uint64_t ChipModel::NextLineEvent() const {
  return std::min(parts_->decoder.Due(), parts_->rxClock->End());
}

int64_t ChipModel::ProgramBytes() const { return parts_->programBytes; }

std::vector<uint8_t> ChipModel::ProgramMemory() const {
  Processor* cpu = parts_->cpu;
  const auto size = static_cast<unsigned>(ProgramBytes());
  std::vector<uint8_t> bytes(size);
  for (unsigned address = 0; address < size; address += 2) {
    const unsigned word = cpu->pma->get_opcode(address);
    bytes[address] = static_cast<uint8_t>(word & 0xFF);
    bytes[address + 1] = static_cast<uint8_t>(word >> 8);
  }
  return bytes;
}
