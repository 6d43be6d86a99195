#pragma once
// Reader of config.txt, the description of the target device.
#include <istream>
#include <map>
#include <string>

#include "AppState.h"

// Reads the file at path into device. Returns false with a message for the
// user when the file cannot be read (missing, not a regular file, a read
// error: the reason is named), a number does not fit 32 bits, or a line that
// sets a field is too long to be one.
bool ReadDeviceDescription(const std::string& path, DeviceDescription& device, std::string& error);

// Keys that config.txt itself does not have, for a reader that knows more
// (the simulator takes uart: from a device template): each key given gets
// the rest of the line that starts with it.
using TextFields = std::map<std::string, std::string, std::less<>>;
bool ReadDeviceDescription(const std::string& path, DeviceDescription& device, TextFields& extra,
                           std::string& error);

// The same over text already open; sourceName names it in the message.
// Lines end in CR LF, a lone CR or a lone LF. device starts from zero.
bool ReadDeviceDescription(std::istream& in, const std::string& sourceName,
                           DeviceDescription& device, std::string& error);
