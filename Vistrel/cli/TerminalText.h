#pragma once

#include <string>
#include <string_view>

namespace vistrel::cli {

// Text recorded from a screen (window titles, application names, recognised lines) comes from
// other programs and can hold anything. Printed raw, an escape sequence in a title would rewrite
// the user's terminal, and a bidi override would make the text read differently from what it is.

// The text as a terminal may show it: every control character (C0 including tab and newline,
// DEL, C1), every bidi embedding, override and isolate, and every byte that is not part of
// well-formed UTF-8 becomes U+FFFD. One field stays one line.
std::string terminalSafe(std::string_view utf8);

// A serialized JSON document with the same characters written as \u escapes inside its strings.
// Its value is unchanged for any JSON reader; only what a terminal would act on is hidden. C0
// characters are already escaped by the serializer; the input must be valid UTF-8, as the
// serializer's output is.
std::string terminalSafeJSON(std::string_view json);

}  // namespace vistrel::cli
