#include "VistrelKit/settings/Shortcut.h"

#include <array>
#include <string_view>
#include <utility>

namespace vistrel {

namespace {

using KeyEntry = std::pair<std::uint32_t, std::string_view>;

constexpr std::array<KeyEntry, 73> keyNames{{
    {0, "A"},        {1, "S"},        {2, "D"},        {3, "F"},        {4, "H"},
    {5, "G"},        {6, "Z"},        {7, "X"},        {8, "C"},        {9, "V"},
    {11, "B"},       {12, "Q"},       {13, "W"},       {14, "E"},       {15, "R"},
    {16, "Y"},       {17, "T"},       {18, "1"},       {19, "2"},       {20, "3"},
    {21, "4"},       {22, "6"},       {23, "5"},       {24, "="},       {25, "9"},
    {26, "7"},       {27, "-"},       {28, "8"},       {29, "0"},       {30, "]"},
    {31, "O"},       {32, "U"},       {33, "["},       {34, "I"},       {35, "P"},
    {36, "\u21A9"},  {37, "L"},       {38, "J"},       {39, "'"},       {40, "K"},
    {41, ";"},       {42, "\\"},      {43, ","},       {44, "/"},       {45, "N"},
    {46, "M"},       {47, "."},       {48, "\u21E5"},  {49, "Space"},   {50, "`"},
    {51, "\u232B"},  {53, "\u238B"},  {117, "\u2326"}, {115, "\u2196"}, {119, "\u2198"},
    {116, "\u21DE"}, {121, "\u21DF"}, {123, "\u2190"}, {124, "\u2192"}, {125, "\u2193"},
    {126, "\u2191"}, {122, "F1"},     {120, "F2"},     {99, "F3"},      {118, "F4"},
    {96, "F5"},      {97, "F6"},      {98, "F7"},      {100, "F8"},     {101, "F9"},
    {109, "F10"},    {103, "F11"},    {111, "F12"},
}};

constexpr std::array<KeyEntry, 9> spokenKeyNames{{
    {36, "Return"},
    {48, "Tab"},
    {49, "Space"},
    {51, "Delete"},
    {53, "Escape"},
    {123, "Left Arrow"},
    {124, "Right Arrow"},
    {125, "Down Arrow"},
    {126, "Up Arrow"},
}};

template <std::size_t N>
const std::string_view* lookup(const std::array<KeyEntry, N>& table, std::uint32_t keyCode) {
  for (const auto& [code, name] : table) {
    if (code == keyCode)
      return &name;
  }
  return nullptr;
}

struct ModifierNames {
  Modifiers flag;
  std::string_view symbol;
  std::string_view word;
};

// The order in which modifiers are shown and spoken.
constexpr std::array<ModifierNames, 4> modifierOrder{{
    {Modifiers::control, "\u2303", "Control"},
    {Modifiers::option, "\u2325", "Option"},
    {Modifiers::shift, "\u21E7", "Shift"},
    {Modifiers::command, "\u2318", "Command"},
}};

}  // namespace

std::string Shortcut::keyName(std::uint32_t keyCode) {
  if (const auto* name = lookup(keyNames, keyCode))
    return std::string(*name);
  return "Key " + std::to_string(keyCode);
}

std::string Shortcut::spokenKeyName(std::uint32_t keyCode) {
  if (const auto* name = lookup(spokenKeyNames, keyCode))
    return std::string(*name);
  return keyName(keyCode);
}

std::string Shortcut::display() const {
  std::string text;
  for (const auto& modifier : modifierOrder) {
    if (modifiers.contains(modifier.flag))
      text += modifier.symbol;
  }
  return text + keyName(keyCode);
}

std::string Shortcut::spokenDescription() const {
  std::string text;
  for (const auto& modifier : modifierOrder) {
    if (modifiers.contains(modifier.flag)) {
      text += modifier.word;
      text += ' ';
    }
  }
  return text + spokenKeyName(keyCode);
}

bool Shortcut::isAcceptable() const {
  return modifiers.contains(Modifiers::control) || modifiers.contains(Modifiers::option) ||
         modifiers.contains(Modifiers::command);
}

std::optional<std::string> Shortcut::wellKnownNote() const {
  if (modifiers != Modifiers::command)
    return std::nullopt;
  switch (keyCode) {
    case 12:
      return "\u2318Q quits the app in front.";
    case 49:
      return "\u2318Space opens Spotlight.";
    case 35:
      return "\u2318P is Print in most apps.";
    default:
      return std::nullopt;
  }
}

}  // namespace vistrel
