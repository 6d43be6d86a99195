#pragma once
// Per-user text values kept between runs. Reading a missing value stores the
// default; failures never reach the caller.
#include <string>

class SettingsAccess {
 public:
  virtual ~SettingsAccess() = default;
  virtual std::string ReadSetting(const std::string& name, const std::string& defaultValue) = 0;
  virtual void WriteSetting(const std::string& name, const std::string& value) = 0;
};
