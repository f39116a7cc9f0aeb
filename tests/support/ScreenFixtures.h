#pragma once

// Realistic desktop screens with known text, drawn by ImageMagick at run time: a document editor
// with a sidebar, a code editor with a file tree and a terminal, a three-pane mail client, a
// multi-column news page and a spreadsheet, each light or dark with a chosen base text size. Every
// string drawn is recorded, so recognition can be scored against the words really visible.
// Shared by the recognition tests and benchmarks (header-only; both include it from the repo root).

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "VistrelKit/imaging/Image.h"
#include "VistrelKit/imaging/Imaging.h"

namespace vistrel::fixtures {

struct Font {
  const char* file;
  double advance;  // mean advance per character in em, measured on ordinary text, plus a margin
};

inline const Font sans{"/usr/share/fonts/truetype/liberation2/LiberationSans-Regular.ttf", 0.50};
inline const Font sansBold{"/usr/share/fonts/truetype/liberation2/LiberationSans-Bold.ttf", 0.54};
inline const Font uiSans{"/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", 0.56};
inline const Font uiSansBold{"/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf", 0.63};
inline const Font serif{"/usr/share/fonts/truetype/liberation2/LiberationSerif-Regular.ttf", 0.46};
inline const Font mono{"/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf", 0.61};
inline const Font monoAlt{"/usr/share/fonts/truetype/liberation2/LiberationMono-Regular.ttf", 0.61};

struct Theme {
  const char* name;
  const char* background;
  const char* panel;
  const char* bar;
  const char* text;
  const char* secondary;
  const char* accent;
  const char* selection;
  const char* selectionText;
  const char* border;
  const char* keyword;
  const char* string;
  const char* comment;
  const char* type;
};

inline const Theme light{"light",   "#ffffff", "#f3f3f3", "#e8e8e8", "#1f1f1f",
                         "#6b6b6b", "#0b62c4", "#cfe2fb", "#111111", "#dadada",
                         "#af00db", "#a31515", "#008000", "#267f99"};
inline const Theme dark{"dark",    "#1e1e1e", "#252526", "#333333", "#d4d4d4",
                        "#8f8f8f", "#4fa3ff", "#094771", "#ffffff", "#3c3c3c",
                        "#c586c0", "#ce9178", "#6a9955", "#4ec9b0"};

// Lower-case letters and digits runs of two or more characters: how recall is counted.
inline std::vector<std::string> tokens(std::string_view text) {
  std::vector<std::string> result;
  std::string current;
  auto flush = [&] {
    if (current.size() >= 2) {
      result.push_back(current);
    }
    current.clear();
  };
  for (char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (std::isalnum(u)) {
      current.push_back(static_cast<char>(std::tolower(u)));
    } else {
      flush();
    }
  }
  flush();
  return result;
}

// Fraction of the expected tokens found among the read ones, each read token used once.
inline double recall(const std::vector<std::string>& expected,
                     const std::vector<std::string>& read) {
  if (expected.empty()) {
    return 1.0;
  }
  std::map<std::string, int> available;
  for (const std::string& token : read) {
    ++available[token];
  }
  std::size_t found = 0;
  for (const std::string& token : expected) {
    auto it = available.find(token);
    if (it != available.end() && it->second > 0) {
      --it->second;
      ++found;
    }
  }
  return static_cast<double>(found) / static_cast<double>(expected.size());
}

class Screen {
 public:
  Screen(std::string name, int width, int height, const Theme& theme)
      : name_(std::move(name)), width_(width), height_(height) {
    mvg_ = "viewbox 0 0 " + std::to_string(width) + " " + std::to_string(height) + "\n";
    rect(0, 0, width, height, theme.background);
  }

  const std::string& name() const { return name_; }
  int width() const { return width_; }
  int height() const { return height_; }
  const std::string& mvg() const { return mvg_; }
  const std::vector<std::string>& words() const { return words_; }

  void rect(int x, int y, int w, int h, const std::string& colour) {
    mvg_ += "fill '" + colour + "' rectangle " + std::to_string(x) + "," + std::to_string(y) + " " +
            std::to_string(x + w - 1) + "," + std::to_string(y + h - 1) + "\n";
  }

  void circle(int cx, int cy, int r, const std::string& colour) {
    mvg_ += "fill '" + colour + "' circle " + std::to_string(cx) + "," + std::to_string(cy) + " " +
            std::to_string(cx + r) + "," + std::to_string(cy) + "\n";
  }

  // Text with its baseline at y. Words count as visible unless told otherwise.
  void text(int x, int y, const Font& font, int px, const std::string& colour,
            const std::string& content, bool counted = true) {
    std::string escaped;
    for (char c : content) {
      if (c == '"' || c == '\\') {
        escaped.push_back('\\');
      }
      escaped.push_back(c);
    }
    mvg_ += "font '" + std::string(font.file) + "' font-size " + std::to_string(px) + " fill '" +
            colour + "' text " + std::to_string(x) + "," + std::to_string(y) + " \"" + escaped +
            "\"\n";
    if (counted) {
      for (std::string& token : tokens(content)) {
        words_.push_back(std::move(token));
      }
    }
  }

  static int textWidth(const Font& font, int px, std::string_view content) {
    return static_cast<int>(font.advance * px * static_cast<double>(content.size()) + 0.5);
  }

 private:
  std::string name_;
  int width_;
  int height_;
  std::string mvg_;
  std::vector<std::string> words_;
};

// The text without as many trailing words (or, for one word, characters) as it takes to fit.
inline std::string fitted(const Font& font, int px, int maxWidth, std::string text) {
  while (!text.empty() && Screen::textWidth(font, px, text) > maxWidth) {
    const auto space = text.find_last_of(' ');
    text.erase(space == std::string::npos ? text.size() - 1 : space);
  }
  return text;
}

// Deterministic word source.
class Words {
 public:
  explicit Words(unsigned seed) : random_(seed) {}

  std::string word() { return pick(vocabulary()); }
  std::string name() { return pick(names()); }

  int number(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(random_); }
  bool chance(double p) { return std::uniform_real_distribution<double>(0, 1)(random_) < p; }

  std::string capitalised(std::string w) {
    if (!w.empty()) {
      w[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(w[0])));
    }
    return w;
  }

  std::string title(int count) {
    std::string result;
    for (int i = 0; i < count; ++i) {
      if (i > 0) {
        result += ' ';
      }
      result += capitalised(word());
    }
    return result;
  }

  // A line of prose no wider than maxWidth pixels.
  std::string line(const Font& font, int px, int maxWidth, bool startSentence) {
    std::string result;
    bool sentenceStart = startSentence;
    while (true) {
      std::string next = word();
      if (chance(0.06)) {
        next = std::to_string(number(2, 2099));
      }
      if (sentenceStart) {
        next = capitalised(next);
      }
      const bool endSentence = chance(0.12);
      const bool comma = !endSentence && chance(0.08);
      std::string piece = (result.empty() ? "" : " ") + next +
                          (endSentence ? "."
                           : comma     ? ","
                                       : "");
      if (Screen::textWidth(font, px, result + piece) > maxWidth) {
        return result.empty() ? next : result;
      }
      result += piece;
      sentenceStart = endSentence;
    }
  }

  std::string identifier() {
    switch (number(0, 2)) {
      case 0:
        return word() + capitalised(word());
      case 1:
        return word() + "_" + word();
      default:
        return word();
    }
  }

  std::string fileName() {
    static const char* extensions[] = {".cpp", ".h", ".py", ".ts", ".json", ".md", ".rs", ".go"};
    return word() + (chance(0.5) ? capitalised(word()) : "") + extensions[number(0, 7)];
  }

  std::string time() {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%d:%02d", number(7, 18), number(0, 59));
    return buffer;
  }

  std::string date() {
    static const char* months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    return std::string(months[number(0, 11)]) + " " + std::to_string(number(1, 28));
  }

 private:
  template <typename List>
  std::string pick(const List& list) {
    return list[std::uniform_int_distribution<std::size_t>(0, list.size() - 1)(random_)];
  }

  static const std::vector<std::string>& vocabulary() {
    static const std::vector<std::string> list = {
        "account",  "action",   "address",  "after",     "agreement",   "almost",    "already",
        "amount",   "analysis", "annual",   "answer",    "application", "approval",  "archive",
        "around",   "article",  "attached", "available", "balance",     "before",    "behind",
        "benefit",  "between",  "billing",  "board",     "bottom",      "branch",    "budget",
        "buffer",   "build",    "business", "button",    "cache",       "calendar",  "campaign",
        "capacity", "careful",  "change",   "channel",   "chapter",     "check",     "client",
        "closing",  "cluster",  "column",   "comment",   "commit",      "company",   "compare",
        "config",   "contract", "control",  "corner",    "county",      "create",    "credit",
        "current",  "customer", "daily",    "dashboard", "database",    "deadline",  "default",
        "delivery", "design",   "detail",   "develop",   "device",      "different", "direct",
        "document", "domain",   "draft",    "during",    "early",       "editor",    "effort",
        "element",  "engine",   "enough",   "entry",     "error",       "estimate",  "event",
        "every",    "example",  "export",   "feature",   "field",       "figure",    "filter",
        "final",    "finance",  "folder",   "follow",    "format",      "forward",   "frame",
        "friday",   "further",  "garden",   "general",   "global",      "green",     "group",
        "handle",   "header",   "health",   "history",   "holiday",     "import",    "include",
        "income",   "index",    "inside",   "install",   "invoice",     "issue",     "journal",
        "kernel",   "language", "launch",   "layout",    "leader",      "letter",    "library",
        "limit",    "listen",   "loader",   "local",     "market",      "matter",    "meeting",
        "member",   "memory",   "message",  "method",    "minute",      "mobile",    "module",
        "monday",   "monthly",  "morning",  "network",   "notice",      "number",    "object",
        "office",   "option",   "order",    "output",    "owner",       "package",   "parser",
        "partner",  "payment",  "people",   "period",    "picture",     "planning",  "please",
        "pointer",  "policy",   "portal",   "position",  "practice",    "preview",   "price",
        "process",  "product",  "profile",  "project",   "proposal",    "public",    "quarter",
        "question", "quickly",  "random",   "reader",    "receipt",     "record",    "refund",
        "region",   "release",  "remote",   "report",    "request",     "result",    "review",
        "revenue",  "river",    "sample",   "schedule",  "school",      "screen",    "search",
        "second",   "section",  "server",   "service",   "session",     "settings",  "shared",
        "shipping", "signal",   "simple",   "social",    "source",      "special",   "spring",
        "staging",  "status",   "storage",  "stream",    "string",      "summary",   "supply",
        "support",  "system",   "table",    "target",    "thanks",      "ticket",    "timeline",
        "today",    "token",    "travel",   "update",    "upload",      "useful",    "value",
        "vendor",   "version",  "village",  "visitor",   "weekly",      "window",    "winter",
        "without",  "worker",   "yellow",   "the",       "and",         "for",       "with",
        "from",     "that",     "this",     "will",      "have",        "your",      "our",
        "about",    "into",     "over",     "then",      "when",        "which",     "would",
        "there",    "their",    "also",     "new",       "more",        "some",      "all",
        "not",      "can",      "was",      "are",       "has",         "but",       "its",
        "may",      "each",     "only",     "other",     "than",        "them",      "these",
        "they",     "were",     "what",     "where",
    };
    return list;
  }

  static const std::vector<std::string>& names() {
    static const std::vector<std::string> list = {
        "Alice Martin", "Bruno Keller",    "Chen Wei",    "Dana Novak",  "Elena Rossi",
        "Farid Haddad", "Greta Lindqvist", "Hugo Silva",  "Ines Moreau", "Jonas Berg",
        "Kiran Patel",  "Lena Fischer",    "Marco Conti", "Nora Quinn",  "Omar Aziz",
        "Priya Raman",  "Rosa Delgado",    "Sven Olsen",  "Tara Brooks", "Victor Hale",
    };
    return list;
  }

  std::mt19937 random_;
};

// ---- Layouts ------------------------------------------------------------------------------------
// Each takes the base text size in pixels (11 to 16); secondary text is a pixel or two smaller but
// never below 11.

inline int smaller(int px, int by) {
  return std::max(11, px - by);
}

// Prose lines filling a column; returns the y after the last line.
inline int paragraphLines(Screen& s, Words& w, int x, int y, int width, int bottom,
                          const Font& font, int px, const char* colour, int lines) {
  const int lineHeight = px * 3 / 2;
  for (int i = 0; i < lines && y + lineHeight <= bottom; ++i) {
    y += lineHeight;
    s.text(x, y, font, px, colour, w.line(font, px, width, i == 0));
  }
  return y;
}

inline Screen documentScreen(const Theme& t, int px, unsigned seed, int width = 1600,
                             int height = 1000) {
  Words w(seed);
  Screen s("document-" + std::string(t.name) + "-" + std::to_string(px), width, height, t);
  const int sidebar = width * 16 / 100;
  const int outline = width * 22 / 100;
  // Title bar and toolbar.
  s.rect(0, 0, width, 34, t.bar);
  s.circle(18, 17, 6, "#ff5f57");
  s.circle(38, 17, 6, "#febc2e");
  s.circle(58, 17, 6, "#28c840");
  s.text(width / 2 - 120, 22, uiSansBold, smaller(px, 1), t.text,
         fitted(uiSansBold, smaller(px, 1), width / 2 + 100, w.title(3) + " - Writer"));
  s.rect(0, 34, width, 40, t.panel);
  int x = sidebar + 16;
  for (int i = 0; i < 6; ++i) {
    const std::string label = w.capitalised(w.word());
    if (x + 40 + Screen::textWidth(uiSans, smaller(px, 2), label) > width - 20) {
      break;
    }
    s.rect(x, 42, 22, 22, t.border);
    s.text(x + 28, 58, uiSans, smaller(px, 2), t.text, label);
    x += 40 + Screen::textWidth(uiSans, smaller(px, 2), label);
  }
  // Sidebar: file list with one selected entry.
  s.rect(0, 74, sidebar, height - 74, t.panel);
  s.text(14, 100, uiSansBold, smaller(px, 2), t.secondary, "DOCUMENTS");
  int y = 112;
  for (int i = 0; y + px * 2 < height - 30; ++i) {
    const std::string item = fitted(uiSans, px, sidebar - 30 - px, w.title(w.number(1, 3)));
    if (i == 3) {
      s.rect(4, y, sidebar - 8, px * 2, t.selection);
    }
    s.rect(14, y + px / 2, px, px, t.border);
    s.text(20 + px, y + px * 3 / 2 - 1, uiSans, px, i == 3 ? t.selectionText : t.text, item);
    y += px * 2 + 4;
  }
  // Document body.
  const int left = sidebar + 60;
  const int bodyWidth = width - sidebar - outline - 120;
  y = 110;
  s.text(left, y + px * 2, sansBold, px * 2, t.text,
         fitted(sansBold, px * 2, bodyWidth, w.title(4)));
  y += px * 3;
  s.text(left, y + px, sans, smaller(px, 1), t.secondary,
         "Last edited by " + w.name() + " on " + w.date());
  y += px * 2;
  while (y < height - 120) {
    y = paragraphLines(s, w, left, y, bodyWidth, height - 60, serif, px + 1, t.text,
                       w.number(3, 6));
    y += px;
    if (w.chance(0.3) && y < height - 160) {
      y += px + 4;
      s.text(left, y, sansBold, px + 3, t.text, fitted(sansBold, px + 3, bodyWidth, w.title(3)));
      y += 4;
    }
  }
  // Outline and comments column.
  const int column = width - outline + 20;
  s.rect(width - outline, 74, 1, height - 98, t.border);
  s.text(column, 104, uiSansBold, px, t.text, "Comments");
  y = 120;
  while (y < height - 140) {
    s.circle(column + 10, y + 10, 10, t.accent);
    s.text(column + 28, y + 14, uiSansBold, smaller(px, 1), t.text, w.name());
    s.text(column + 28, y + 14 + px + 4, uiSans, smaller(px, 2), t.secondary, w.time());
    y = paragraphLines(s, w, column, y + 2 * px + 10, outline - 50, height - 40, uiSans,
                       smaller(px, 1), t.text, w.number(2, 4));
    y += 18;
  }
  // Status bar.
  s.rect(0, height - 24, width, 24, t.bar);
  s.text(12, height - 7, uiSans, 11, t.secondary,
         std::to_string(w.number(200, 4000)) + " words  Page " + std::to_string(w.number(1, 9)) +
             " of 12  English");
  return s;
}

inline Screen codeEditorScreen(const Theme& t, int px, unsigned seed, int width = 1600,
                               int height = 1000) {
  Words w(seed);
  Screen s("code-" + std::string(t.name) + "-" + std::to_string(px), width, height, t);
  const int activity = 48;
  const int tree = width * 17 / 100;
  const int terminalTop = height * 70 / 100;
  s.rect(0, 0, activity, height, t.bar);
  for (int i = 0; i < 5; ++i) {
    s.rect(12, 14 + i * 48, 24, 24, t.secondary);
  }
  // File tree.
  s.rect(activity, 0, tree, height, t.panel);
  s.text(activity + 14, 24, uiSansBold, 11, t.secondary, "EXPLORER");
  int y = 36;
  int depth = 0;
  for (int i = 0; y + px + 8 < height - 24; ++i) {
    const bool folder = w.chance(0.25);
    std::string entry = folder ? w.word() : w.fileName();
    if (i == 6) {
      s.rect(activity, y, tree, px + 8, t.selection);
    }
    const int indent = activity + 14 + depth * 14;
    entry = fitted(uiSans, px, activity + tree - indent - 8, (folder ? "> " : "") + entry);
    s.text(indent, y + px + 2, uiSans, px, i == 6 ? t.selectionText : t.text, entry);
    y += px + 8;
    depth = folder ? std::min(depth + 1, 4) : (w.chance(0.2) ? std::max(depth - 1, 0) : depth);
  }
  // Tabs.
  const int editor = activity + tree;
  s.rect(editor, 0, width - editor, 36, t.bar);
  int x = editor;
  for (int i = 0; i < 4; ++i) {
    const std::string tab = w.fileName();
    const int tabWidth = Screen::textWidth(uiSans, smaller(px, 1), tab) + 40;
    if (x + tabWidth > width) {
      break;
    }
    s.rect(x, 0, tabWidth, 36, i == 0 ? t.background : t.bar);
    s.text(x + 14, 23, uiSans, smaller(px, 1), i == 0 ? t.text : t.secondary, tab);
    x += tabWidth + 1;
  }
  // Code with line numbers and highlighting.
  const int lineHeight = px * 3 / 2 + 2;
  const int gutter = editor + 12;
  const int code = editor + 64;
  const Font& codeFont = (seed % 2) ? mono : monoAlt;
  y = 40;
  int indent = 0;
  const int limit = (width - code - 120) / static_cast<int>(codeFont.advance * px + 1);
  for (int n = 1; y + lineHeight < terminalTop - 4; ++n) {
    y += lineHeight;
    s.text(gutter, y, codeFont, px, t.secondary, std::to_string(n + 40));
    if (w.chance(0.12)) {
      indent = std::max(0, indent - 1);
      s.text(code + indent * 4 * Screen::textWidth(codeFont, px, " "), y, codeFont, px, t.text, "}",
             true);
      continue;
    }
    const int column = code + indent * 4 * Screen::textWidth(codeFont, px, " ");
    const int room = limit - indent * 4;
    switch (w.number(0, 4)) {
      case 0: {
        std::string comment =
            "// " + w.line(codeFont, px, room * static_cast<int>(codeFont.advance * px), false);
        s.text(column, y, codeFont, px, t.comment, comment);
        break;
      }
      case 1: {
        const std::string head = "if";
        const std::string rest = " (" + w.identifier() + " != " + w.identifier() + ") {";
        s.text(column, y, codeFont, px, t.keyword, head);
        s.text(column + Screen::textWidth(codeFont, px, head), y, codeFont, px, t.text, rest);
        indent = std::min(indent + 1, 4);
        break;
      }
      case 2: {
        const std::string type = "auto ";
        const std::string rest = w.identifier() + " = " + w.identifier() + "(";
        const std::string literal = "\"" + w.word() + " " + w.word() + "\"";
        s.text(column, y, codeFont, px, t.keyword, type);
        int cx = column + Screen::textWidth(codeFont, px, type);
        s.text(cx, y, codeFont, px, t.text, rest);
        cx += Screen::textWidth(codeFont, px, rest);
        s.text(cx, y, codeFont, px, t.string, literal);
        cx += Screen::textWidth(codeFont, px, literal);
        s.text(cx, y, codeFont, px, t.text, ");");
        break;
      }
      case 3: {
        const std::string type = w.capitalised(w.word());
        const std::string rest = " " + w.identifier() + " = " + w.identifier() + "." +
                                 w.identifier() + "(" + std::to_string(w.number(0, 512)) + ");";
        s.text(column, y, codeFont, px, t.type, type);
        s.text(column + Screen::textWidth(codeFont, px, type), y, codeFont, px, t.text, rest);
        break;
      }
      default: {
        const std::string head = "return ";
        s.text(column, y, codeFont, px, t.keyword, head);
        s.text(column + Screen::textWidth(codeFont, px, head), y, codeFont, px, t.text,
               w.identifier() + ";");
        break;
      }
    }
  }
  // Minimap: blocks, not text.
  for (int i = 0; i < 60; ++i) {
    s.rect(width - 90, 44 + i * 6, w.number(10, 70), 3, t.border);
  }
  // Terminal.
  s.rect(editor, terminalTop, width - editor, 1, t.border);
  s.text(editor + 14, terminalTop + 24, uiSans, 11, t.text, "TERMINAL");
  s.text(editor + 100, terminalTop + 24, uiSans, 11, t.secondary, "PROBLEMS   OUTPUT");
  y = terminalTop + 30;
  while (y + lineHeight < height - 30) {
    y += lineHeight;
    std::string out = w.chance(0.3) ? "$ make " + w.word() + " --" + w.word()
                                    : "[" + std::to_string(w.number(1, 99)) + "%] " +
                                          w.line(codeFont, px, width - editor - 200, false);
    s.text(editor + 14, y, codeFont, px, t.text, out);
  }
  // Status bar.
  s.rect(0, height - 22, width, 22, "#007acc");
  s.text(12, height - 6, uiSans, 11, "#ffffff",
         "main  " + std::to_string(w.number(0, 9)) + " errors  Ln " +
             std::to_string(w.number(1, 400)) + ", Col " + std::to_string(w.number(1, 80)) +
             "  UTF-8  C++");
  return s;
}

inline Screen mailScreen(const Theme& t, int px, unsigned seed, int width = 1600,
                         int height = 1000) {
  Words w(seed);
  Screen s("mail-" + std::string(t.name) + "-" + std::to_string(px), width, height, t);
  const int folders = width * 14 / 100;
  const int list = width * 30 / 100;
  s.rect(0, 0, folders, height, t.panel);
  s.rect(folders, 0, list, 48, t.panel);
  s.rect(folders + 12, 10, list - 24, 28, t.background);
  s.text(folders + 24, 29, uiSans, smaller(px, 1), t.secondary, "Search mail");
  const char* boxes[] = {"Inbox", "Starred", "Drafts", "Sent", "Archive", "Spam", "Trash"};
  int y = 30;
  for (int i = 0; i < 7; ++i) {
    if (i == 0) {
      s.rect(6, y - 4, folders - 12, px * 2, t.selection);
    }
    s.rect(16, y + 1, px, px - 2, t.secondary);
    s.text(24 + px, y + px, uiSans, px, i == 0 ? t.selectionText : t.text, boxes[i]);
    if (i < 3 && 24 + px + Screen::textWidth(uiSans, px, boxes[i]) + 12 < folders - 40) {
      s.text(folders - 40, y + px, uiSans, smaller(px, 2), t.secondary,
             std::to_string(w.number(1, 240)));
    }
    y += px * 2 + 6;
  }
  y += 16;
  s.text(16, y, uiSansBold, smaller(px, 2), t.secondary, "LABELS");
  y += 12;
  while (y + px * 2 < height - 20) {
    s.circle(22, y + px / 2 + 2, 5, t.accent);
    s.text(36, y + px, uiSans, px, t.text, w.capitalised(w.word()));
    y += px * 2 + 4;
  }
  // Message list.
  s.rect(folders + list, 0, 1, height, t.border);
  const int itemHeight = px * 5;
  y = 48;
  for (int i = 0; y + itemHeight <= height; ++i) {
    if (i == 1) {
      s.rect(folders, y, list, itemHeight, t.selection);
    }
    const char* ink = i == 1 ? t.selectionText : t.text;
    const char* faint = i == 1 ? t.selectionText : t.secondary;
    const int left = folders + 16;
    const int room = list - 32;
    s.text(left, y + px + 6, sansBold, px, ink, w.name());
    const std::string when = w.chance(0.5) ? w.time() : w.date();
    s.text(folders + list - 16 - Screen::textWidth(sans, smaller(px, 1), when) - 8, y + px + 6,
           sans, smaller(px, 1), faint, when);
    s.text(left, y + px * 2 + 10, sans, px, ink, w.line(sans, px, room, true));
    s.text(left, y + px * 3 + 14, sans, smaller(px, 1), faint,
           w.line(sans, smaller(px, 1), room, false));
    s.rect(folders, y + itemHeight - 1, list, 1, t.border);
    y += itemHeight;
  }
  // Reading pane.
  const int pane = folders + list + 40;
  const int paneWidth = width - pane - 40;
  y = 40;
  s.text(pane, y + px * 2, sansBold, px + 6, t.text,
         fitted(sansBold, px + 6, paneWidth, w.title(5)));
  y += px * 3 + 8;
  s.circle(pane + 18, y + 18, 18, t.accent);
  s.text(pane + 48, y + px, sansBold, px, t.text, w.name());
  s.text(pane + 48, y + px * 2 + 6, sans, smaller(px, 1), t.secondary,
         "to me, " + w.name() + "  " + w.date() + ", " + w.time());
  y += 60;
  while (y < height - 80) {
    y = paragraphLines(s, w, pane, y, paneWidth, height - 30, sans, px, t.text, w.number(2, 5));
    y += px;
  }
  return s;
}

inline Screen columnsScreen(const Theme& t, int px, unsigned seed, int width = 1600,
                            int height = 1000) {
  Words w(seed);
  Screen s("columns-" + std::string(t.name) + "-" + std::to_string(px), width, height, t);
  s.rect(0, 0, width, 56, t.bar);
  s.text(24, 36, sansBold, px + 8, t.accent, "The " + w.capitalised(w.word()) + " Times");
  int x = 360;
  for (int i = 0; i < 7; ++i) {
    const std::string link = w.capitalised(w.word());
    s.text(x, 34, sans, px, t.text, link);
    x += Screen::textWidth(sans, px, link) + 28;
  }
  const int columns = 3;
  const int gap = 36;
  const int columnWidth = (width - 2 * 48 - (columns - 1) * gap) / columns;
  for (int c = 0; c < columns; ++c) {
    const int left = 48 + c * (columnWidth + gap);
    int y = 80;
    while (y < height - 120) {
      if (w.chance(0.4)) {
        s.rect(left, y + 8, columnWidth, 90, t.panel);
        y += 100;
      }
      s.text(left, y + px + 10, serif, px + 5, t.text,
             fitted(serif, px + 5, columnWidth, w.title(w.number(3, 5))));
      y += px + 16;
      s.text(
          left, y + px, sans, smaller(px, 2), t.secondary,
          fitted(sans, smaller(px, 2), columnWidth,
                 w.name() + "  " + w.date() + "  " + std::to_string(w.number(2, 9)) + " min read"));
      y += px + 4;
      y = paragraphLines(s, w, left, y, columnWidth, height - 20, sans, px, t.text, w.number(3, 7));
      y += 20;
    }
  }
  return s;
}

inline Screen spreadsheetScreen(const Theme& t, int px, unsigned seed, int width = 1600,
                                int height = 1000) {
  Words w(seed);
  Screen s("sheet-" + std::string(t.name) + "-" + std::to_string(px), width, height, t);
  s.rect(0, 0, width, 40, t.bar);
  s.text(16, 26, uiSans, smaller(px, 1), t.text,
         w.title(2) + " " + std::to_string(w.number(2019, 2025)) + ".xlsx");
  const int rowHeight = px * 2;
  const int header = 70;
  const int rowLabels = 48;
  const int columnWidths[] = {90, 220, 160, 120, 120, 180, 140, 200, 140};
  s.rect(0, 40, width, 30, t.panel);
  int x = rowLabels;
  for (int c = 0; c < 9 && x < width; ++c) {
    s.text(x + columnWidths[c] / 2 - 4, 60, uiSans, 11, t.secondary,
           std::string(1, static_cast<char>('A' + c)), false);
    x += columnWidths[c];
  }
  int y = header;
  for (int r = 1; y + rowHeight <= height; ++r) {
    s.rect(0, y, width, 1, t.border);
    s.text(10, y + rowHeight - px / 2 - 1, uiSans, 11, t.secondary, std::to_string(r));
    x = rowLabels;
    for (int c = 0; c < 9 && x + columnWidths[c] <= width; ++c) {
      std::string cell;
      switch (c) {
        case 0:
          cell = std::to_string(w.number(1000, 9999));
          break;
        case 1:
          cell = w.name();
          break;
        case 2:
        case 7:
          cell = w.title(w.number(1, 2));
          break;
        case 5:
          cell = w.date() + " " + w.time();
          break;
        default:
          cell = std::to_string(w.number(1, 99999)) + "." + std::to_string(w.number(10, 99));
          break;
      }
      const Font& font = r == 1 ? sansBold : sans;
      while (Screen::textWidth(font, px, cell) > columnWidths[c] - 12 && cell.size() > 3) {
        cell.pop_back();
      }
      s.text(x + 6, y + rowHeight - px / 2 - 1, font, px, t.text, cell);
      x += columnWidths[c];
    }
    y += rowHeight;
  }
  x = rowLabels;
  for (int c = 0; c < 9 && x < width; ++c) {
    s.rect(x, 40, 1, height - 40, t.border);
    x += columnWidths[c];
  }
  return s;
}

// The set of screens used for scoring: every layout, light and dark, at 11 to 16 px.
inline std::vector<Screen> screenSet(const std::vector<int>& sizes, unsigned seed = 1) {
  std::vector<Screen> screens;
  for (int px : sizes) {
    for (const Theme* theme : {&light, &dark}) {
      const unsigned s = seed * 1000 + static_cast<unsigned>(px) * 10 + (theme == &dark);
      screens.push_back(documentScreen(*theme, px, s));
      screens.push_back(codeEditorScreen(*theme, px, s + 1));
      screens.push_back(mailScreen(*theme, px, s + 2));
      screens.push_back(columnsScreen(*theme, px, s + 3));
      screens.push_back(spreadsheetScreen(*theme, px, s + 4));
    }
  }
  return screens;
}

// Draws the screen with ImageMagick; absent when `convert` is missing or fails.
inline std::optional<Image> render(const Screen& screen) {
  static std::atomic<int> counter{0};
  const std::filesystem::path folder = std::filesystem::temp_directory_path();
  const std::string stem =
      "vistrel-screen-" + std::to_string(getpid()) + "-" + std::to_string(counter.fetch_add(1));
  const std::filesystem::path mvg = folder / (stem + ".mvg");
  const std::filesystem::path png = folder / (stem + ".png");
  {
    std::ofstream out(mvg);
    out << screen.mvg();
  }
  const std::string command =
      "convert -depth 8 'mvg:" + mvg.string() + "' 'png24:" + png.string() + "' 2>/dev/null";
  const int status = std::system(command.c_str());
  std::optional<Image> image;
  if (status == 0) {
    std::ifstream in(png, std::ios::binary);
    const Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    image = Imaging::decodePNG(bytes);
  }
  std::error_code ignored;
  std::filesystem::remove(mvg, ignored);
  std::filesystem::remove(png, ignored);
  return image;
}

}  // namespace vistrel::fixtures
