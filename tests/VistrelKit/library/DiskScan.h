#pragma once

// Looks for byte strings in every file of a folder, the way someone holding the disk but not the
// key would: the database, its log, the frame files and anything else that lies there.

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "VistrelKit/base/PrivateFiles.h"

namespace vistrel::testing {

struct Needle {
  std::string label;  // what the bytes stand for, for the failure message
  std::string bytes;
};

struct Hit {
  std::string label;
  std::filesystem::path file;
  std::size_t offset = 0;
};

// ASCII letters lowered; every other byte as it is.
inline std::string foldASCII(std::string_view text) {
  std::string folded(text);
  for (char& c : folded) {
    if (c >= 'A' && c <= 'Z') {
      c = static_cast<char>(c - 'A' + 'a');
    }
  }
  return folded;
}

// UTF-8 to UTF-16 code units, little or big endian. The input is well-formed test text.
inline std::string utf16(std::string_view utf8, bool bigEndian) {
  std::string out;
  auto unit = [&](std::uint16_t u) {
    const char high = static_cast<char>(u >> 8);
    const char low = static_cast<char>(u & 0xff);
    out += bigEndian ? high : low;
    out += bigEndian ? low : high;
  };
  for (std::size_t i = 0; i < utf8.size();) {
    const auto c = static_cast<unsigned char>(utf8[i]);
    std::uint32_t code = c;
    std::size_t length = 1;
    if (c >= 0xf0) {
      code = c & 0x07u;
      length = 4;
    } else if (c >= 0xe0) {
      code = c & 0x0fu;
      length = 3;
    } else if (c >= 0xc0) {
      code = c & 0x1fu;
      length = 2;
    }
    for (std::size_t k = 1; k < length && i + k < utf8.size(); ++k) {
      code = (code << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3fu);
    }
    i += length;
    if (code >= 0x10000) {
      code -= 0x10000;
      unit(static_cast<std::uint16_t>(0xd800 + (code >> 10)));
      unit(static_cast<std::uint16_t>(0xdc00 + (code & 0x3ff)));
    } else {
      unit(static_cast<std::uint16_t>(code));
    }
  }
  return out;
}

// The text as it could sit in a file: UTF-8, UTF-16LE and UTF-16BE, each ASCII-folded (the scan
// folds the files the same way, so every mix of ASCII case is caught).
inline std::vector<Needle> textNeedles(const std::string& label, const std::string& text) {
  const std::string folded = foldASCII(text);
  return {{label, folded},
          {label + " (UTF-16LE)", foldASCII(utf16(text, false))},
          {label + " (UTF-16BE)", foldASCII(utf16(text, true))}};
}

// Pieces of a binary value (a sealed blob, a key): any one of them found is a hit. Pieces are
// short enough that one always lies inside a database page even when the value spans several.
inline std::vector<Needle> binaryNeedles(const std::string& label, std::string_view bytes,
                                         std::size_t piece = 16) {
  std::vector<Needle> needles;
  for (std::size_t at = 0; at + piece <= bytes.size(); at += piece) {
    needles.push_back({label, std::string(bytes.substr(at, piece))});
  }
  return needles;
}

inline std::vector<std::filesystem::path> filesUnder(const std::filesystem::path& folder) {
  std::vector<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
    if (entry.is_regular_file()) {
      files.push_back(entry.path());
    }
  }
  return files;
}

// Where the needles occur in the files: the first place per label and file.
// Rabin-Karp per needle length, so thousands of needles cost a few passes over the bytes.
inline std::vector<Hit> scanFiles(const std::vector<std::filesystem::path>& files,
                                  const std::vector<Needle>& needles, bool foldFiles) {
  constexpr std::uint64_t base = 1099511628211ull;
  std::map<std::size_t, std::unordered_multimap<std::uint64_t, std::size_t>> byLength;
  auto hashOf = [&](const char* data, std::size_t length) {
    std::uint64_t h = 0;
    for (std::size_t i = 0; i < length; ++i) {
      h = h * base + static_cast<unsigned char>(data[i]);
    }
    return h;
  };
  for (std::size_t i = 0; i < needles.size(); ++i) {
    const std::string& bytes = needles[i].bytes;
    if (!bytes.empty()) {
      byLength[bytes.size()].emplace(hashOf(bytes.data(), bytes.size()), i);
    }
  }
  std::vector<Hit> hits;
  for (const std::filesystem::path& file : files) {
    const Bytes raw = readFile(file);
    std::string content(raw.begin(), raw.end());
    if (foldFiles) {
      content = foldASCII(content);
    }
    std::set<std::string> found;
    for (const auto& [length, table] : byLength) {
      if (content.size() < length) {
        continue;
      }
      std::uint64_t power = 1;
      for (std::size_t i = 1; i < length; ++i) {
        power *= base;
      }
      std::uint64_t h = hashOf(content.data(), length);
      for (std::size_t at = 0;; ++at) {
        const auto [first, last] = table.equal_range(h);
        for (auto it = first; it != last; ++it) {
          const std::size_t index = it->second;
          if (!found.contains(needles[index].label) &&
              std::memcmp(content.data() + at, needles[index].bytes.data(), length) == 0) {
            found.insert(needles[index].label);
            hits.push_back({needles[index].label, file, at});
          }
        }
        if (at + length >= content.size()) {
          break;
        }
        h = (h - static_cast<unsigned char>(content[at]) * power) * base +
            static_cast<unsigned char>(content[at + length]);
      }
    }
  }
  return hits;
}

}  // namespace vistrel::testing
