#pragma once
// Per-user text values kept between runs. Reading a missing value stores the
// default; failures never reach the caller.
#include <string>

// The stored values: one home for their names and defaults.
struct StoredSetting {
  const char* name;
  const char* defaultValue;
};
inline constexpr StoredSetting kPortNumberSetting{"Serial Port Number", "2"};
inline constexpr StoredSetting kBaudRateSetting{"Serial Port Baud Rate", "19200"};
// Its default is the program's folder, known only at run time.
inline constexpr char kLastPathSetting[] = "Last Path";

class SettingsAccess {
 public:
  virtual ~SettingsAccess() = default;
  virtual std::string ReadSetting(const std::string& name, const std::string& defaultValue) = 0;
  virtual void WriteSetting(const std::string& name, const std::string& value) = 0;};

inline std::string ReadStored(SettingsAccess& settings, const StoredSetting& setting) {
  return settings.ReadSetting(setting.name, setting.defaultValue);
}
