#include "SettingsStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QString>
#include <filesystem>
#include <system_error>
#include <utility>

namespace {

// A stored text longer than this reads as missing.
constexpr qsizetype kLongestValue = 254;

QString ConfigHome() {
  // Read on every call: the user's folders may change while we run (tests do).
  QString xdg = qEnvironmentVariable("XDG_CONFIG_HOME");
  if (!xdg.isEmpty() && QDir::isAbsolutePath(xdg)) return xdg;
  return QDir::homePath() + "/.config";
}

QString SoftwareFolder() { return ConfigHome() + "/Software"; }

// Follows links to the file that they name, whether or not it exists
// (weakly_canonical stops at a link whose target is missing).
std::filesystem::path RealFile(std::filesystem::path path) {
  namespace fs = std::filesystem;
  std::error_code error;
  constexpr int kMostLinks = 40;  // as the kernel's limit, so a loop ends
  for (int hop = 0; hop < kMostLinks && fs::is_symlink(fs::symlink_status(path, error)); ++hop) {
    const fs::path target = fs::read_symlink(path, error);
    if (error) break;
    path = target.is_relative() ? path.parent_path() / target : target;
  }
  const fs::path real = fs::weakly_canonical(path, error);
  return error ? path.lexically_normal() : real;
}

QString FromUtf8(const std::string& text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

}  // namespace

SettingsStore::SettingsStore() : path_(DefaultPath()) {}

SettingsStore::SettingsStore(std::string iniPath) : path_(std::move(iniPath)) {}

std::string SettingsStore::DefaultPath() { return (SoftwareFolder() + "/Quorvel Zentrel.ini").toStdString(); }

std::string SettingsStore::PortMapDirectory() {
  return (SoftwareFolder() + "/Quorvel Zentrel.ports").toStdString();
}

std::string SettingsStore::UserDeviceDescriptionPath() {
  return QFile::encodeName(SoftwareFolder() + "/Quorvel Zentrel/config.txt").toStdString();
}

std::string SettingsStore::DeviceDescriptionPath(const std::string& programDir) {
  namespace fs = std::filesystem;
  std::error_code error;
  fs::path path = UserDeviceDescriptionPath();
  // A link whose target is gone is still the user's choice: reading it
  // reports the missing target instead of silently using another file.
  if (!fs::exists(fs::symlink_status(path, error))) path = programDir + "config.txt";
  return RealFile(path).string();
}

void SettingsStore::CreateSettingsKey() {
  QString path = FromUtf8(path_);
  QDir().mkpath(QFileInfo(path).absolutePath());
  QFile file(path);
  if (!file.exists()) file.open(QIODevice::WriteOnly | QIODevice::Append);
}

// A file we cannot parse is left as it is: writing would drop its content.
bool SettingsStore::Usable(const QSettings& settings) {
  if (settings.status() == QSettings::FormatError) corrupt_ = true;
  return !corrupt_ && settings.status() == QSettings::NoError;
}

std::string SettingsStore::ReadSetting(const std::string& name, const std::string& defaultValue) {
  CreateSettingsKey();
  QSettings settings(FromUtf8(path_), QSettings::IniFormat);
  if (!Usable(settings)) return defaultValue;
  QString key = FromUtf8(name);
  if (settings.contains(key)) {
    QByteArray stored = settings.value(key).toString().toUtf8();
    if (stored.size() <= kLongestValue) return stored.toStdString();
  }
  settings.setValue(key, FromUtf8(defaultValue));
  settings.sync();
  return defaultValue;
}

void SettingsStore::WriteSetting(const std::string& name, const std::string& value) {
  CreateSettingsKey();
  QSettings settings(FromUtf8(path_), QSettings::IniFormat);
  if (!Usable(settings)) return;
  settings.setValue(FromUtf8(name), FromUtf8(value));
  settings.sync();
}
