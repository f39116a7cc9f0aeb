#pragma once

#include <vector>

namespace vistrel {

// A rectangle in pixels: left and top inclusive, right and bottom exclusive.
struct PixelBox {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;

  int width() const { return right - left; }
  int height() const { return bottom - top; }
  bool empty() const { return right <= left || bottom <= top; }

  friend bool operator==(const PixelBox&, const PixelBox&) = default;
};

// The part of a screenshot that shows one window's content: the box of its client area (title
// bar and frame left out) and the parts of that box that are visible, not under another window
// nor off the picture. The desktop behind all windows is one too. Text never runs from one
// window into another, so the text of a screenshot is read window by window.
struct WindowArea {
  PixelBox bounds;
  std::vector<PixelBox> visible;

  friend bool operator==(const WindowArea&, const WindowArea&) = default;
};

// The common part of two boxes; empty when they do not meet.
inline PixelBox intersected(const PixelBox& a, const PixelBox& b) {
  PixelBox common{a.left > b.left ? a.left : b.left, a.top > b.top ? a.top : b.top,
                  a.right < b.right ? a.right : b.right, a.bottom < b.bottom ? a.bottom : b.bottom};
  return common.empty() ? PixelBox{} : common;
}

}  // namespace vistrel
