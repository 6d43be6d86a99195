#include "QtSerialLine.h"

#include <linux/serial.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QSerialPortInfo>
#include <QThread>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <optional>
#include <utility>
#include <vector>

#include "PortMap.h"

namespace {

// QSerialPort opens its name as UTF-8 text: a name that is not (a link of
// the user's, say) is given as the real path of the device it names.
std::string RealPath(const std::string& path) {
  char real[PATH_MAX];
  return ::realpath(path.c_str(), real) != nullptr ? real : path;
}

std::string SerialPortName(const std::string& path) {
  return QString::fromStdString(path).toStdString() == path ? path : RealPath(path);
}

struct LineSettings {
  qint32 baud = 0;
  QSerialPort::Parity parity = QSerialPort::NoParity;
  QSerialPort::DataBits dataBits = QSerialPort::Data8;
  QSerialPort::StopBits stopBits = QSerialPort::OneStop;
};

std::vector<std::string> SplitFields(const std::string& text) {
  std::vector<std::string> fields(1);
  for (char c : text) {
    if (c == ',') {
      fields.emplace_back();
    } else {
      fields.back() += c;
    }
  }
  return fields;
}

std::optional<qint32> ParseBaud(const std::string& text) {
  if (text.empty()) return std::nullopt;
  int64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
    if (value > INT32_MAX) return std::nullopt;
  }
  if (value == 0) return std::nullopt;
  return static_cast<qint32>(value);
}

// The one value that a settings field names, if any.
template <typename T>
std::optional<T> Lookup(const std::string& text,
                        std::initializer_list<std::pair<const char*, T>> table) {
  for (const auto& [name, value] : table) {
    if (text == name) return value;
  }
  return std::nullopt;
}

// "19200,n,8,1": baud, parity, data bits, stop bits.
std::optional<LineSettings> ParseLineSettings(const std::string& text, std::string& error) {
  const std::vector<std::string> f = SplitFields(text);
  const std::string prefix = "line settings \"" + text + "\": ";
  if (f.size() != 4) {
    error = prefix + "expected baud,parity,data bits,stop bits";
    return std::nullopt;
  }
  auto baud = ParseBaud(f[0]);
  auto parity = Lookup<QSerialPort::Parity>(f[1], {{"n", QSerialPort::NoParity},
                                                   {"e", QSerialPort::EvenParity},
                                                   {"o", QSerialPort::OddParity},
                                                   {"m", QSerialPort::MarkParity},
                                                   {"s", QSerialPort::SpaceParity}});
  auto dataBits = Lookup<QSerialPort::DataBits>(f[2], {{"5", QSerialPort::Data5},
                                                       {"6", QSerialPort::Data6},
                                                       {"7", QSerialPort::Data7},
                                                       {"8", QSerialPort::Data8}});
  auto stopBits = Lookup<QSerialPort::StopBits>(f[3], {{"1", QSerialPort::OneStop},
                                                       {"1.5", QSerialPort::OneAndHalfStop},
                                                       {"2", QSerialPort::TwoStop}});
  const std::pair<bool, const char*> checks[] = {
      {baud.has_value(), "the baud rate must be a positive whole number"},
      {parity.has_value(), "the parity must be one of n, e, o, m, s"},
      {dataBits.has_value(), "the data bits must be 5, 6, 7 or 8"},
      {stopBits.has_value(), "the stop bits must be 1, 1.5 or 2"}};
  for (const auto& [valid, reason] : checks) {
    if (!valid) {
      error = prefix + reason;
      return std::nullopt;
    }
  }
  return LineSettings{*baud, *parity, *dataBits, *stopBits};
}

bool ApplySettings(QSerialPort& port, const LineSettings& s) {
  return port.setBaudRate(s.baud) && port.setParity(s.parity) && port.setDataBits(s.dataBits) &&
         port.setStopBits(s.stopBits) && port.setFlowControl(QSerialPort::NoFlowControl);
}

// A raw line reads 0 bytes both when nothing waits and when the device has
// hung up; only poll tells the two apart.
bool HungUp(int fd) {
  pollfd entry{fd, POLLIN, 0};
  return poll(&entry, 1, 0) > 0 && (entry.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

std::vector<std::string> ListedDevices() {
  std::vector<std::string> paths;
  for (const SerialDevice& device : ListSerialDevices()) paths.push_back(device.path);
  return paths;
}

std::string FailureKind(QSerialPort::SerialPortError error) {
  switch (error) {
    case QSerialPort::ReadError:
      return "read error";
    case QSerialPort::WriteError:
      return "write error";
    default:
      return "the device has gone";
  }
}

}  // namespace

SerialDevice SerialDeviceOf(const QSerialPortInfo& info) {
  SerialDevice device{info.systemLocation().toStdString(), {}, {}, info.serialNumber().toStdString()};
  if (info.hasVendorIdentifier()) device.vendor = info.vendorIdentifier();
  if (info.hasProductIdentifier()) device.product = info.productIdentifier();
  return device;
}

// QSerialPortInfo leaves out the on-board ttyS* that have no UART behind them.
std::vector<SerialDevice> ListSerialDevices() {
  std::vector<SerialDevice> devices;
  for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) devices.push_back(SerialDeviceOf(info));
  return devices;
}

std::string UsbSerialOf(const std::string& devicePath) {
  const std::string real = RealPath(devicePath);
  // Only a device with hardware behind it has an adapter. Listing every
  // port costs thousands of file operations, which a pseudo-terminal is spared.
  struct stat info {};
  const std::string sysfs = "/sys/class/tty/" + real.substr(real.rfind('/') + 1) + "/device";
  if (stat(sysfs.c_str(), &info) != 0) return "";
  for (const SerialDevice& device : ListSerialDevices()) {
    if (RealPath(device.path) == real) return device.serial;
  }
  return "";
}

QtSerialLine::QtSerialLine(std::string portMapDir, QObject* parent)
    : QObject(parent), mapDir_(std::move(portMapDir)) {
  connect(&port_, &QSerialPort::readyRead, this, &QtSerialLine::RaiseReceive);
  connect(&port_, &QSerialPort::errorOccurred, this, &QtSerialLine::HandleError);
}

QtSerialLine::~QtSerialLine() {
  // Closing while the object is half gone must not call back into it.
  disconnect(&port_, nullptr, this, nullptr);
  port_.close();
}

bool QtSerialLine::Open(int portNumber, const std::string& settings, std::string& error) {
  Close();
  device_.clear();
  if (portNumber < INT16_MIN || portNumber > INT16_MAX) {
    error = "port number " + std::to_string(portNumber) + " is out of range";
    return false;
  }
  const std::string device = ResolvePortDevice(portNumber, mapDir_, ListedDevices());
  if (device.empty()) {
    error = "no device is mapped to COM" + std::to_string(portNumber);
    return false;
  }
  if (OpenDevice(device, settings, error)) return true;
  error = "COM" + std::to_string(portNumber) + ": " + error;
  return false;
}

std::string QtSerialLine::DeviceStamp(int portNumber) const {
  const std::string device = ResolvePortDevice(portNumber, mapDir_, ListedDevices());
  struct stat info {};
  if (device.empty() || stat(device.c_str(), &info) != 0) return "";
  // A new node gets a new inode and change time; so does a change of mode or owner.
  return device + " " + std::to_string(info.st_rdev) + " " + std::to_string(info.st_ino) + " " +
         std::to_string(info.st_ctim.tv_sec) + "." + std::to_string(info.st_ctim.tv_nsec);
}

bool QtSerialLine::OpenDevice(const std::string& devicePath, const std::string& settings,
                              std::string& error) {
  Close();
  device_ = devicePath;
  if (devicePath.empty()) {
    error = "no device given";
    return false;
  }
  const std::optional<LineSettings> parsed = ParseLineSettings(settings, error);
  if (!parsed) return false;
  // Locked before QSerialPort touches the line, so that a refused second
  // owner changes nothing of the first one's settings.
  if (!lock_.Acquire(devicePath, error)) {
    error = devicePath + ": " + error;
    return false;
  }
  port_.setPortName(QString::fromStdString(SerialPortName(devicePath)));
  if (!ApplySettings(port_, *parsed)) {
    error = devicePath + ": " + port_.errorString().toStdString();
    lock_.Release();
    return false;
  }
  if (!port_.open(QIODevice::ReadWrite)) {
    error = OpenFailure(devicePath);
    lock_.Release();
    return false;
  }
  port_.clearError();
  fd_ = static_cast<int>(port_.handle());
  AskForLowLatency();
  return true;
}

std::string QtSerialLine::OpenFailure(const std::string& devicePath) const {
  switch (port_.error()) {
    case QSerialPort::DeviceNotFoundError:
      return devicePath + ": device not found";
    case QSerialPort::PermissionError:
      // The same error covers a device in use: its lock file is held.
      if (access(devicePath.c_str(), R_OK | W_OK) != 0) return devicePath + ": " + PermissionReason(devicePath);
      return devicePath + ": " + LockFileReason(devicePath);
    default:
      return devicePath + ": " + port_.errorString().toStdString();
  }
}

// Each echo waits on the driver's receive timer; a pseudo-terminal or a
// driver without the flag refuses, which costs only latency.
void QtSerialLine::AskForLowLatency() {
  serial_struct serial{};
  if (ioctl(fd_, TIOCGSERIAL, &serial) != 0) return;
  serial.flags |= ASYNC_LOW_LATENCY;
  (void)ioctl(fd_, TIOCSSERIAL, &serial);
}

void QtSerialLine::Close() {
  received_.clear();
  fd_ = -1;
  if (closing_ || !port_.isOpen()) return;
  closing_ = true;
  port_.close();
  lock_.Release();
  closing_ = false;
}

bool QtSerialLine::IsOpen() const { return port_.isOpen(); }

// Straight to the device, the download's per-byte path: QSerialPort's own
// buffer costs more than the byte. It is used only when the driver cannot
// take the byte at once, and then for every byte until it has drained, so
// that the bytes keep their order.
void QtSerialLine::WriteByte(uint8_t value) {
  if (fd_ < 0) return;
  if (port_.bytesToWrite() == 0) {
    ssize_t wrote = -1;
    do {
      wrote = write(fd_, &value, 1);
    } while (wrote < 0 && errno == EINTR);
    if (wrote == 1) return;
    if (wrote < 0 && errno != EAGAIN) {
      LineGone("write error (" + std::string(std::strerror(errno)) + ")");
      return;
    }
  }
  const char byte = static_cast<char>(value);
  port_.write(&byte, 1);
  if (port_.isOpen()) port_.flush();
}

// QSerialPort stays silent about bytes it takes in while a readyRead handler
// is still running (the window's handler pumps events); once the handler has
// returned, raise the event again for them, as a later arrival would.
void QtSerialLine::RaiseReceive() {
  if (!onReceive) return;
  readSinceRaise_ = false;
  onReceive();
  if (readSinceRaise_ && port_.isOpen() && port_.bytesAvailable() > 0) {
    QMetaObject::invokeMethod(this, &QtSerialLine::RaiseReceive, Qt::QueuedConnection);
  }
}

std::string QtSerialLine::ReadAll() {
  readSinceRaise_ = true;
  if (fd_ < 0) return "";
  std::string bytes = received_;
  received_.clear();
  if (port_.bytesAvailable() > 0) {
    const QByteArray later = port_.readAll();
    bytes.append(later.constData(), static_cast<size_t>(later.size()));
  }
  return bytes;
}

bool QtSerialLine::WaitForInput(int milliseconds) {
  if (fd_ < 0) return false;
  if (received_.empty() && port_.bytesAvailable() == 0 && !ReadFromDevice(milliseconds)) return false;
  if (onReceive) onReceive();
  return true;
}

// Reads the device itself rather than through QSerialPort's wait, which
// polls again and copies through its buffers: the download's per-byte path.
// False when nothing came in time or the line has gone.
bool QtSerialLine::ReadFromDevice(int milliseconds) {
  const int fd = fd_;
  pollfd entry{fd, POLLIN, 0};
  if (milliseconds != 0 && poll(&entry, 1, milliseconds) <= 0) return false;
  char chunk[4096];
  const ssize_t count = read(fd, chunk, sizeof chunk);
  if (count > 0) {
    received_.append(chunk, static_cast<size_t>(count));
    return true;
  }
  if (count < 0 && errno != EAGAIN && errno != EINTR) {
    LineGone("read error (" + std::string(std::strerror(errno)) + ")");
  } else if (count == 0 && HungUp(fd)) {
    LineGone("the device has gone");
  }
  return false;
}

bool QtSerialLine::PulseResetLine(const ResetSequence& sequence, std::string& error) {
  if (!port_.isOpen()) {
    error = "the port is not open";
    return false;
  }
  bool pulsed = true;
  for (const ResetStep& step : sequence) {
    auto set = [&](bool active) {
      const bool level = active != step.inverted;
      return step.line == ResetStep::Line::Dtr ? port_.setDataTerminalReady(level) : port_.setRequestToSend(level);
    };
    pulsed = set(true);
    if (pulsed) {
      QThread::msleep(static_cast<unsigned long>(step.pulseMs));
      pulsed = set(false);
    }
    if (!pulsed) {
      error = device_ + " refuses to drive " + LineName(step) + ": " + port_.errorString().toStdString();
      break;
    }
    QThread::msleep(static_cast<unsigned long>(step.settleMs));
  }
  port_.clearError();
  return pulsed;
}

// Only the errors that mean the device has gone end the line. QSerialPort
// repeats a read error endlessly and stays open, so the first one closes it.
void QtSerialLine::HandleError(QSerialPort::SerialPortError error) {
  if (error != QSerialPort::ReadError && error != QSerialPort::WriteError &&
      error != QSerialPort::ResourceError) {
    return;
  }
  LineGone(FailureKind(error) + " (" + port_.errorString().toStdString() + ")");
}

void QtSerialLine::LineGone(const std::string& what) {
  if (closing_ || !port_.isOpen()) return;
  const std::string why = device_ + ": " + what;
  Close();
  if (onFailure) onFailure(why);
}
