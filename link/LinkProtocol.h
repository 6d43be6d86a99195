#pragma once
// The program's half of the conversation with the bootloader: answers its
// signal 0x55 and checks every echo of the frame, stop-and-wait.
#include <cstdint>
#include <string>
#include <string_view>

#include "AppState.h"
#include "LinkHost.h"

// The receive handler: input is every byte read from the port at once.
void OnPortReceive(AppState& state, LinkHost& host, std::string_view input);

// The line has gone: a transfer in progress ends as a wrong echo does.
void OnLinkLost(AppState& state, LinkHost& host);

// The port menu has closed and reopened the port. Opening may reset the
// board, so outside a transfer the link waits for its signal again.
void OnPortReopened(AppState& state, LinkHost& host);

// The status text of a transfer that failed at this slot.
std::string ErrorText(int32_t slot, int32_t length);

// Texts of label_status.
inline constexpr std::string_view kWaitingText = "Waiting for signal from bootloader...";
inline constexpr std::string_view kReadyText = "Bootloader ready for program download...";
inline constexpr std::string_view kCompletedText = "Download completed!";
