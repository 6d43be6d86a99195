#include "QtDialogs.h"

#include <QFile>
#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QStringList>
#include <filesystem>
#include <optional>
#include <system_error>

namespace {
QString Text(const std::string& text) { return QString::fromStdString(text); }

// The entry of folder whose name the dialog shows as shown.
std::optional<std::string> EntryShownAs(const std::string& folder, const QString& shown) {
  std::error_code error;
  for (auto entry = std::filesystem::directory_iterator(folder, error);
       !error && entry != std::filesystem::directory_iterator(); entry.increment(error)) {
    const std::string name = entry->path().filename().string();
    if (QFile::decodeName(name.c_str()) == shown) return name;
  }
  return std::nullopt;
}
}  // namespace

std::string LocalFileName(const QString& path) {
  const QStringList parts = path.split('/');
  std::string local = QFile::encodeName(parts.front()).toStdString();
  for (qsizetype i = 1; i < parts.size(); ++i) {
    const std::string folder = local.empty() ? "/" : local;
    std::string name = QFile::encodeName(parts[i]).toStdString();
    std::error_code error;
    if (!parts[i].isEmpty() && !std::filesystem::exists(local + "/" + name, error)) {
      name = EntryShownAs(folder, parts[i]).value_or(name);
    }
    local += "/" + name;
  }
  return local;
}

void QtDialogs::ShowMessage(const std::string& text) {
  QMessageBox box(QMessageBox::NoIcon, Text(title_), Text(text), QMessageBox::Ok, parent_);
  // Messages quote file names and record text, which are never markup.
  box.setTextFormat(Qt::PlainText);
  box.exec();
}

std::string QtDialogs::OpenFile(const std::string& title, const std::string& filter,
                                const std::string& initialDir) {
  const QString path = QFileDialog::getOpenFileName(parent_, Text(title),
                                                    QFile::decodeName(initialDir.c_str()),
                                                    QtFileFilter(filter));
  return LocalFileName(path);
}

std::string QtDialogs::InputBox(const std::string& prompt, const std::string& initialText) {
  bool ok = false;
  const QString text = QInputDialog::getText(parent_, Text(title_), Text(prompt),
                                             QLineEdit::Normal, Text(initialText), &ok);
  return ok ? text.toStdString() : std::string();
}

bool QtDialogs::Confirm(const std::string& question, const std::string& action) {
  QMessageBox box(QMessageBox::Warning, Text(title_), Text(question), QMessageBox::NoButton, parent_);
  box.setTextFormat(Qt::PlainText);
  QPushButton* yes = box.addButton(Text(action), QMessageBox::DestructiveRole);
  box.setDefaultButton(box.addButton(QMessageBox::Cancel));
  box.exec();
  return box.clickedButton() == yes;
}

QString QtFileFilter(const std::string& filter) {
  const QStringList parts = Text(filter).split('|');
  QStringList entries;
  for (qsizetype i = 0; i < parts.size(); i += 2) {
    QString name = parts[i];
    if (i + 1 < parts.size()) {
      QString patterns = parts[i + 1];
      patterns.replace(';', ' ');
      if (!name.contains('(' + patterns + ')')) name += " (" + patterns + ")";
    }
    entries << name;
  }
  return entries.join(";;");
}
