#include "LineReader.h"

#include <algorithm>
#include <cstring>

#include "HexCodec.h"

namespace {
constexpr size_t kStale = static_cast<size_t>(-1);
constexpr size_t kMinBufferSize = 2;
}  // namespace

void LineFolder::Put(char c) {
  if (length_ < head_.size()) head_[length_] = c;
  // Characters after the first pair up from position 1.
  if (length_ >= 2 && length_ % 2 == 0) pairSum_ += HexPairValue(last_[2], c);
  last_ = {last_[1], last_[2], c};
  ++length_;
}

void LineFolder::Feed(std::string_view piece) {
  for (const char c : piece) {
    if (c == ' ') {
      ++pendingSpaces_;
      continue;
    }
    for (; pendingSpaces_ > 0; --pendingSpaces_) Put(' ');
    Put(c);
  }
}

RecordLine LineFolder::Finish() const {
  RecordLine line;
  line.text = {head_.data(), static_cast<size_t>(std::min<uint64_t>(length_, head_.size()))};
  line.length = length_;
  if (length_ >= 11) {
    // The checksum field is the last pair when the part after the first
    // character has even length; otherwise it straddles the last sum pair.
    const bool evenRest = (length_ - 1) % 2 == 0;
    const int32_t counted =
        evenRest ? HexPairValue(last_[1], last_[2]) : HexPairValue(last_[0], last_[1]);
    line.bodySum = pairSum_ - counted;
    line.check[0] = last_[1];
    line.check[1] = last_[2];
  }
  return line;
}

LineReader::LineReader(ByteSource& source, size_t bufferSize)
    : source_(source),
      buffer_(std::max(bufferSize, kMinBufferSize)),
      nextCr_(kStale),
      nextLf_(kStale) {}

std::string_view LineReader::Span(size_t from, size_t to) const {
  return {buffer_.data() + from, to - from};
}

bool LineReader::Fill() {
  if (atEnd_) return false;
  if (begin_ > 0) {
    std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
  }
  nextCr_ = nextLf_ = kStale;
  const size_t got = source_.Read(buffer_.data() + end_, buffer_.size() - end_);
  if (got == 0) {
    atEnd_ = true;
    return false;
  }
  end_ += got;
  return true;
}

// Remembers where c was found, so that a file with only CR or only LF line
// ends is not searched to the end of the buffer for every line.
size_t LineReader::Locate(char c, size_t& cache) {
  if (cache == kStale || cache < begin_) {
    const void* hit = std::memchr(buffer_.data() + begin_, c, end_ - begin_);
    cache = hit ? static_cast<size_t>(static_cast<const char*>(hit) - buffer_.data()) : end_;
  }
  return cache;
}

size_t LineReader::FindLineEnd() { return std::min(Locate('\r', nextCr_), Locate('\n', nextLf_)); }

void LineReader::StepOver(size_t lineEnd) {
  const bool cr = buffer_[lineEnd] == '\r';
  begin_ = lineEnd + 1;
  if (!cr) return;
  if (begin_ == end_) {
    pendingLf_ = true;
  } else if (buffer_[begin_] == '\n') {
    ++begin_;
  }
}

void LineReader::SkipPendingLf() {
  if (!pendingLf_) return;
  pendingLf_ = false;
  if ((begin_ < end_ || Fill()) && buffer_[begin_] == '\n') ++begin_;
}

RecordLine LineReader::FoldLongLine() {
  folder_ = LineFolder();
  for (;;) {
    const size_t lineEnd = FindLineEnd();
    folder_.Feed(Span(begin_, lineEnd));
    if (lineEnd < end_) {
      StepOver(lineEnd);
      break;
    }
    begin_ = end_;
    if (!Fill()) break;
  }
  return folder_.Finish();
}

bool LineReader::Next(RecordLine& line) {
  SkipPendingLf();
  if (begin_ == end_ && !Fill()) return false;
  for (;;) {
    const size_t lineEnd = FindLineEnd();
    if (lineEnd < end_) {
      line = WholeLine(Span(begin_, lineEnd));
      StepOver(lineEnd);
      return true;
    }
    if (begin_ == 0 && end_ == buffer_.size()) {
      line = FoldLongLine();
      return true;
    }
    if (!Fill()) {
      line = WholeLine(Span(begin_, end_));
      begin_ = end_;
      return true;
    }
  }
}
