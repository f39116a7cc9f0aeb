#include "Vistrel/cli/TerminalText.h"

#include <cstdint>
#include <cstdio>
#include <optional>

namespace vistrel::cli {

namespace {

constexpr std::string_view replacementCharacter = "\xEF\xBF\xBD";

bool isHidden(char32_t c) {
  return c < 0x20 || (c >= 0x7F && c <= 0x9F) || (c >= 0x202A && c <= 0x202E) ||
         (c >= 0x2066 && c <= 0x2069);
}

struct Decoded {
  char32_t character;
  std::size_t length;
};

// The well-formed UTF-8 character at the start of the text (no overlong forms, no surrogates,
// nothing past U+10FFFF), or nothing.
std::optional<Decoded> decode(std::string_view text) {
  const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(text[i]); };
  const std::uint8_t lead = byte(0);
  if (lead < 0x80)
    return Decoded{lead, 1};
  std::size_t length = 0;
  char32_t c = 0;
  char32_t minimum = 0;
  if ((lead & 0xE0) == 0xC0) {
    length = 2, c = lead & 0x1F, minimum = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, c = lead & 0x0F, minimum = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, c = lead & 0x07, minimum = 0x10000;
  } else {
    return std::nullopt;
  }
  if (text.size() < length)
    return std::nullopt;
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80)
      return std::nullopt;
    c = (c << 6) | (byte(i) & 0x3F);
  }
  if (c < minimum || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
    return std::nullopt;
  return Decoded{c, length};
}

}  // namespace

std::string terminalSafe(std::string_view utf8) {
  std::string result;
  result.reserve(utf8.size());
  while (!utf8.empty()) {
    const std::optional<Decoded> next = decode(utf8);
    if (!next) {
      result += replacementCharacter;
      utf8.remove_prefix(1);
      continue;
    }
    if (isHidden(next->character))
      result += replacementCharacter;
    else
      result += utf8.substr(0, next->length);
    utf8.remove_prefix(next->length);
  }
  return result;
}

std::string terminalSafeJSON(std::string_view json) {
  std::string result;
  result.reserve(json.size());
  while (!json.empty()) {
    const std::optional<Decoded> next = decode(json);
    const std::size_t length = next ? next->length : 1;
    if (next && isHidden(next->character) && next->character >= 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04X", static_cast<unsigned>(next->character));
      result += escape;
    } else {
      result += json.substr(0, length);
    }
    json.remove_prefix(length);
  }
  return result;
}

}  // namespace vistrel::cli
