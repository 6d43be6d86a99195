// zentrel-cli ports: which device each port number names, and what it is.
#include <QSerialPortInfo>
#include <filesystem>
#include <set>
#include <vector>

#include "CliCommon.h"
#include "Commands.h"
#include "PortMap.h"
#include "SettingsStore.h"
#include "QtSerialLine.h"

namespace {

constexpr int kHighestPort = 12;

// USB ids, maker, product and serial number, as far as the system knows them.
std::string Identity(const QSerialPortInfo& info) {
  QStringList parts;
  if (info.hasVendorIdentifier() && info.hasProductIdentifier()) {
    parts << QString("USB %1:%2").arg(info.vendorIdentifier(), 4, 16, QChar('0'))
                 .arg(info.productIdentifier(), 4, 16, QChar('0'));
  }
  if (!info.manufacturer().isEmpty()) parts << info.manufacturer();
  if (!info.description().isEmpty()) parts << info.description();
  if (!info.serialNumber().isEmpty()) parts << "serial " + info.serialNumber();
  return parts.isEmpty() ? "serial port" : parts.join(", ").toStdString();
}

// What a device is: a serial port the system lists, another file, or nothing.
std::string Describe(const std::string& device, const QList<QSerialPortInfo>& known) {
  std::error_code error;
  if (!std::filesystem::exists(device, error)) return "missing";
  for (const QSerialPortInfo& info : known) {
    if (Canonical(info.systemLocation().toStdString()) == Canonical(device)) return Identity(info);
  }
  return "not a serial port the system lists (a pseudo-terminal?)";
}

// With --usb, whether a device is one that the filters choose.
bool Chosen(const std::string& device, const std::vector<SerialDevice>& devices,
            const std::vector<UsbFilter>& filters) {
  if (filters.empty()) return true;
  for (const SerialDevice& listed : devices) {
    if (Canonical(listed.path) == Canonical(device)) return !MatchingDevices({listed}, filters).empty();
  }
  return false;
}

}  // namespace

int RunPorts(const QStringList& args) {
  QCommandLineParser parser;
  parser.setApplicationDescription(
      "Lists the port numbers 1 to 12, the device each resolves to (through the port map, or "
      "else the default rule: ttyUSB*, then ttyACM*, then ttyS*) and what it is; then the serial "
      "devices that no number reaches. With --usb only the devices it chooses.");
  parser.addOption(UsbOption("Only the devices"));
  if (auto done = ParseCommand(parser, "ports", args)) return *done;
  if (!parser.positionalArguments().isEmpty()) return UsageError("ports", "takes no arguments.");
  QString error;
  const auto filters = UsbFiltersOf(parser, error);
  if (!filters) return UsageError("ports", error);

  const std::string mapDir = SettingsStore::PortMapDirectory();
  const QList<QSerialPortInfo> known = QSerialPortInfo::availablePorts();
  std::vector<SerialDevice> devices;
  std::vector<std::string> listed;
  for (const QSerialPortInfo& info : known) {
    devices.push_back(SerialDeviceOf(info));
    listed.push_back(devices.back().path);
  }
  std::set<std::string> numbered;
  PrintLine(stdout, "Port map: " + mapDir);
  for (int port = 1; port <= kHighestPort; ++port) {
    const std::string name = "COM" + std::to_string(port);
    const std::string device = ResolvePortDevice(port, mapDir, listed);
    if (!device.empty() && !Chosen(device, devices, *filters)) continue;
    if (device.empty()) {
      if (filters->empty()) PrintLine(stdout, name + "  none");
      continue;
    }
    std::error_code error;
    const bool mapped = std::filesystem::is_symlink(std::filesystem::path(mapDir) / name, error);
    numbered.insert(Canonical(device));
    PrintLine(stdout, name + "  " + device + "  (" + (mapped ? "port map" : "default rule") + ")  " +
                          Describe(device, known));
  }
  bool header = false;
  for (const QSerialPortInfo& info : known) {
    const std::string device = info.systemLocation().toStdString();
    if (numbered.count(Canonical(device)) != 0 || !Chosen(device, devices, *filters)) continue;
    if (!header) PrintLine(stdout, "Serial devices without a number:");
    header = true;
    PrintLine(stdout, "  " + device + "  " + Identity(info));
  }
  if (!filters->empty() && numbered.empty() && !header) PrintLine(stdout, "No serial device has those USB ids.");
  return kExitSuccess;
}
