#pragma once
// The one record that every part of the program shares. It is owned by the
// application object (window or command-line tool) and passed by reference.
#include <cstdint>
#include <string>
#include <vector>

// The PIC18 program-memory space: the largest flash a description may give.
inline constexpr int32_t kMaxFlashSize = 0x200000;

// What config.txt says about the target device.
struct DeviceDescription {
  std::string DeviceModel;
  int32_t FlashSize = 0;
  int32_t EepromSize = 0;
  int32_t EraseBlockSize = 0;
  int32_t ProgramBlockSize = 0;
  int32_t BootloaderAddress = 0;  // -1 when the text was malformed
};

struct AppState {
  // Start-up and window.
  std::string AppDir;  // directory of the real program file, ending in "/"
  std::string AppTitle = "Quorvel Zentrel";
  int32_t LinkState = 0;  // 0 waiting for the signal, 1 signalled

  DeviceDescription Device;

  // Program image.
  std::string LastPath;             // folder of the last chosen file, ending in "/"
  std::vector<uint8_t> FlashImage;  // FlashSize bytes, 0xFF where nothing was loaded
  int32_t ProgramBytes = 0;         // highest program address loaded, plus one

  // Port.
  int32_t PortNumber = 0;
  std::string BaudRate;
  bool PortOpened = false;

  // Download frame: slot 0 exists once built and is never sent.
  std::vector<uint8_t> DownloadFrame;
  int32_t FrameLength = 0;
  int32_t FrameIndex = 0;

  // Link.
  int32_t ReceivedByte = 0;
  // From the sending of slot 1 until completion, error, or a press that stops
  // at its precondition; bytes in LinkState 1 outside a transfer are ignored.
  bool TransferInProgress = false;
  // While a byte is being handled as the echo of the slot in flight (its
  // pump may let others in): with one byte in flight, another is no echo.
  bool EchoInHand = false;
};
