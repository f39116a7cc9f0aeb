#pragma once

#include <QImage>

#include "VistrelKit/imaging/Image.h"

namespace vistrel {

// The image as a QImage sharing its pixels (no copy); the QImage keeps them alive.
QImage toQImage(const Image& image);

}  // namespace vistrel
