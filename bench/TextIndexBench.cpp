// Indexing and verifying the text of one text-heavy screen: about 600 recognized lines and
// 5,000 words. Targets: indexing (terms and their tokens) under 5 ms, `matches` of a three-word
// query under 0.5 ms.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "VistrelKit/keys/FrameKeys.h"
#include "VistrelKit/library/FrameRecords.h"
#include "VistrelKit/search/Highlighter.h"
#include "VistrelKit/search/SearchQuery.h"
#include "VistrelKit/search/TextIndex.h"

namespace vistrel {
namespace {

constexpr int screenLines = 600;
constexpr int screenWords = 5000;

// A vocabulary shaped like English on screen: short common words, longer rare ones, some
// capitalised names, a few accented words, numbers and the punctuation that sits between them.
std::vector<std::string> makeVocabulary(std::mt19937& random) {
  static const std::vector<std::string> common = {
      "the",  "of",   "and",   "to",     "in",       "is",    "for",  "on",   "with", "as",
      "at",   "by",   "from",  "or",     "this",     "that",  "it",   "be",   "are",  "was",
      "not",  "you",  "your",  "all",    "new",      "more",  "file", "edit", "view", "help",
      "open", "save", "close", "search", "settings", "inbox", "reply"};
  static const std::vector<std::string> onsets = {"b", "br", "c", "ch", "d", "f", "g",  "gr",
                                                  "h", "k",  "l", "m",  "n", "p", "pr", "r",
                                                  "s", "st", "t", "tr", "v", "w"};
  static const std::vector<std::string> vowels = {"a", "e", "i", "o", "u", "ea", "ou", "io"};
  static const std::vector<std::string> codas = {"", "n", "r", "s", "t", "nd", "ng", "st", "ck"};
  static const std::vector<std::string> accented = {"café",  "naïve",  "résumé", "über",
                                                    "señor", "façade", "Zürich", "Ørsted"};
  std::vector<std::string> vocabulary = common;
  std::uniform_int_distribution<int> syllables(1, 4);
  auto pick = [&random](const std::vector<std::string>& list) {
    return list[std::uniform_int_distribution<std::size_t>(0, list.size() - 1)(random)];
  };
  while (vocabulary.size() < 3000) {
    std::string word;
    for (int s = syllables(random); s > 0; --s) {
      word += pick(onsets) + pick(vowels) + pick(codas);
    }
    if (vocabulary.size() % 7 == 0) {
      word[0] = static_cast<char>(word[0] - 'a' + 'A');
    }
    vocabulary.push_back(word);
  }
  vocabulary.insert(vocabulary.end(), accented.begin(), accented.end());
  return vocabulary;
}

std::vector<TextLine> makeScreen() {
  std::mt19937 random(4471);
  const std::vector<std::string> vocabulary = makeVocabulary(random);
  // Zipf-like: the rank-r word is chosen with weight 1 / (r + 1).
  std::vector<double> weights;
  for (std::size_t r = 0; r < vocabulary.size(); ++r) {
    weights.push_back(1.0 / static_cast<double>(r + 1));
  }
  std::discrete_distribution<std::size_t> word(weights.begin(), weights.end());
  std::uniform_int_distribution<int> percent(0, 99);
  std::uniform_int_distribution<int> number(0, 99999);
  static const std::vector<std::string> separators = {" ",  " ",   " ",   " ",  " ",  ", ",  ". ",
                                                      ": ", " — ", " / ", " (", ") ", " · ", "’s "};
  std::vector<TextLine> lines;
  int words = 0;
  for (int i = 0; i < screenLines; ++i) {
    const int wordsLeft = screenWords - words;
    const int linesLeft = screenLines - i;
    const int count =
        i + 1 == screenLines
            ? wordsLeft
            : std::clamp(wordsLeft / linesLeft + percent(random) % 7 - 3, 1, wordsLeft);
    std::string text;
    for (int w = 0; w < count; ++w) {
      if (w > 0) {
        text += separators[static_cast<std::size_t>(percent(random)) % separators.size()];
      }
      text += percent(random) < 6 ? "#" + std::to_string(number(random)) : vocabulary[word(random)];
    }
    words += count;
    const double y = static_cast<double>(i) / screenLines;
    lines.push_back({text, 0.02, y, 0.6, 0.9 / screenLines});
  }
  return lines;
}

const FrameMeta& screen() {
  static const FrameMeta meta{"Mail", "org.gnome.Evolution", "Inbox — Mail", 1600,
                              1000,   makeScreen()};
  return meta;
}

const FrameKeys& keys() {
  static const FrameKeys frameKeys = FrameKeys::derive(generateKey());
  return frameKeys;
}

// The `terms` value of a frame: every term's token, sorted, joined with spaces.
std::string termsColumn(std::string_view text) {
  std::vector<std::string> tokens;
  for (const std::string& term : TextIndex::indexTerms(text)) {
    tokens.push_back(keys().token(term));
  }
  std::sort(tokens.begin(), tokens.end());
  std::string column;
  for (const std::string& token : tokens) {
    if (!column.empty()) {
      column += ' ';
    }
    column += token;
  }
  return column;
}

void BM_IndexTerms(benchmark::State& state) {
  const std::string text = screen().indexText();
  state.counters["words"] = static_cast<double>(TextIndex::splitWords(text).size());
  state.counters["terms"] = static_cast<double>(TextIndex::indexTerms(text).size());
  for (auto _ : state) {
    benchmark::DoNotOptimize(TextIndex::indexTerms(text));
  }
}
BENCHMARK(BM_IndexTerms)->Unit(benchmark::kMillisecond);

void BM_IndexTermsAndTokens(benchmark::State& state) {
  const std::string text = screen().indexText();
  for (auto _ : state) {
    benchmark::DoNotOptimize(termsColumn(text));
  }
}
BENCHMARK(BM_IndexTermsAndTokens)->Unit(benchmark::kMillisecond);

void BM_MatchesThreeWords(benchmark::State& state) {
  const std::string text = screen().indexText();
  // Three words that begin words of the last lines, so the whole text must be read.
  const std::vector<std::string> last = TextIndex::splitWords(screen().lines.back().text);
  const SearchQuery query = SearchQuery::parse(last.at(0).substr(0, 3) + " " + last.at(1) + " " +
                                               last.back().substr(0, 2));
  if (!query.matches(text)) {
    state.SkipWithError("the query does not match its own screen");
    return;
  }
  for (auto _ : state) {
    benchmark::DoNotOptimize(query.matches(text));
  }
}
BENCHMARK(BM_MatchesThreeWords)->Unit(benchmark::kMicrosecond);

void BM_LinesMatchingThreeWords(benchmark::State& state) {
  const std::vector<std::string> last = TextIndex::splitWords(screen().lines.back().text);
  const SearchQuery query = SearchQuery::parse(last.at(0) + " " + last.at(1) + " " + last.back());
  for (auto _ : state) {
    benchmark::DoNotOptimize(Highlighter::linesMatching(screen().lines, query));
  }
}
BENCHMARK(BM_LinesMatchingThreeWords)->Unit(benchmark::kMicrosecond);

// About as many bytes (10,000 characters) in a script without spaces or ASCII, where every
// character goes through ICU.
void BM_IndexTermsJapanese(benchmark::State& state) {
  static const std::u32string kana =
      U"あいうえおかきくけこさしすせそたちつてとなにぬねのカキクケコ東京都大阪府";
  std::mt19937 random(7);
  std::uniform_int_distribution<std::size_t> pick(0, kana.size() - 1);
  std::string text;
  for (int i = 0; i < 10000; ++i) {
    const char32_t c = i % 9 == 8 ? U'、' : kana[pick(random)];
    char buffer[4];
    // Every character used here has a three-byte UTF-8 form.
    buffer[0] = static_cast<char>(0xE0 | (c >> 12));
    buffer[1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    buffer[2] = static_cast<char>(0x80 | (c & 0x3F));
    text.append(buffer, 3);
  }
  for (auto _ : state) {
    benchmark::DoNotOptimize(TextIndex::indexTerms(text));
  }
}
BENCHMARK(BM_IndexTermsJapanese)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace vistrel
