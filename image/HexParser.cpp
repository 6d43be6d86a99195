#include "HexParser.h"

#include <algorithm>

#include "ByteSource.h"
#include "HexRecord.h"
#include "LineReader.h"

namespace {
struct ParseEnd {
  Verdict verdict = Verdict::EndOfFile;
  int64_t lineNumber = 0;
  LoadNotes notes;
};

LoadTarget TargetOf(AppState& state) {
  LoadTarget target;
  target.image = state.FlashImage.data();
  // Never past the prepared image, whatever the description says.
  const uint64_t flashSize = static_cast<uint64_t>(std::max(state.Device.FlashSize, 0));
  target.programSize = std::min<uint64_t>(flashSize, state.FlashImage.size());
  target.eepromSize = static_cast<uint64_t>(std::max(state.Device.EepromSize, 0));
  target.programBytes = &state.ProgramBytes;
  return target;
}

ParseEnd RunParse(AppState& state, ByteSource& source, size_t bufferSize) {
  LoadTarget target = TargetOf(state);
  LineReader reader(source, bufferSize);
  RecordLine line;
  ParseEnd end;
  while (reader.Next(line)) {
    ++end.lineNumber;
    end.verdict = ProcessLine(line, target);
    end.notes.endRecord = end.verdict == Verdict::EndOfFile;
    if (end.verdict != Verdict::Next) break;
  }
  if (end.verdict == Verdict::Next) end.verdict = Verdict::EndOfFile;
  end.notes.otherAreas = target.otherAreas;
  return end;
}

bool Report(const ParseEnd& end, Dialogs& dialogs) {
  if (end.verdict == Verdict::EndOfFile) return true;
  dialogs.ShowMessage("Input program file in Intel Hex Format contains errors.\r\nLine number " +
                      std::to_string(end.lineNumber) + std::string(FaultText(end.verdict)));
  return false;
}
}  // namespace

bool ParseHexFile(AppState& state, const std::string& path, Dialogs& dialogs, LoadNotes* notes) {
  ParseEnd end;
  std::string failure;
  {
    // Closed before any message is shown.
    FileSource source(path);
    if (source.error().empty()) end = RunParse(state, source, kHexReadBufferSize);
    failure = source.error();
  }
  if (!failure.empty()) {
    dialogs.ShowMessage("Cannot read the program file " + path + ": " + failure);
    return false;
  }
  if (notes != nullptr) *notes = end.notes;
  return Report(end, dialogs);
}

bool ParseHexText(AppState& state, std::string_view text, Dialogs& dialogs, size_t bufferSize) {
  TextSource source(text);
  return Report(RunParse(state, source, bufferSize), dialogs);
}
