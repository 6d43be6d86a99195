#include "PortMap.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string_view>
#include <system_error>

namespace fs = std::filesystem;

namespace {

// The device families of the default rule, in the order they are counted.
constexpr std::string_view kFamilies[] = {"ttyUSB", "ttyACM", "ttyS"};

struct Candidate {
  std::string digits;  // without leading zeros, so that length orders them
  std::string path;
};

bool IsNumberedName(std::string_view name, std::string_view family) {
  if (name.size() <= family.size() || !name.starts_with(family)) return false;
  std::string_view rest = name.substr(family.size());
  return std::all_of(rest.begin(), rest.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string StripLeadingZeros(std::string_view digits) {
  size_t first = digits.find_first_not_of('0');
  return first == std::string_view::npos ? "0" : std::string(digits.substr(first));
}

// ttyS2 before ttyS10: shorter numbers first, then digit by digit.
bool NumericallyBefore(const Candidate& a, const Candidate& b) {
  if (a.digits.size() != b.digits.size()) return a.digits.size() < b.digits.size();
  if (a.digits != b.digits) return a.digits < b.digits;
  return a.path < b.path;
}

std::vector<std::string> FamilyDevices(const std::vector<std::string>& listed, std::string_view family) {
  std::vector<Candidate> found;
  for (const std::string& path : listed) {
    const std::string name = fs::path(path).filename().string();
    if (IsNumberedName(name, family)) {
      found.push_back({StripLeadingZeros(std::string_view(name).substr(family.size())), path});
    }
  }
  std::sort(found.begin(), found.end(), NumericallyBefore);
  std::vector<std::string> paths;
  for (const Candidate& c : found) paths.push_back(c.path);
  return paths;
}

// A link may be relative to the map folder or lead through further links
// (/dev/serial/by-id/...); the real device is what gets opened and locked.
// A missing target still resolves, so that opening it reports it missing.
std::string LinkTarget(const fs::path& link) {
  std::error_code error;
  fs::path target = fs::read_symlink(link, error);
  if (error) return link.string();
  if (target.is_relative()) target = link.parent_path() / target;
  fs::path resolved = fs::weakly_canonical(target, error);
  return (error ? target.lexically_normal() : resolved).string();
}

}  // namespace

std::vector<std::string> DefaultPortDevices(const std::vector<std::string>& listed) {
  std::vector<std::string> devices;
  for (std::string_view family : kFamilies) {
    std::vector<std::string> more = FamilyDevices(listed, family);
    devices.insert(devices.end(), more.begin(), more.end());
  }
  return devices;
}

std::string ResolvePortDevice(int portNumber, const std::string& mapDir,
                              const std::vector<std::string>& listed) {
  if (portNumber < 1) return "";
  const fs::path link = fs::path(mapDir) / ("COM" + std::to_string(portNumber));
  std::error_code error;
  if (!mapDir.empty() && fs::exists(fs::symlink_status(link, error))) return LinkTarget(link);
  const std::vector<std::string> devices = DefaultPortDevices(listed);
  if (static_cast<size_t>(portNumber) > devices.size()) return "";
  return devices[static_cast<size_t>(portNumber) - 1];
}

std::vector<MappedPort> MappedPorts(const std::string& mapDir) {
  std::vector<MappedPort> ports;
  std::error_code error;
  for (const fs::directory_entry& entry : fs::directory_iterator(mapDir, error)) {
    const std::string name = entry.path().filename().string();
    int port = 0;
    if (!IsNumberedName(name, "COM") || name.size() > 8 || (port = std::stoi(name.substr(3))) < 1) continue;
    // Only the name that a port number opens: COM01 or COM99999 never is.
    if (name != "COM" + std::to_string(port) || port > INT16_MAX) continue;
    const std::string device = LinkTarget(entry.path());
    if (entry.is_symlink(error) && fs::exists(device, error)) ports.push_back({port, device});
  }
  std::sort(ports.begin(), ports.end(), [](const MappedPort& a, const MappedPort& b) { return a.port < b.port; });
  return ports;
}
