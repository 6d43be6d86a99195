#pragma once
// Intel HEX reader with the PIC18 address map. Reads line by line, stores
// program-memory bytes into state.FlashImage and raises state.ProgramBytes.
#include <cstddef>
#include <string>
#include <string_view>

#include "AppState.h"
#include "Dialogs.h"
#include "HexRecord.h"

// What a read found besides the program bytes.
struct LoadNotes {
  bool endRecord = false;  // a type 01 record ended the file: it was not cut short
  OtherAreaBytes otherAreas;
};

// True when the file was read to its end (or its first type 01 record)
// without fault. On a fault, or when the file cannot be read, shows one
// message naming the line (or the file and the reason) and returns false.
// The caller has prepared FlashImage (FlashSize bytes) and ProgramBytes.
// notes, when given, tells what else the file held.
bool ParseHexFile(AppState& state, const std::string& path, Dialogs& dialogs,
                  LoadNotes* notes = nullptr);

// Lines up to this length are handled whole; longer ones are folded as they
// stream past, so memory stays fixed whatever the input.
constexpr size_t kHexReadBufferSize = 64 * 1024;

// ParseHexFile over text in memory, read through a buffer of bufferSize
// bytes (at least 2). Same results and messages for any buffer size.
bool ParseHexText(AppState& state, std::string_view text, Dialogs& dialogs,
                  size_t bufferSize = kHexReadBufferSize);
