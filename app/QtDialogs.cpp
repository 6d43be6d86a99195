#include "QtDialogs.h"

#include <QFile>
#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QStringList>

namespace {
QString Text(const std::string& text) { return QString::fromStdString(text); }
}  // namespace

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
  return QFile::encodeName(path).toStdString();
}

std::string QtDialogs::InputBox(const std::string& prompt, const std::string& initialText) {
  bool ok = false;
  const QString text = QInputDialog::getText(parent_, Text(title_), Text(prompt),
                                             QLineEdit::Normal, Text(initialText), &ok);
  return ok ? text.toStdString() : std::string();
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
