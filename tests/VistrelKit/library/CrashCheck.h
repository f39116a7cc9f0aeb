#pragma once

// What the crash driver and the crash-safety test agree on.

#include <cstdint>
#include <cstdio>
#include <string>

#include "VistrelKit/base/Bytes.h"

namespace vistrel::crash {

// 2025-03-09 12:00 UTC: the driver's first frame comes after it.
inline constexpr double firstTs = 1741521600.0;

// FNV-1a, enough to tell one random image from another.
inline std::uint64_t byteHash(const Bytes& bytes) {
  std::uint64_t hash = 14695981039346656037ull;
  for (const std::uint8_t byte : bytes) {
    hash = (hash ^ byte) * 1099511628211ull;
  }
  return hash;
}

inline std::string hashText(std::uint64_t hash) {
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
  return text;
}

// Seconds written so that reading them back gives the same double.
inline std::string tsText(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.17g", seconds);
  return text;
}

}  // namespace vistrel::crash
