#include "VistrelKit/library/FrameMetaScanner.h"

#include <charconv>
#include <cstdint>
#include <string>

namespace vistrel {

namespace {

// A cursor over the text. Every reading function returns false, leaving the cursor anywhere, when
// the text is not of the plain shape; the scan then gives up as a whole.
class Scanner {
 public:
  explicit Scanner(std::string_view text) : text_(text) {}

  bool atEnd() {
    skipSpace();
    return at_ == text_.size();
  }

  // The next non-space character is `c`; it is consumed.
  bool take(char c) {
    skipSpace();
    if (at_ < text_.size() && text_[at_] == c) {
      ++at_;
      return true;
    }
    return false;
  }

  bool peekIs(char c) {
    skipSpace();
    return at_ < text_.size() && text_[at_] == c;
  }

  bool takeNull() {
    skipSpace();
    if (text_.substr(at_, 4) == "null") {
      at_ += 4;
      return true;
    }
    return false;
  }

  // A JSON string, unescaped, checked as the general decoder checks it: no raw control
  // characters, well-formed UTF-8, escapes that name whole characters.
  bool string(std::string& out) {
    if (!take('"')) {
      return false;
    }
    out.clear();
    while (at_ < text_.size()) {
      const std::size_t start = at_;
      while (at_ < text_.size() && isPlain(static_cast<unsigned char>(text_[at_]))) {
        ++at_;
      }
      out.append(text_, start, at_ - start);
      if (at_ == text_.size()) {
        return false;
      }
      const auto c = static_cast<unsigned char>(text_[at_]);
      if (c == '"') {
        ++at_;
        return true;
      }
      if (c == '\\') {
        if (!escape(out)) {
          return false;
        }
      } else if (c < 0x20 || !utf8Sequence(out)) {
        return false;
      }
    }
    return false;
  }

  // A JSON number as the general decoder converts it: integers through 64-bit integers, the
  // rest (and integers too large for them) as the nearest double.
  bool number(double& value) {
    std::string_view token;
    bool integral = false;
    if (!numberToken(token, integral)) {
      return false;
    }
    const char* first = token.data();
    const char* last = first + token.size();
    if (integral) {
      if (token.front() == '-') {
        std::int64_t whole = 0;
        if (std::from_chars(first, last, whole).ec == std::errc()) {
          value = static_cast<double>(whole);
          return true;
        }
      } else {
        std::uint64_t whole = 0;
        if (std::from_chars(first, last, whole).ec == std::errc()) {
          value = static_cast<double>(whole);
          return true;
        }
      }
    }
    const auto [end, error] = std::from_chars(first, last, value);
    return error == std::errc() && end == last;
  }

  // An integer written without fraction or exponent that fits 64 bits.
  bool integer(std::int64_t& value) {
    std::string_view token;
    bool integral = false;
    if (!numberToken(token, integral) || !integral) {
      return false;
    }
    const auto [end, error] = std::from_chars(token.data(), token.data() + token.size(), value);
    return error == std::errc() && end == token.data() + token.size();
  }

 private:
  static bool isPlain(unsigned char c) { return c >= 0x20 && c < 0x80 && c != '"' && c != '\\'; }
  static bool isDigit(char c) { return c >= '0' && c <= '9'; }

  void skipSpace() {
    while (at_ < text_.size() &&
           (text_[at_] == ' ' || text_[at_] == '\n' || text_[at_] == '\r' || text_[at_] == '\t')) {
      ++at_;
    }
  }

  std::size_t digitsFrom(std::size_t from) const {
    std::size_t end = from;
    while (end < text_.size() && isDigit(text_[end])) {
      ++end;
    }
    return end - from;
  }

  // -?(0|[1-9][0-9]*)(\.[0-9]+)?([eE][+-]?[0-9]+)?
  bool numberToken(std::string_view& token, bool& integral) {
    skipSpace();
    const std::size_t start = at_;
    std::size_t end = at_;
    if (end < text_.size() && text_[end] == '-') {
      ++end;
    }
    const std::size_t whole = digitsFrom(end);
    if (whole == 0 || (whole > 1 && text_[end] == '0')) {
      return false;
    }
    end += whole;
    integral = true;
    if (end < text_.size() && text_[end] == '.') {
      const std::size_t fraction = digitsFrom(end + 1);
      if (fraction == 0) {
        return false;
      }
      end += 1 + fraction;
      integral = false;
    }
    if (end < text_.size() && (text_[end] == 'e' || text_[end] == 'E')) {
      ++end;
      if (end < text_.size() && (text_[end] == '+' || text_[end] == '-')) {
        ++end;
      }
      const std::size_t exponent = digitsFrom(end);
      if (exponent == 0) {
        return false;
      }
      end += exponent;
      integral = false;
    }
    token = text_.substr(start, end - start);
    at_ = end;
    return true;
  }

  bool hexUnit(std::uint32_t& unit) {
    if (at_ + 4 > text_.size()) {
      return false;
    }
    unit = 0;
    for (int i = 0; i < 4; ++i) {
      const char c = text_[at_++];
      unit <<= 4;
      if (c >= '0' && c <= '9') {
        unit |= static_cast<std::uint32_t>(c - '0');
      } else if (c >= 'a' && c <= 'f') {
        unit |= static_cast<std::uint32_t>(c - 'a' + 10);
      } else if (c >= 'A' && c <= 'F') {
        unit |= static_cast<std::uint32_t>(c - 'A' + 10);
      } else {
        return false;
      }
    }
    return true;
  }

  static void appendUTF8(std::string& out, std::uint32_t code) {
    if (code < 0x80) {
      out += static_cast<char>(code);
    } else if (code < 0x800) {
      out += static_cast<char>(0xC0 | (code >> 6));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      out += static_cast<char>(0xE0 | (code >> 12));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (code >> 18));
      out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    }
  }

  // After a backslash. A \u escape of a surrogate must be a high one followed by a low one.
  bool escape(std::string& out) {
    ++at_;
    if (at_ == text_.size()) {
      return false;
    }
    const char c = text_[at_++];
    switch (c) {
      case '"':
        out += '"';
        return true;
      case '\\':
        out += '\\';
        return true;
      case '/':
        out += '/';
        return true;
      case 'b':
        out += '\b';
        return true;
      case 'f':
        out += '\f';
        return true;
      case 'n':
        out += '\n';
        return true;
      case 'r':
        out += '\r';
        return true;
      case 't':
        out += '\t';
        return true;
      case 'u':
        break;
      default:
        return false;
    }
    std::uint32_t unit = 0;
    if (!hexUnit(unit) || (unit >= 0xDC00 && unit <= 0xDFFF)) {
      return false;
    }
    if (unit >= 0xD800 && unit <= 0xDBFF) {
      std::uint32_t low = 0;
      if (text_.substr(at_, 2) != "\\u") {
        return false;
      }
      at_ += 2;
      if (!hexUnit(low) || low < 0xDC00 || low > 0xDFFF) {
        return false;
      }
      unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
    }
    appendUTF8(out, unit);
    return true;
  }

  // One well-formed UTF-8 sequence of two to four bytes: no overlong forms, no surrogates,
  // nothing above U+10FFFF.
  bool utf8Sequence(std::string& out) {
    const auto byte = [&](std::size_t i) {
      return at_ + i < text_.size() ? static_cast<unsigned char>(text_[at_ + i]) : 0;
    };
    const auto in = [](unsigned char c, unsigned char low, unsigned char high) {
      return c >= low && c <= high;
    };
    const unsigned char lead = byte(0);
    std::size_t length = 0;
    if (in(lead, 0xC2, 0xDF)) {
      length = in(byte(1), 0x80, 0xBF) ? 2 : 0;
    } else if (lead == 0xE0) {
      length = in(byte(1), 0xA0, 0xBF) && in(byte(2), 0x80, 0xBF) ? 3 : 0;
    } else if (in(lead, 0xE1, 0xEC) || in(lead, 0xEE, 0xEF)) {
      length = in(byte(1), 0x80, 0xBF) && in(byte(2), 0x80, 0xBF) ? 3 : 0;
    } else if (lead == 0xED) {
      length = in(byte(1), 0x80, 0x9F) && in(byte(2), 0x80, 0xBF) ? 3 : 0;
    } else if (lead == 0xF0) {
      length =
          in(byte(1), 0x90, 0xBF) && in(byte(2), 0x80, 0xBF) && in(byte(3), 0x80, 0xBF) ? 4 : 0;
    } else if (in(lead, 0xF1, 0xF3)) {
      length =
          in(byte(1), 0x80, 0xBF) && in(byte(2), 0x80, 0xBF) && in(byte(3), 0x80, 0xBF) ? 4 : 0;
    } else if (lead == 0xF4) {
      length =
          in(byte(1), 0x80, 0x8F) && in(byte(2), 0x80, 0xBF) && in(byte(3), 0x80, 0xBF) ? 4 : 0;
    }
    if (length == 0) {
      return false;
    }
    out.append(text_, at_, length);
    at_ += length;
    return true;
  }

  std::string_view text_;
  std::size_t at_ = 0;
};

// Runs `member(key)` for every member of an object; stops at the first false.
template <typename Member>
bool members(Scanner& scanner, Member&& member) {
  if (!scanner.take('{')) {
    return false;
  }
  if (scanner.take('}')) {
    return true;
  }
  std::string key;
  do {
    if (!scanner.string(key) || !scanner.take(':') || !member(key)) {
      return false;
    }
  } while (scanner.take(','));
  return scanner.take('}');
}

// Marks a key as seen; false when it was seen before.
bool firstTime(unsigned& seen, unsigned bit) {
  if (seen & bit) {
    return false;
  }
  seen |= bit;
  return true;
}

bool optionalString(Scanner& scanner, std::optional<std::string>& value) {
  if (scanner.takeNull()) {
    value.reset();
    return true;
  }
  std::string text;
  if (!scanner.string(text)) {
    return false;
  }
  value = std::move(text);
  return true;
}

bool line(Scanner& scanner, TextLine& line) {
  unsigned seen = 0;
  const bool read = members(scanner, [&](const std::string& key) {
    if (key == "text") {
      return firstTime(seen, 1) && scanner.string(line.text);
    }
    if (key == "x") {
      return firstTime(seen, 2) && scanner.number(line.x);
    }
    if (key == "y") {
      return firstTime(seen, 4) && scanner.number(line.y);
    }
    if (key == "w") {
      return firstTime(seen, 8) && scanner.number(line.w);
    }
    if (key == "h") {
      return firstTime(seen, 16) && scanner.number(line.h);
    }
    return false;
  });
  return read && seen == 31;
}

bool lines(Scanner& scanner, std::vector<TextLine>& lines) {
  if (!scanner.take('[')) {
    return false;
  }
  if (scanner.take(']')) {
    return true;
  }
  do {
    if (!line(scanner, lines.emplace_back())) {
      return false;
    }
  } while (scanner.take(','));
  return scanner.take(']');
}

}  // namespace

std::optional<FrameMeta> scanPlainFrameMeta(std::string_view json) {
  Scanner scanner(json);
  FrameMeta meta;
  unsigned seen = 0;
  const bool read = members(scanner, [&](const std::string& key) {
    if (key == "appName") {
      return firstTime(seen, 1) && scanner.string(meta.appName);
    }
    if (key == "width") {
      return firstTime(seen, 2) && scanner.integer(meta.width);
    }
    if (key == "height") {
      return firstTime(seen, 4) && scanner.integer(meta.height);
    }
    if (key == "lines") {
      return firstTime(seen, 8) && lines(scanner, meta.lines);
    }
    if (key == "bundleID") {
      return firstTime(seen, 16) && optionalString(scanner, meta.bundleID);
    }
    if (key == "title") {
      return firstTime(seen, 32) && optionalString(scanner, meta.title);
    }
    return false;
  });
  if (!read || (seen & 15) != 15 || !scanner.atEnd()) {
    return std::nullopt;
  }
  return meta;
}

}  // namespace vistrel
