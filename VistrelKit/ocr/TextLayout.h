#pragma once

#include <vector>

#include "VistrelKit/imaging/Image.h"
#include "VistrelKit/imaging/PixelBox.h"

namespace vistrel {

// Finds the text lines of a screen image (grey) without reading them: glyphs leave short, sharp
// edges on the flat backgrounds of user interfaces, while panel borders, separators and grid lines
// leave long straight ones. Edges that belong to no long line are joined into words and words into
// lines, never across a long vertical edge (the side of a window or panel, or where one
// background meets another); lines taller than large headings and bare rules are left out. Works
// the same for dark text on light backgrounds and light text on dark ones. A line's box depends
// only on the pixels around it, so an unchanged part of a screen gives the same boxes whatever
// changed elsewhere. Returned in no particular order.
std::vector<PixelBox> findTextLines(const Image& grey);

}  // namespace vistrel
