#pragma once
// The controls of the main window that the logic changes. The command-line
// tool implements what it can show; tests record the calls.
#include <cstdint>
#include <string>

class Controls {
 public:
  virtual ~Controls() = default;
  // Command1, Command2 and the Options menu, in this order; then one event pump.
  virtual void DisableControls() = 0;
  virtual void EnableControls() = 0;
  // Caption of label_hex; detail, its tooltip, what the caption cannot hold.
  virtual void SetHexLabel(const std::string& text, const std::string& detail) = 0;
  // Caption and back colour (0x00BBGGRR) of label_commstatus; detail is what
  // the caption cannot hold (the device a number resolved to, why it failed).
  virtual void SetCommStatus(const std::string& caption, uint32_t colour,
                             const std::string& detail) = 0;
};

// For a program that shows no window.
class NoControls : public Controls {
 public:
  void DisableControls() override {}
  void EnableControls() override {}
  void SetHexLabel(const std::string&, const std::string&) override {}
  void SetCommStatus(const std::string&, uint32_t, const std::string&) override {}
};

// Back colours of label_commstatus.
constexpr uint32_t kColourPortReady = 0xC0FFC0;
constexpr uint32_t kColourPortError = 0xC0C0FF;
