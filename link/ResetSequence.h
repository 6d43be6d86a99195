#pragma once
// How the adapter's modem lines reset a board: one or more steps, each a
// line (DTR or RTS) driven to its active level for a pulse, released, and
// left to settle. An inverted line is active when deasserted, as behind a
// transistor that pulls the reset pin down.
#include <optional>
#include <string>
#include <vector>

struct ResetStep {
  enum class Line { Dtr, Rts };
  Line line = Line::Dtr;
  bool inverted = false;
  int pulseMs = 50;   // long enough for any reset circuit
  int settleMs = 0;   // after the release, before the next step or the signal
  bool operator==(const ResetStep&) const = default;
};
using ResetSequence = std::vector<ResetStep>;

// Longest pulse and settle time: a typo must not stall every board for hours.
constexpr int kMaxResetMs = 10000;

// "[-]LINE[:PULSE[:SETTLE]]" steps joined by commas, e.g. "dtr" or
// "-rts:50:100" or "dtr:20,rts:20:50"; times in ms. Nothing, with the reason
// in error, when the text is not such a sequence.
std::optional<ResetSequence> ParseResetSequence(const std::string& text, std::string& error);

// "dtr", "rts", with "-" in front when inverted.
std::string LineName(const ResetStep& step);
