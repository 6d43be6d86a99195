#pragma once
// The serial line over QSerialPort: raw 8-bit, no flow control, low latency
// where the driver allows; port numbers resolved through the port map.
#include <QObject>
#include <QSerialPort>
#include <string>
#include <vector>

#include "DeviceLock.h"
#include "ResetSequence.h"
#include "SerialLine.h"
#include "UsbFilter.h"

class QSerialPortInfo;
// A device as the system lists it, with the USB ids of its adapter.
SerialDevice SerialDeviceOf(const QSerialPortInfo& info);
// The serial devices that really exist.
std::vector<SerialDevice> ListSerialDevices();
// The USB serial number of the adapter behind a device (any name of it),
// "" where unknown.
std::string UsbSerialOf(const std::string& devicePath);

class QtSerialLine : public QObject, public SerialLine {
  Q_OBJECT
 public:
  explicit QtSerialLine(std::string portMapDir, QObject* parent = nullptr);
  ~QtSerialLine() override;

  bool Open(int portNumber, const std::string& settings, std::string& error) override;
  // Opens a device by path, for the command-line tool's --device.
  bool OpenDevice(const std::string& devicePath, const std::string& settings, std::string& error);
  void Close() override;
  bool IsOpen() const override;
  void WriteByte(uint8_t value) override;
  std::string ReadAll() override;
  std::string DevicePath() const override { return device_; }
  std::string DeviceStamp(int portNumber) const override;

  // Blocks until bytes arrive (and onReceive has run) or the time is up;
  // for hosts that run their own loop. False on time-out or failure. With 0
  // it only tries a read, so a host that has polled Handle() polls once.
  bool WaitForInput(int milliseconds);
  // Drives the reset lines as the sequence says; false if a line refuses.
  bool PulseResetLine(const ResetSequence& sequence, std::string& error);
  // The open device's file descriptor, -1 when closed: a host that drives
  // several lines from one poll loop waits on it, then calls WaitForInput(0).
  int Handle() const { return fd_; }

 private:
  void RaiseReceive();
  void HandleError(QSerialPort::SerialPortError error);
  bool ReadFromDevice(int milliseconds);
  void LineGone(const std::string& what);
  std::string OpenFailure(const std::string& devicePath) const;
  void AskForLowLatency();

  std::string mapDir_;
  std::string device_;
  // Set while the port closes: a close that fails to restore the settings of
  // a vanished device reports an error, which must not close it again.
  bool closing_ = false;
  // Set by ReadAll: a receive handler that read nothing is not raised again
  // for the bytes it left.
  bool readSinceRaise_ = false;
  // Bytes that WaitForInput read from the device itself, older than any that
  // QSerialPort reads later; reused, so a byte costs no allocation.
  std::string received_;
  DeviceLock lock_;
  QSerialPort port_;
  // The open port's descriptor, -1 while closed: the per-byte path asks
  // this rather than QSerialPort.
  int fd_ = -1;
};
