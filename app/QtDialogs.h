#pragma once
// The modal boxes of the window, over Qt's message box, file dialog and
// text-input box; every one is titled with the application's title.
#include <QString>
#include <string>
#include <utility>

#include "Dialogs.h"

class QWidget;

class QtDialogs : public Dialogs {
 public:
  explicit QtDialogs(std::string title, QWidget* parent = nullptr)
      : title_(std::move(title)), parent_(parent) {}

  // The window that the boxes are centred on; set once it exists.
  void SetParent(QWidget* parent) { parent_ = parent; }

  void ShowMessage(const std::string& text) override;
  std::string OpenFile(const std::string& title, const std::string& filter,
                       const std::string& initialDir) override;
  std::string InputBox(const std::string& prompt, const std::string& initialText) override;
  bool Confirm(const std::string& question, const std::string& action) override;

 private:
  std::string title_;
  QWidget* parent_;
};

// The file that a path from the file dialog names. The dialog shows names
// decoded as UTF-8, so a name that is not UTF-8 comes back with replacement
// characters; each such part is found again among its folder's entries, so
// that the file opens as it is named on disk.
std::string LocalFileName(const QString& path);

// "Name (*.a)|*.a|All (*.*)|*.*" in Qt's form "Name (*.a);;All (*.*)".
// A name without its patterns in brackets gets them appended.
QString QtFileFilter(const std::string& filter);
