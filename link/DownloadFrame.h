#pragma once
// The download command: turns the loaded image into the download frame
// (header, block data with the jump to the bootloader, trailer) and sends
// its first byte; the link protocol sends the rest against the echo.
#include <string>

#include "AppState.h"
#include "Dialogs.h"
#include "LinkHost.h"

// The click on Command2. Empties the frame on every press; in LinkState 1
// with more than 8 program bytes builds the frame and sends slot 1, or
// refuses with a message saying why (nothing sent, LinkState unchanged).
void StartDownload(AppState& state, LinkHost& host, Dialogs& dialogs);

// FrameLength 0 and a frame of slot 0 alone, holding 0.
void EmptyDownloadFrame(AppState& state);

// Adds one slot holding 0 at the end of DownloadFrame.
void AppendFrameSlot(AppState& state);

// Builds the frame into state (rounding ProgramBytes up to the erase block),
// whatever LinkState and the port say. Returns "" on success, or the reason
// the frame cannot be sent, in which case state is left as it was.
std::string BuildDownloadFrame(AppState& state);

// What the bootloader's refusal of a frame byte (echoed inverted) says, by
// where the slot lies in the frame as state built it: the config.txt line
// to check, or the flash that did not take. "" for a slot it cannot refuse.
std::string RefusalHint(int32_t slot, const AppState& state);
// "; the bootloader refused it: ..." for an outcome that was a refusal with
// something to say, "" for any other.
std::string RefusalNote(const TransferOutcome& outcome, const AppState& state);
