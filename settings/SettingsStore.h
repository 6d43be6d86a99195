#pragma once
// Per-user settings in an INI file under the user's configuration folder
// ($XDG_CONFIG_HOME when it is an absolute path, else ~/.config):
// Software/Quorvel Zentrel.ini. The file is written only when a value
// changes, one line at a time, and through a symbolic link, under a lock on
// the file, on the text as it is on disk at that moment. A file that
// cannot be read or written (or stays locked by another program) is never
// overwritten: what this run writes then still holds, in memory, for the
// rest of the run. A line that cannot be read is kept and skipped.
#include <map>
#include <optional>
#include <string>

#include "IniText.h"
#include "SettingsAccess.h"

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
  // nullopt when the file cannot be used; a missing file reads as empty.
  std::optional<IniText> Load() const;
  bool Save(const IniText& ini) const;
  void Store(std::optional<IniText>& ini, const std::string& name, const std::string& value);

  std::string path_;
  // Values of this run that the file could not take.
  std::map<std::string, std::string> unsaved_;
};
