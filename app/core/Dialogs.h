#pragma once
// The modal boxes that the logic shows. The window answers them with Qt
// dialogs, the command-line tool prints, tests answer them from a script.
#include <string>
#include <vector>

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
  // A question titled AppTitle with a button that does it, captioned
  // action, and Cancel, the default; true when the user chose action.
  virtual bool Confirm(const std::string& question, const std::string& action) = 0;
};

// For a program with no one to ask: keeps every message, cancels every dialog.
class MessageCollector : public Dialogs {
 public:
  std::vector<std::string> messages;
  void ShowMessage(const std::string& text) override { messages.push_back(text); }
  std::string OpenFile(const std::string&, const std::string&, const std::string&) override { return ""; }
  std::string InputBox(const std::string&, const std::string&) override { return ""; }
  bool Confirm(const std::string&, const std::string&) override { return false; }
};
