#include "Vistrel/platform/linux/X11KeyMap.h"

#include <X11/keysym.h>
#include <xcb/xcb_keysyms.h>

#include <array>
#include <utility>

namespace vistrel {
namespace {

constexpr std::array<std::pair<std::uint32_t, xcb_keysym_t>, 73> keys = {{
    {0, XK_a},       {1, XK_s},          {2, XK_d},
    {3, XK_f},       {4, XK_h},          {5, XK_g},
    {6, XK_z},       {7, XK_x},          {8, XK_c},
    {9, XK_v},       {11, XK_b},         {12, XK_q},
    {13, XK_w},      {14, XK_e},         {15, XK_r},
    {16, XK_y},      {17, XK_t},         {18, XK_1},
    {19, XK_2},      {20, XK_3},         {21, XK_4},
    {22, XK_6},      {23, XK_5},         {24, XK_equal},
    {25, XK_9},      {26, XK_7},         {27, XK_minus},
    {28, XK_8},      {29, XK_0},         {30, XK_bracketright},
    {31, XK_o},      {32, XK_u},         {33, XK_bracketleft},
    {34, XK_i},      {35, XK_p},         {36, XK_Return},
    {37, XK_l},      {38, XK_j},         {39, XK_apostrophe},
    {40, XK_k},      {41, XK_semicolon}, {42, XK_backslash},
    {43, XK_comma},  {44, XK_slash},     {45, XK_n},
    {46, XK_m},      {47, XK_period},    {48, XK_Tab},
    {49, XK_space},  {50, XK_grave},     {51, XK_BackSpace},
    {53, XK_Escape}, {117, XK_Delete},   {115, XK_Home},
    {119, XK_End},   {116, XK_Prior},    {121, XK_Next},
    {123, XK_Left},  {124, XK_Right},    {125, XK_Down},
    {126, XK_Up},    {122, XK_F1},       {120, XK_F2},
    {99, XK_F3},     {118, XK_F4},       {96, XK_F5},
    {97, XK_F6},     {98, XK_F7},        {100, XK_F8},
    {101, XK_F9},    {109, XK_F10},      {103, XK_F11},
    {111, XK_F12},
}};

}  // namespace

std::optional<xcb_keysym_t> keysymForKeyCode(std::uint32_t keyCode) {
  for (const auto& [code, keysym] : keys) {
    if (code == keyCode) {
      return keysym;
    }
  }
  return std::nullopt;
}

std::optional<std::uint32_t> keyCodeForKeysym(xcb_keysym_t keysym) {
  if (keysym >= XK_A && keysym <= XK_Z) {
    keysym += XK_a - XK_A;
  } else if (keysym == XK_ISO_Left_Tab) {
    keysym = XK_Tab;
  }
  for (const auto& [code, symbol] : keys) {
    if (symbol == keysym) {
      return code;
    }
  }
  return std::nullopt;
}

std::optional<std::uint32_t> keyCodeForX11Key(xcb_connection_t* connection, xcb_keycode_t keycode) {
  if (!connection || keycode == 0) {
    return std::nullopt;
  }
  xcb_key_symbols_t* symbols = xcb_key_symbols_alloc(connection);
  if (!symbols) {
    return std::nullopt;
  }
  const xcb_keysym_t keysym = xcb_key_symbols_get_keysym(symbols, keycode, 0);
  xcb_key_symbols_free(symbols);
  return keysym == XCB_NO_SYMBOL ? std::nullopt : keyCodeForKeysym(keysym);
}

std::uint16_t x11ModifierMask(Modifiers modifiers) {
  std::uint16_t mask = 0;
  if (modifiers.contains(Modifiers::shift)) {
    mask |= XCB_MOD_MASK_SHIFT;
  }
  if (modifiers.contains(Modifiers::control)) {
    mask |= XCB_MOD_MASK_CONTROL;
  }
  if (modifiers.contains(Modifiers::option)) {
    mask |= XCB_MOD_MASK_1;
  }
  if (modifiers.contains(Modifiers::command)) {
    mask |= XCB_MOD_MASK_4;
  }
  return mask;
}

Modifiers modifiersFromX11State(std::uint16_t state) {
  Modifiers modifiers;
  if (state & XCB_MOD_MASK_SHIFT) {
    modifiers = modifiers | Modifiers::shift;
  }
  if (state & XCB_MOD_MASK_CONTROL) {
    modifiers = modifiers | Modifiers::control;
  }
  if (state & XCB_MOD_MASK_1) {
    modifiers = modifiers | Modifiers::option;
  }
  if (state & XCB_MOD_MASK_4) {
    modifiers = modifiers | Modifiers::command;
  }
  return modifiers;
}

}  // namespace vistrel
