#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <string_view>

namespace vistrel {

// The named colours of symbols: the other-apps feed's tint names ("red", "orange", … "gray").
// An unknown name gives the palette's secondary text colour.
QColor tintColor(std::string_view name);

// The icon drawn as a silhouette in one colour, the way symbols are shown in a tint.
QPixmap tintedPixmap(const QIcon& icon, const QColor& tint, int size);

}  // namespace vistrel
