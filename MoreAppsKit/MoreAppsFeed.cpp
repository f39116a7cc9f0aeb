#include "MoreAppsKit/MoreAppsFeed.h"

#include <unicode/ubrk.h>
#include <unicode/uchar.h>
#include <unicode/utext.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <limits>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>

#include "MoreAppsKit/MoreAppsAddress.h"
#include "MoreAppsKit/MoreAppsSite.h"

namespace vistrel {
namespace {

using nlohmann::json;

constexpr std::size_t maxIdLength = 60;
constexpr std::size_t maxBundleIdLength = 100;
constexpr std::size_t maxNameLength = 40;
constexpr std::size_t maxDetailLength = 120;
constexpr std::size_t maxSymbolLength = 60;
constexpr std::int64_t maxEntries = 60;

struct BreakIteratorCloser {
  void operator()(UBreakIterator* iterator) const { ubrk_close(iterator); }
};
struct TextCloser {
  void operator()(UText* text) const { utext_close(text); }
};

// The byte offsets at which each of the text's first `limit` user-perceived characters ends;
// one more entry than `limit` tells a longer text. The text is valid UTF-8 (the JSON parser
// checked it).
std::vector<std::size_t> characterEnds(std::string_view text, std::size_t limit) {
  std::vector<std::size_t> ends;
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<UText, TextCloser> utext(
      utext_openUTF8(nullptr, text.data(), static_cast<int64_t>(text.size()), &status));
  std::unique_ptr<UBreakIterator, BreakIteratorCloser> characters(
      ubrk_open(UBRK_CHARACTER, "", nullptr, 0, &status));
  if (U_FAILURE(status))
    return ends;
  ubrk_setUText(characters.get(), utext.get(), &status);
  if (U_FAILURE(status))
    return ends;
  ubrk_first(characters.get());
  for (int32_t end = ubrk_next(characters.get()); end != UBRK_DONE && ends.size() <= limit;
       end = ubrk_next(characters.get())) {
    ends.push_back(static_cast<std::size_t>(end));
  }
  return ends;
}

bool hasAtMostCharacters(std::string_view text, std::size_t limit) {
  // A character is at least one byte: short texts need no segmentation.
  return text.size() <= limit || characterEnds(text, limit).size() <= limit;
}

std::string firstCharacters(std::string_view text, std::size_t count) {
  const std::vector<std::size_t> ends = characterEnds(text, count);
  if (ends.size() <= count)
    return std::string(text);
  return std::string(text.substr(0, ends[count - 1]));
}

template <typename Test>
bool allCodePoints(std::string_view text, Test test) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
  const auto length = static_cast<int32_t>(text.size());
  for (int32_t i = 0; i < length;) {
    UChar32 c;
    U8_NEXT(bytes, i, length, c);
    if (c < 0 || !test(c))
      return false;
  }
  return true;
}

bool isAsciiLetterOrDigit(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

bool isIdentifier(std::string_view text) {
  return !text.empty() && text.size() <= maxIdLength && text[0] != '-' &&
         std::all_of(text.begin(), text.end(),
                     [](char c) { return isAsciiLetterOrDigit(c) || c == '-' || c == '_'; });
}

// Application IDs: reverse domain names, Flatpak IDs with "_" and "-".
bool isBundleIdentifier(std::string_view text) {
  return !text.empty() && text.size() <= maxBundleIdLength &&
         std::all_of(text.begin(), text.end(), [](char c) {
           return isAsciiLetterOrDigit(c) || c == '.' || c == '-' || c == '_';
         });
}

// Icon theme names: "accessories-text-editor", "org.gnome.Notes", "view-grid-symbolic".
bool isSymbolName(std::string_view text) {
  return !text.empty() && text.size() <= maxSymbolLength &&
         std::all_of(text.begin(), text.end(), [](char c) {
           return isAsciiLetterOrDigit(c) || c == '.' || c == '-' || c == '_';
         });
}

bool isLanguageKey(std::string_view text) {
  return text.size() == 2 &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= 'a' && c <= 'z'; });
}

// Control and format characters (bidirectional overrides among them) and line breaks would let
// one row disguise itself or break the layout.
bool isDisplayable(UChar32 c) {
  switch (u_charType(c)) {
    case U_CONTROL_CHAR:
    case U_FORMAT_CHAR:
    case U_LINE_SEPARATOR:
    case U_PARAGRAPH_SEPARATOR:
      return false;
    default:
      return true;
  }
}

bool isDisplayText(std::string_view text, std::size_t maxLength) {
  if (!allCodePoints(text, isDisplayable))
    return false;
  if (allCodePoints(text, [](UChar32 c) { return u_isUWhiteSpace(c) != 0; }))
    return false;  // empty, or spaces only
  return hasAtMostCharacters(text, maxLength);
}

bool isTint(std::string_view text) {
  return std::find(moreAppsTints.begin(), moreAppsTints.end(), text) != moreAppsTints.end();
}

// Decoding: every required key present with its type, optional keys absent, null or of their
// type; other keys are ignored.
std::optional<std::string> requiredString(const json& object, const char* key) {
  const auto found = object.find(key);
  if (found == object.end() || !found->is_string())
    return std::nullopt;
  return found->get<std::string>();
}

// The outer optional fails decoding; the inner one is an absent value.
std::optional<std::optional<std::string>> optionalString(const json& object, const char* key) {
  const auto found = object.find(key);
  if (found == object.end() || found->is_null())
    return std::optional<std::string>();
  if (!found->is_string())
    return std::nullopt;
  return std::optional<std::string>(found->get<std::string>());
}

std::optional<MoreAppsEntry> decodeEntry(const json& value) {
  if (!value.is_object())
    return std::nullopt;
  MoreAppsEntry entry;
  const std::pair<const char*, std::string*> required[] = {
      {"id", &entry.id},         {"name", &entry.name}, {"detail", &entry.detail},
      {"symbol", &entry.symbol}, {"tint", &entry.tint}, {"url", &entry.url}};
  for (const auto& [key, field] : required) {
    std::optional<std::string> text = requiredString(value, key);
    if (!text)
      return std::nullopt;
    *field = std::move(*text);
  }
  auto bundleId = optionalString(value, "bundleId");
  if (!bundleId)
    return std::nullopt;
  entry.bundleId = std::move(*bundleId);

  const auto localized = value.find("localized");
  if (localized == value.end() || localized->is_null())
    return entry;
  if (!localized->is_object())
    return std::nullopt;
  for (const auto& [language, record] : localized->items()) {
    if (!record.is_object())
      return std::nullopt;
    auto name = optionalString(record, "name");
    auto detail = optionalString(record, "detail");
    if (!name || !detail)
      return std::nullopt;
    entry.localized[language] = {std::move(*name), std::move(*detail)};
  }
  return entry;
}

std::optional<MoreAppsFeed> decodeFeed(std::string_view bytes) {
  const json document = json::parse(bytes, nullptr, false);
  if (document.is_discarded() || !document.is_object())
    return std::nullopt;
  const auto schema = document.find("schema");
  const auto apps = document.find("apps");
  if (schema == document.end() || apps == document.end() || !apps->is_array())
    return std::nullopt;
  MoreAppsFeed feed;
  if (schema->is_number_integer()) {
    feed.schema = schema->get<std::int64_t>();
  } else if (schema->is_number_unsigned() &&
             schema->get<std::uint64_t>() <=
                 static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
    feed.schema = static_cast<std::int64_t>(schema->get<std::uint64_t>());
  } else {
    return std::nullopt;
  }
  feed.apps.reserve(apps->size());
  for (const json& value : *apps) {
    std::optional<MoreAppsEntry> entry = decodeEntry(value);
    if (!entry)
      return std::nullopt;
    feed.apps.push_back(std::move(*entry));
  }
  return feed;
}

std::optional<MoreAppsError> checkEntry(const MoreAppsEntry& entry,
                                        std::set<std::string_view>& seenIds,
                                        const MoreAppsSite& site) {
  const std::string& id = entry.id;
  if (!isIdentifier(id))
    return MoreAppsError::invalid("id " + firstCharacters(id, maxIdLength));
  if (!seenIds.insert(id).second)
    return MoreAppsError::invalid("duplicate id " + id);
  if (entry.bundleId && !isBundleIdentifier(*entry.bundleId))
    return MoreAppsError::invalid("bundleId of " + id);
  if (!isDisplayText(entry.name, maxNameLength))
    return MoreAppsError::invalid("name of " + id);
  if (!isDisplayText(entry.detail, maxDetailLength))
    return MoreAppsError::invalid("detail of " + id);
  if (!isSymbolName(entry.symbol))
    return MoreAppsError::invalid("symbol of " + id);
  if (!isTint(entry.tint))
    return MoreAppsError::invalid("tint of " + id);
  if (!isAllowedEntryAddress(entry.url, site.siteHost, site.storeHost))
    return MoreAppsError::invalid("url of " + id);
  for (const auto& [language, texts] : entry.localized) {
    if (!isLanguageKey(language))
      return MoreAppsError::invalid("language of " + id);
    if (texts.name && !isDisplayText(*texts.name, maxNameLength))
      return MoreAppsError::invalid(language + " name of " + id);
    if (texts.detail && !isDisplayText(*texts.detail, maxDetailLength))
      return MoreAppsError::invalid(language + " detail of " + id);
  }
  return std::nullopt;
}

}  // namespace

std::string MoreAppsEntry::displayName(std::string_view language) const {
  const auto found = localized.find(std::string(language));
  return found != localized.end() && found->second.name ? *found->second.name : name;
}

std::string MoreAppsEntry::displayDetail(std::string_view language) const {
  const auto found = localized.find(std::string(language));
  return found != localized.end() && found->second.detail ? *found->second.detail : detail;
}

MoreAppsValidation validate(std::string_view bytes) {
  if (bytes.size() > moreAppsMaxFeedBytes)
    return MoreAppsError::tooLarge();
  std::optional<MoreAppsFeed> feed = decodeFeed(bytes);
  if (!feed)
    return MoreAppsError::notJSON();
  if (feed->schema != 1)
    return MoreAppsError::schema(feed->schema);
  const auto count = static_cast<std::int64_t>(feed->apps.size());
  if (count == 0 || count > maxEntries)
    return MoreAppsError::count(count);
  std::set<std::string_view> seenIds;
  for (const MoreAppsEntry& entry : feed->apps) {
    if (std::optional<MoreAppsError> error = checkEntry(entry, seenIds, moreAppsSite()))
      return *error;
  }
  return std::move(*feed);
}

}  // namespace vistrel
