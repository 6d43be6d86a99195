#pragma once
// The text of an INI settings file in the layout that QSettings reads and
// writes, edited one line at a time: a change touches only the line of its
// value, so comments, other sections and hand-written lines stay as they are.
// Values are bytes (a path need not be UTF-8). Only keys of the [General]
// section (or before any section) are seen, as QSettings sees top-level keys.
// A line that cannot be read is kept as written and otherwise skipped.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class IniText {
 public:
  // A line that is none of blank, comment (";" or "#"), [section] or
  // key=value sets nothing and leaves the section as it was.
  static IniText Parse(std::string_view text);

  // The value of the last line that sets name, read as written: QSettings'
  // quotes and backslash escapes are undone, anything else is kept.
  std::optional<std::string> Value(std::string_view name) const;
  // Makes name hold value. False when it held that value already, so that
  // nothing needs writing.
  bool Set(std::string_view name, std::string_view value);
  std::string Text() const;

 private:
  struct Line {
    std::string text;  // without its line end
    std::string end;   // "\r\n", "\r", "\n" or "" on a last line without one
    bool general = false;
    std::optional<std::string> key;  // decoded, on a key=value line
    size_t valueAt = 0;              // where the value starts in text
  };
  // Index of the last line that sets name; size() when none does.
  size_t Find(std::string_view name) const;
  size_t InsertionPoint();
  std::string LineEnd() const;

  std::vector<Line> lines_;
};

// Characters of a text that should be UTF-8: each valid sequence is one, so
// is each byte that belongs to none.
size_t CharacterCount(std::string_view text);
