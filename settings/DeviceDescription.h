#pragma once
// Reader of config.txt, the description of the target device.
#include <string>

#include "app/AppState.h"

// Reads the file at path into device. Returns false with a message for the
// user when the file cannot be opened or a number does not fit 32 bits.
bool ReadDeviceDescription(const std::string& path, DeviceDescription& device, std::string& error);
