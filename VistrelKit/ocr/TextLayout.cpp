#include "VistrelKit/ocr/TextLayout.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <numeric>
#include <stdexcept>

namespace vistrel {

namespace {

// Grey-level step between neighbouring pixels that counts as an edge. Low-contrast secondary
// text (grey on white, comments on dark themes) still steps by well over this.
constexpr int kEdgeStep = 32;
// Straight edges longer than these are borders, rules and grid lines, not glyph outlines.
constexpr int kLongestGlyphRun = 48;
constexpr int kTallestGlyphRun = 64;
// Edges this close on a row belong to one word.
constexpr int kWordGap = 3;
// Words join a line when the gap between them is at most this fraction of the line's height.
constexpr double kLineGapFactor = 0.9;
// Marks like "=" or "-" usually stand between spaces, wider in monospaced code than the mark.
constexpr double kMarkGapFactor = 1.5;
// Words of one line differ in height by at most this factor.
constexpr double kCompatibleHeights = 2.2;
constexpr int kTallestLine = 96;
constexpr int kSmallestLine = 4;

struct Run {
  int y;
  int left;
  int right;  // exclusive
};

// A long vertical edge: a window's or a panel's side, or where one background meets another.
struct Wall {
  int x;
  int top;
  int bottom;  // exclusive
};

// The long vertical edges of an image, so that no line is joined across one: text on the two
// sides of a window's edge belongs to two windows.
class Walls {
 public:
  void add(Wall wall) { walls_.push_back(wall); }
  void sort() {
    std::sort(walls_.begin(), walls_.end(), [](const Wall& a, const Wall& b) { return a.x < b.x; });
  }
  // Whether a wall stands between two boxes side by side over the rows they share.
  bool between(const PixelBox& a, const PixelBox& b) const {
    const int from = std::min(a.right, b.right) - 1;
    const int to = std::max(a.left, b.left);
    const int top = std::max(a.top, b.top);
    const int bottom = std::min(a.bottom, b.bottom);
    auto wall = std::lower_bound(walls_.begin(), walls_.end(), from,
                                 [](const Wall& w, int x) { return w.x < x; });
    for (; wall != walls_.end() && wall->x <= to; ++wall) {
      if (wall->top <= top && wall->bottom >= bottom) {
        return true;
      }
    }
    return false;
  }

 private:
  std::vector<Wall> walls_;
};

// Edge mask: a pixel steps to its right or lower neighbour by at least kEdgeStep.
std::vector<std::uint8_t> edgeMask(const Image& grey) {
  const int width = grey.width();
  const int height = grey.height();
  std::vector<std::uint8_t> mask(static_cast<std::size_t>(width) * height);
  for (int y = 0; y < height; ++y) {
    const std::uint8_t* row = grey.row(y);
    const std::uint8_t* below = y + 1 < height ? grey.row(y + 1) : row;
    std::uint8_t* out = &mask[static_cast<std::size_t>(y) * width];
    for (int x = 0; x + 1 < width; ++x) {
      const int here = row[x];
      out[x] = std::abs(here - row[x + 1]) >= kEdgeStep || std::abs(here - below[x]) >= kEdgeStep;
    }
    out[width - 1] = std::abs(row[width - 1] - below[width - 1]) >= kEdgeStep;
  }
  return mask;
}

// Clears the edges that lie on long horizontal or vertical runs; the vertical ones are walls.
void dropStraightLines(std::vector<std::uint8_t>& mask, int width, int height, Walls& walls) {
  std::vector<std::uint8_t> keep = mask;
  for (int y = 0; y < height; ++y) {
    const std::uint8_t* row = &mask[static_cast<std::size_t>(y) * width];
    std::uint8_t* out = &keep[static_cast<std::size_t>(y) * width];
    for (int x = 0; x < width;) {
      if (!row[x]) {
        ++x;
        continue;
      }
      int end = x;
      while (end < width && row[end]) {
        ++end;
      }
      if (end - x > kLongestGlyphRun) {
        std::fill(out + x, out + end, 0);
      }
      x = end;
    }
  }
  // Vertical runs, counted row by row so the mask is read in memory order.
  std::vector<int> runStart(width, -1);
  auto closeRun = [&](int x, int end) {
    if (runStart[x] >= 0 && end - runStart[x] > kTallestGlyphRun) {
      walls.add({x, runStart[x], end});
      for (int y = runStart[x]; y < end; ++y) {
        keep[static_cast<std::size_t>(y) * width + x] = 0;
      }
    }
    runStart[x] = -1;
  };
  for (int y = 0; y < height; ++y) {
    const std::uint8_t* row = &mask[static_cast<std::size_t>(y) * width];
    for (int x = 0; x < width; ++x) {
      if (row[x]) {
        if (runStart[x] < 0) {
          runStart[x] = y;
        }
      } else if (runStart[x] >= 0) {
        closeRun(x, y);
      }
    }
  }
  for (int x = 0; x < width; ++x) {
    closeRun(x, height);
  }
  walls.sort();
  mask.swap(keep);
}

// Word boxes: edge runs with small gaps bridged, joined across rows where they touch.
std::vector<PixelBox> wordBoxes(const std::vector<std::uint8_t>& mask, int width, int height) {
  std::vector<Run> runs;
  std::vector<int> rowStart(height + 1, 0);
  for (int y = 0; y < height; ++y) {
    rowStart[y] = static_cast<int>(runs.size());
    const std::uint8_t* row = &mask[static_cast<std::size_t>(y) * width];
    int x = 0;
    while (x < width) {
      while (x < width && !row[x]) {
        ++x;
      }
      if (x == width) {
        break;
      }
      const int left = x;
      int right = x;
      while (true) {
        while (right < width && row[right]) {
          ++right;
        }
        int next = right;
        while (next < width && !row[next] && next - right < kWordGap) {
          ++next;
        }
        if (next < width && row[next] && next - right <= kWordGap) {
          right = next;
          continue;
        }
        break;
      }
      runs.push_back({y, left, right});
      x = right;
    }
  }
  rowStart[height] = static_cast<int>(runs.size());

  std::vector<int> parent(runs.size());
  std::iota(parent.begin(), parent.end(), 0);
  auto root = [&](int i) {
    while (parent[i] != i) {
      parent[i] = parent[parent[i]];
      i = parent[i];
    }
    return i;
  };
  for (int y = 1; y < height; ++y) {
    int above = rowStart[y - 1];
    int here = rowStart[y];
    while (above < rowStart[y] && here < rowStart[y + 1]) {
      const Run& a = runs[above];
      const Run& b = runs[here];
      if (a.right >= b.left && b.right >= a.left) {  // touching, diagonals included
        parent[root(above)] = root(here);
      }
      if (a.right < b.right) {
        ++above;
      } else {
        ++here;
      }
    }
  }

  std::vector<PixelBox> boxes;
  std::vector<int> boxOfRoot(runs.size(), -1);
  for (std::size_t i = 0; i < runs.size(); ++i) {
    const Run& run = runs[i];
    int& index = boxOfRoot[root(static_cast<int>(i))];
    if (index < 0) {
      index = static_cast<int>(boxes.size());
      boxes.push_back({run.left, run.y, run.right, run.y + 1});
      continue;
    }
    PixelBox& box = boxes[index];
    box.left = std::min(box.left, run.left);
    box.right = std::max(box.right, run.right);
    box.bottom = std::max(box.bottom, run.y + 1);
  }
  return boxes;
}

int verticalOverlap(const PixelBox& a, const PixelBox& b) {
  return std::min(a.bottom, b.bottom) - std::max(a.top, b.top);
}

void extend(PixelBox& line, const PixelBox& word) {
  line.left = std::min(line.left, word.left);
  line.top = std::min(line.top, word.top);
  line.right = std::max(line.right, word.right);
  line.bottom = std::max(line.bottom, word.bottom);
}

// A word belongs to a line when it shares most of its height with it, is close enough on the
// left, and is of a compatible height: a word of x-height letters next to one with ascenders and
// descenders is about half as tall, while an icon or avatar beside two lines of text is more than
// twice as tall as either and must not fuse them into one.
bool joins(const PixelBox& line, const PixelBox& word, double heightRatio, double gapFactor,
           const Walls& walls) {
  const int smaller = std::min(line.height(), word.height());
  const int larger = std::max(line.height(), word.height());
  if (verticalOverlap(line, word) * 2 < smaller || larger > heightRatio * smaller) {
    return false;
  }
  const int gap = std::max(word.left - line.right, line.left - word.right);
  return gap <= gapFactor * larger && !walls.between(line, word);
}

bool isMark(const PixelBox& word) {
  return word.height() < kSmallestLine * 2;
}

// The line a small mark (dot, comma, dash, the bars of "=") sits in, if any.
std::vector<PixelBox>::iterator lineHolding(std::vector<PixelBox>& lines, const PixelBox& mark,
                                            const Walls& walls) {
  return std::find_if(lines.begin(), lines.end(), [&](const PixelBox& line) {
    return verticalOverlap(line, mark) == mark.height() &&
           joins(line, mark, static_cast<double>(kTallestLine), kMarkGapFactor, walls);
  });
}

// Joins words left to right into lines. Marks standing alone join the line they sit in, so that
// they also bridge the gap to the next word ("total = sum"); marks before any line are placed
// at the end.
std::vector<PixelBox> joinLines(std::vector<PixelBox> words, const Walls& walls) {
  std::sort(words.begin(), words.end(),
            [](const PixelBox& a, const PixelBox& b) { return a.left < b.left; });
  std::vector<PixelBox> lines;
  std::vector<PixelBox> pending;
  for (const PixelBox& word : words) {
    // Too tall for text, or a bare rule: the edge of a lone line is at most two pixels wide,
    // a glyph's at least three. A rule next to text (a table's grid, the side of a highlight)
    // must not become part of the line.
    if (word.height() > kTallestLine || word.width() <= 2) {
      continue;
    }
    if (isMark(word)) {
      if (auto line = lineHolding(lines, word, walls); line != lines.end()) {
        extend(*line, word);
      } else {
        pending.push_back(word);
      }
      continue;
    }
    int best = -1;
    int bestOverlap = 0;
    for (int i = static_cast<int>(lines.size()) - 1; i >= 0; --i) {
      const int overlap = verticalOverlap(lines[i], word);
      if (overlap > bestOverlap &&
          joins(lines[i], word, kCompatibleHeights, kLineGapFactor, walls)) {
        bestOverlap = overlap;
        best = i;
      }
    }
    if (best >= 0) {
      extend(lines[best], word);
    } else {
      lines.push_back(word);
    }
  }
  for (const PixelBox& mark : pending) {
    if (auto line = lineHolding(lines, mark, walls); line != lines.end()) {
      extend(*line, mark);
    }
  }
  return lines;
}

}  // namespace

std::vector<PixelBox> findTextLines(const Image& grey) {
  if (grey.width() < 2 || grey.height() < 2) {
    return {};
  }
  if (grey.format() != PixelFormat::grey) {
    throw std::invalid_argument("findTextLines needs a grey image");
  }
  std::vector<std::uint8_t> mask = edgeMask(grey);
  Walls walls;
  dropStraightLines(mask, grey.width(), grey.height(), walls);
  std::vector<PixelBox> lines = joinLines(wordBoxes(mask, grey.width(), grey.height()), walls);
  std::erase_if(lines, [](const PixelBox& line) { return line.height() < kSmallestLine; });
  return lines;
}

}  // namespace vistrel
