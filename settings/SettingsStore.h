#pragma once
// Per-user settings in an INI file under the user's configuration folder
// ($XDG_CONFIG_HOME, else ~/.config): Software/Quorvel Zentrel.ini.
#include <string>

#include "SettingsAccess.h"

class QSettings;

class SettingsStore : public SettingsAccess {
 public:
  // The default file of the current user.
  SettingsStore();
  explicit SettingsStore(std::string iniPath);

  static std::string DefaultPath();
  // The port map folder beside the settings file: Software/Quorvel Zentrel.ports
  static std::string PortMapDirectory();
  // The user's own device description: Software/Quorvel Zentrel/config.txt.
  static std::string UserDeviceDescriptionPath();
  // The device description to read: the user's own when it exists, else
  // config.txt in programDir; links resolved, so messages name the real file.
  static std::string DeviceDescriptionPath(const std::string& programDir);

  void CreateSettingsKey();
  std::string ReadSetting(const std::string& name, const std::string& defaultValue) override;
  void WriteSetting(const std::string& name, const std::string& value) override;
  const std::string& Path() const { return path_; }

 private:
  bool Usable(const QSettings& settings);

  std::string path_;
  // Qt keeps a parsed file cached across QSettings objects and reports a
  // format error only on the first parse, so the finding is kept here.
  bool corrupt_ = false;
};
