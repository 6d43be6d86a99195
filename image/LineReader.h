#pragma once
// Splits a byte stream into lines through one fixed buffer. A line ends at
// CR LF, a lone CR or a lone LF. A line longer than the buffer is folded as
// it streams past (head, length, checksum sum), so memory never grows.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "ByteSource.h"
#include "HexRecord.h"

// Builds the RecordLine of a line that arrives in pieces.
class LineFolder {
 public:
  void Feed(std::string_view piece);
  RecordLine Finish() const;

 private:
  void Put(char c);

  std::array<char, kRecordHeadSize> head_{};
  uint64_t length_ = 0;
  // Spaces seen but not yet put: they are dropped if the line ends here.
  uint64_t pendingSpaces_ = 0;
  // Sum over the character pairs after the first character.
  int64_t pairSum_ = 0;
  std::array<char, 3> last_{};
};

class LineReader {
 public:
  LineReader(ByteSource& source, size_t bufferSize);
  // The next line, valid until the next call; false at the end of input.
  bool Next(RecordLine& line);

 private:
  bool Fill();
  size_t Locate(char c, size_t& cache);
  size_t FindLineEnd();
  void StepOver(size_t lineEnd);
  void SkipPendingLf();
  std::string_view Span(size_t from, size_t to) const;
  RecordLine FoldLongLine();

  ByteSource& source_;
  std::vector<char> buffer_;
  size_t begin_ = 0;
  size_t end_ = 0;
  bool atEnd_ = false;
  // The last line ended at a CR that closed the buffer: an LF next is its pair.
  bool pendingLf_ = false;
  // Position of the next CR / LF at or after begin_ (end_ when none), or kStale.
  size_t nextCr_;
  size_t nextLf_;
  LineFolder folder_;
};
