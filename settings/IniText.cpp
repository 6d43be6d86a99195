#include "IniText.h"

#include <algorithm>
#include <cstdint>

namespace {

constexpr std::string_view kBlanks = " \t";
// QSettings writes value escapes in lower case and key escapes in upper case.
constexpr std::string_view kHexDigits = "0123456789abcdef";
constexpr std::string_view kUpperHexDigits = "0123456789ABCDEF";
// Control characters that QSettings writes as a backslash and a letter.
constexpr std::string_view kNamedControls = "\a\b\f\n\r\t\v";
constexpr std::string_view kControlLetters = "abfnrtv";

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

uint32_t HexValue(char c) {
  if (c <= '9') return static_cast<uint32_t>(c - '0');
  return static_cast<uint32_t>((c | 0x20) - 'a' + 10);
}

std::string_view TrimBlanks(std::string_view text) {
  const size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

void AppendUtf8(std::string& out, uint32_t code) {
  if (code < 0x80) {
    out.push_back(static_cast<char>(code));
  } else if (code < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (code >> 6)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else {
    code = std::min<uint32_t>(code, 0xFFFF);
    out.push_back(static_cast<char>(0xE0 | (code >> 12)));
    out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  }
}

// Reads digits of the given base from text[at]; at ends past them.
uint32_t ReadCode(std::string_view text, size_t& at, uint32_t base) {
  uint32_t code = 0;
  while (at < text.size() && IsHexDigit(text[at]) && HexValue(text[at]) < base) {
    code = std::min<uint32_t>(code * base + HexValue(text[at++]), 0xFFFF);
  }
  return code;
}

// text[at] follows a backslash. An escape that QSettings does not write is
// kept as written, backslash included.
void Unescape(std::string_view text, size_t& at, std::string& out) {
  const char c = text[at];
  const size_t named = kControlLetters.find(c);
  if (named != std::string_view::npos) {
    out.push_back(kNamedControls[named]);
    ++at;
  } else if (c == '"' || c == '\\' || c == '\'' || c == '?') {
    out.push_back(c);
    ++at;
  } else if (c == 'x' && at + 1 < text.size() && IsHexDigit(text[at + 1])) {
    ++at;
    AppendUtf8(out, ReadCode(text, at, 16));
  } else if (c >= '0' && c <= '7') {
    AppendUtf8(out, ReadCode(text, at, 8));
  } else {
    out.push_back('\\');
  }
}

// A value as QSettings reads a text: blanks around it dropped, quotes and
// escapes undone. A comma or semicolon is part of the text, as the user
// meant it, and never splits it into a list or starts a comment.
std::string DecodeValue(std::string_view raw) {
  std::string out;
  size_t kept = 0;  // length of out up to its last character that must stay
  bool quoted = false;
  for (size_t at = 0; at < raw.size();) {
    const char c = raw[at++];
    if (c == '"') {
      quoted = !quoted;
      kept = out.size();
      continue;
    }
    if (c == '\\' && at < raw.size()) {
      Unescape(raw, at, out);
    } else {
      out.push_back(c);
    }
    if (quoted || kBlanks.find(c) == std::string_view::npos) kept = out.size();
  }
  out.resize(kept);
  if (out.starts_with("@@")) out.erase(0, 1);
  return out;
}

void AppendHexEscape(std::string& out, unsigned char c) {
  out += "\\x";
  if (c >= 16) out.push_back(kHexDigits[c / 16]);
  out.push_back(kHexDigits[c % 16]);
}

// As QSettings writes a text, so that it reads the file the same way.
std::string EncodeValue(std::string_view value) {
  std::string out = value.starts_with('@') ? "@" : "";
  bool hexNext = false;  // a hex digit after \x or \0 must be escaped too
  for (const char c : value) {
    const auto byte = static_cast<unsigned char>(c);
    if (hexNext && IsHexDigit(c)) {
      AppendHexEscape(out, byte);
      continue;
    }
    hexNext = false;
    const size_t named = kNamedControls.find(c);
    if (named != std::string_view::npos) {
      out += {'\\', kControlLetters[named]};
    } else if (c == '"' || c == '\\') {
      out += {'\\', c};
    } else if (byte == 0) {
      out += "\\0";
      hexNext = true;
    } else if (byte < 0x20) {
      AppendHexEscape(out, byte);
      hexNext = true;
    } else {
      out.push_back(c);
    }
  }
  const bool quote = value.find_first_of(";,=") != std::string_view::npos ||
                     (!out.empty() && (out.front() == ' ' || out.back() == ' '));
  return quote ? '"' + out + '"' : out;
}

bool IsPlainKeyCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
         c == '-' || c == '.';
}

std::string EncodeKey(std::string_view name) {
  std::string out;
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (IsPlainKeyCharacter(c)) {
      out.push_back(c);
    } else if (c == '/') {
      out.push_back('\\');
    } else {
      out += {'%', kUpperHexDigits[byte / 16], kUpperHexDigits[byte % 16]};
    }
  }
  return out;
}

// %XX, %UXXXX and "\" for "/" undone; a hand-written key reads as it stands.
std::string DecodeKey(std::string_view raw) {
  std::string out;
  for (size_t at = 0; at < raw.size();) {
    const char c = raw[at++];
    const bool wide = c == '%' && at < raw.size() && raw[at] == 'U';
    const size_t digits = wide ? 4 : 2;
    const size_t from = wide ? at + 1 : at;
    if (c == '%' && from + digits <= raw.size() &&
        std::all_of(raw.begin() + from, raw.begin() + from + digits, IsHexDigit)) {
      size_t end = from;
      AppendUtf8(out, ReadCode(raw.substr(0, from + digits), end, 16));
      at = end;
    } else {
      out.push_back(c == '\\' ? '/' : c);
    }
  }
  return out;
}

bool IsGeneral(std::string_view section) {
  if (section.size() != 7) return false;
  return std::equal(section.begin(), section.end(), "general",
                    [](char a, char b) { return (a | 0x20) == b; });
}

}  // namespace

IniText IniText::Parse(std::string_view text) {
  IniText ini;
  bool general = true;
  while (!text.empty()) {
    const size_t cut = std::min(text.find_first_of("\r\n"), text.size());
    const size_t endLength = text.substr(cut).starts_with("\r\n") ? 2 : cut < text.size() ? 1 : 0;
    Line line{std::string(text.substr(0, cut)), std::string(text.substr(cut, endLength)), general,
              std::nullopt};
    text.remove_prefix(cut + endLength);

    const std::string_view content = TrimBlanks(line.text);
    const size_t equals = content.find('=');
    const size_t close = content.find(']');
    if (content.starts_with('[') && close != std::string_view::npos) {
      general = line.general = IsGeneral(content.substr(1, close - 1));
    } else if (!content.starts_with('[') && !content.starts_with(';') && !content.starts_with('#') &&
               equals != std::string_view::npos) {
      const size_t keyStart = line.text.find_first_not_of(kBlanks);
      const size_t equalsAt = line.text.find('=');
      line.key = DecodeKey(TrimBlanks(std::string_view(line.text).substr(keyStart, equalsAt - keyStart)));
      line.valueAt = std::min(line.text.find_first_not_of(kBlanks, equalsAt + 1), line.text.size());
    }
    ini.lines_.push_back(std::move(line));
  }
  return ini;
}

size_t IniText::Find(std::string_view name) const {
  for (size_t i = lines_.size(); i > 0; --i) {
    if (lines_[i - 1].general && lines_[i - 1].key == name) return i - 1;
  }
  return lines_.size();
}

std::optional<std::string> IniText::Value(std::string_view name) const {
  const size_t found = Find(name);
  if (found == lines_.size()) return std::nullopt;
  return DecodeValue(std::string_view(lines_[found].text).substr(lines_[found].valueAt));
}

std::string IniText::LineEnd() const {
  for (const Line& line : lines_) {
    if (!line.end.empty()) return line.end;
  }
  return "\n";
}

// After the last key of [General], else after its header; a file without
// either gets a [General] header first, as QSettings writes it.
size_t IniText::InsertionPoint() {
  for (size_t i = lines_.size(); i > 0; --i) {
    if (lines_[i - 1].general && lines_[i - 1].key) return i;
  }
  for (size_t i = lines_.size(); i > 0; --i) {
    const std::string_view content = TrimBlanks(lines_[i - 1].text);
    if (lines_[i - 1].general && content.starts_with('[') && content.find(']') != content.npos) return i;
  }
  lines_.insert(lines_.begin(), Line{"[General]", LineEnd(), true, std::nullopt});
  return 1;
}

bool IniText::Set(std::string_view name, std::string_view value) {
  const size_t found = Find(name);
  if (found < lines_.size()) {
    if (Value(name) == value) return false;
    Line& line = lines_[found];
    line.text = line.text.substr(0, line.valueAt) + EncodeValue(value);
    return true;
  }
  const size_t at = InsertionPoint();
  if (lines_[at - 1].end.empty()) lines_[at - 1].end = LineEnd();
  const std::string key = EncodeKey(name);
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at),
                Line{key + "=" + EncodeValue(value), LineEnd(), true, std::string(name), key.size() + 1});
  return true;
}

std::string IniText::Text() const {
  std::string text;
  for (const Line& line : lines_) text += line.text + line.end;
  return text;
}

size_t CharacterCount(std::string_view text) {
  size_t count = 0;
  for (size_t at = 0; at < text.size(); ++count) {
    const auto lead = static_cast<unsigned char>(text[at]);
    const size_t length = lead < 0xC2 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : lead < 0xF5 ? 4 : 1;
    const bool whole = at + length <= text.size() &&
                       std::all_of(text.begin() + static_cast<std::ptrdiff_t>(at + 1),
                                   text.begin() + static_cast<std::ptrdiff_t>(at + length),
                                   [](char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; });
    at += whole ? length : 1;
  }
  return count;
}
