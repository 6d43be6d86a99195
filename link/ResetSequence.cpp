#include "ResetSequence.h"

#include <charconv>

namespace {

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts(1);
  for (char c : text) {
    if (c == separator) {
      parts.emplace_back();
    } else {
      parts.back() += c;
    }
  }
  return parts;
}

std::optional<int> Milliseconds(const std::string& text, int minimum) {
  int value = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (text.empty() || ec != std::errc() || ptr != end || value < minimum || value > kMaxResetMs) return std::nullopt;
  return value;
}

std::optional<ResetStep> ParseStep(const std::string& text, std::string& error) {
  const std::vector<std::string> fields = Split(text, ':');
  ResetStep step;
  std::string line = fields[0];
  step.inverted = !line.empty() && line[0] == '-';
  if (step.inverted) line.erase(0, 1);
  if (line == "dtr" || line == "rts") {
    step.line = line == "dtr" ? ResetStep::Line::Dtr : ResetStep::Line::Rts;
  } else {
    error = "\"" + text + "\": the line is dtr or rts, with - in front when inverted";
    return std::nullopt;
  }
  const auto pulse = fields.size() > 1 ? Milliseconds(fields[1], 1) : std::optional<int>(step.pulseMs);
  const auto settle = fields.size() > 2 ? Milliseconds(fields[2], 0) : std::optional<int>(step.settleMs);
  if (fields.size() > 3 || !pulse || !settle) {
    error = "\"" + text + "\": a pulse of 1 to " + std::to_string(kMaxResetMs) + " ms and a settle time of 0 to " +
            std::to_string(kMaxResetMs) + " ms follow the line, as in -rts:50:100";
    return std::nullopt;
  }
  step.pulseMs = *pulse;
  step.settleMs = *settle;
  return step;
}

}  // namespace

std::optional<ResetSequence> ParseResetSequence(const std::string& text, std::string& error) {
  ResetSequence sequence;
  for (const std::string& part : Split(text, ',')) {
    const std::optional<ResetStep> step = ParseStep(part, error);
    if (!step) return std::nullopt;
    sequence.push_back(*step);
  }
  return sequence;
}

std::string LineName(const ResetStep& step) {
  return std::string(step.inverted ? "-" : "") + (step.line == ResetStep::Line::Dtr ? "dtr" : "rts");
}
