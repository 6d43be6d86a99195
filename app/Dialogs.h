#pragma once
// The modal boxes that the logic shows. The window answers them with Qt
// dialogs, the command-line tool prints, tests answer them from a script.
#include <string>

class Dialogs {
 public:
  virtual ~Dialogs() = default;
  // A box with an OK button only, no icon, titled AppTitle.
  virtual void ShowMessage(const std::string& text) = 0;
  // File-open dialog; the chosen full path, or "" when the user cancelled.
  // filter is of the form "Intel HEX files (*.hex)|*.hex|All files (*.*)|*.*".
  virtual std::string OpenFile(const std::string& title, const std::string& filter,
                               const std::string& initialDir) = 0;
  // Text-input box titled AppTitle; the text entered, "" when cancelled.
  virtual std::string InputBox(const std::string& prompt, const std::string& initialText) = 0;
};
