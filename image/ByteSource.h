#pragma once
// Inputs read in pieces through a caller's buffer, so that no reader needs
// to hold a whole file.
#include <cstddef>
#include <string>
#include <string_view>

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Up to capacity bytes into dst; 0 at the end of the input or on failure.
  virtual size_t Read(char* dst, size_t capacity) = 0;
};

// A regular file, read with plain system calls so that the reason for a
// failure is known. Anything else (a folder, a pipe, a device) is refused
// up front: a pipe or a device could block or never end. The name is bytes,
// whatever their encoding.
class FileSource : public ByteSource {
 public:
  explicit FileSource(const std::string& path);
  ~FileSource() override;
  FileSource(const FileSource&) = delete;
  FileSource& operator=(const FileSource&) = delete;

  size_t Read(char* dst, size_t capacity) override;
  // Empty while everything went well; else the reason, as the system words it.
  const std::string& error() const { return error_; }
  // The reason the file could not be opened was that it does not exist.
  bool missing() const { return missing_; }

 private:
  int fd_ = -1;
  std::string error_;
  bool missing_ = false;
};

class TextSource : public ByteSource {
 public:
  explicit TextSource(std::string_view text) : rest_(text) {}
  size_t Read(char* dst, size_t capacity) override;

 private:
  std::string_view rest_;
};
