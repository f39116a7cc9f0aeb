#include "Vistrel/gui/common/Tint.h"

#include <QApplication>
#include <QPainter>
#include <QPalette>
#include <array>
#include <utility>

namespace vistrel {

QColor tintColor(std::string_view name) {
  static constexpr std::array<std::pair<std::string_view, QRgb>, 13> tints{{
      {"red", 0xff3b30},
      {"orange", 0xff9500},
      {"yellow", 0xe6b800},
      {"green", 0x34c759},
      {"mint", 0x00c7be},
      {"teal", 0x30b0c7},
      {"cyan", 0x32ade6},
      {"blue", 0x007aff},
      {"indigo", 0x5856d6},
      {"purple", 0xaf52de},
      {"pink", 0xff2d55},
      {"brown", 0xa2845e},
      {"gray", 0x8e8e93},
  }};
  for (const auto& [tintName, rgb] : tints) {
    if (tintName == name)
      return QColor::fromRgb(rgb);
  }
  return QApplication::palette().color(QPalette::PlaceholderText);
}

QPixmap tintedPixmap(const QIcon& icon, const QColor& tint, int size) {
  QPixmap pixmap = icon.pixmap(size, size);
  if (pixmap.isNull())
    return pixmap;
  QPainter painter(&pixmap);
  painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
  painter.fillRect(pixmap.rect(), tint);
  return pixmap;
}

}  // namespace vistrel
