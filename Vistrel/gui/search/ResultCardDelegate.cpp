#include "Vistrel/gui/search/ResultCardDelegate.h"

#include <QApplication>
#include <QPainter>
#include <QPainterPath>
#include <QPixmapCache>
#include <QTextLayout>

#include "Vistrel/gui/common/AppIcon.h"
#include "Vistrel/gui/common/Highlights.h"
#include "Vistrel/gui/search/ResultListModel.h"

namespace vistrel {
namespace {

constexpr int padding = 10;
constexpr int gap = 8;
constexpr int iconSize = 16;

int thumbnailHeight(int cardWidth) {
  return (cardWidth - 2 * padding) * 10 / 16;
}

QFont smallFont(const QFont& base, bool semibold) {
  QFont font = base;
  font.setPointSizeF(base.pointSizeF() * 0.85);
  if (semibold)
    font.setWeight(QFont::DemiBold);
  return font;
}

QColor withAlpha(QColor colour, double alpha) {
  colour.setAlphaF(float(alpha));
  return colour;
}

// The thumbnail scaled into a rounded rectangle of the card's size. Scaling and clipping cost
// far more than a plain copy, so the result is kept in the pixmap cache while the card keeps its
// size; the decoded image itself stays in the ThumbnailCache.
QPixmap roundedThumbnail(qint64 id, const QImage& image, QSize size) {
  const QString key =
      QStringLiteral("vistrel-thumbnail-%1-%2x%3").arg(id).arg(size.width()).arg(size.height());
  QPixmap shown;
  if (QPixmapCache::find(key, &shown))
    return shown;
  shown = QPixmap(size);
  shown.fill(Qt::transparent);
  QPainter painter(&shown);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  QPainterPath frame;
  frame.addRoundedRect(QRectF(QPointF(0, 0), QSizeF(size)), 8, 8);
  painter.setClipPath(frame);
  QRect target(QPoint(0, 0), image.size().scaled(size, Qt::KeepAspectRatioByExpanding));
  target.moveCenter(QRect(QPoint(0, 0), size).center());
  painter.drawImage(target, image);
  painter.end();
  QPixmapCache::insert(key, shown);
  return shown;
}

void drawThumbnail(QPainter* painter, const QRect& area, qint64 id, const QImage& image,
                   const QPalette& palette) {
  QPainterPath frame;
  frame.addRoundedRect(QRectF(area), 8, 8);
  if (image.isNull())
    painter->fillPath(frame, withAlpha(palette.color(QPalette::PlaceholderText), 0.15));
  else
    painter->drawPixmap(area.topLeft(), roundedThumbnail(id, image, area.size()));
  painter->setPen(QPen(withAlpha(palette.color(QPalette::Text), 0.1), 1));
  painter->drawPath(frame);
}

void drawSnippet(QPainter* painter, const QRect& area, const QString& text,
                 const QList<TextSpan>& spans, const QFont& font, const QColor& colour) {
  QList<QTextLayout::FormatRange> formats;
  for (const TextSpan& span : spans) {
    QTextLayout::FormatRange range;
    range.start = span.start;
    range.length = span.length;
    range.format.setBackground(spanColour());
    range.format.setFontWeight(QFont::DemiBold);
    formats.append(range);
  }
  QTextLayout layout(text, font);
  QTextOption option;
  option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
  layout.setTextOption(option);
  layout.setFormats(formats);
  layout.beginLayout();
  qreal y = 0;
  for (int count = 0; count < ResultCardDelegate::snippetLines; ++count) {
    QTextLine line = layout.createLine();
    if (!line.isValid())
      break;
    line.setLineWidth(area.width());
    line.setPosition(QPointF(0, y));
    y += line.height();
  }
  layout.endLayout();
  painter->save();
  painter->setClipRect(area);
  painter->setPen(colour);
  layout.draw(painter, area.topLeft());
  painter->restore();
}

}  // namespace

QSize ResultCardDelegate::cellSize(int cardWidth, const QFont& font) {
  const QFontMetrics small(smallFont(font, true));
  const QFontMetrics body(font);
  const int height = padding + thumbnailHeight(cardWidth) + gap +
                     std::max(iconSize, small.height()) + gap / 2 +
                     snippetLines * body.lineSpacing() + padding;
  return {cardWidth + spacing, height + spacing};
}

QSize ResultCardDelegate::sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const {
  return cell_;
}

void ResultCardDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                               const QModelIndex& index) const {
  const QPalette& palette = option.palette;
  const QRect card = option.rect.adjusted(spacing / 2, spacing / 2, -spacing / 2, -spacing / 2);
  painter->save();
  painter->setRenderHint(QPainter::Antialiasing);

  QPainterPath outline;
  outline.addRoundedRect(QRectF(card).adjusted(0.5, 0.5, -0.5, -0.5), 10, 10);
  painter->fillPath(outline, withAlpha(palette.color(QPalette::Text), 0.04));
  const bool focused = option.state & (QStyle::State_HasFocus | QStyle::State_Selected);
  painter->setPen(focused ? QPen(palette.color(QPalette::Highlight), 2)
                          : QPen(withAlpha(palette.color(QPalette::Text), 0.12), 1));
  painter->drawPath(outline);

  const QRect inner = card.adjusted(padding, padding, -padding, -padding);
  const QRect thumbnail(inner.left(), inner.top(), inner.width(), thumbnailHeight(card.width()));
  drawThumbnail(painter, thumbnail, index.data(ResultListModel::frameIdRole).toLongLong(),
                index.data(ResultListModel::thumbnailRole).value<QImage>(), palette);

  const QFont nameFont = smallFont(option.font, true);
  const QFont momentFont = smallFont(option.font, false);
  const int headerHeight = std::max(iconSize, QFontMetrics(nameFont).height());
  const QRect header(inner.left(), thumbnail.bottom() + 1 + gap, inner.width(), headerHeight);
  const QIcon icon = index.data(Qt::DecorationRole).value<QIcon>();
  if (!icon.isNull())
    icon.paint(painter, QRect(header.left(), header.top() + (headerHeight - iconSize) / 2, iconSize,
                              iconSize));
  const QString moment = index.data(ResultListModel::momentRole).toString();
  const int momentWidth = QFontMetrics(momentFont).horizontalAdvance(moment);
  QRect nameArea = header.adjusted(iconSize + 6, 0, -(momentWidth + 8), 0);
  painter->setFont(nameFont);
  painter->setPen(palette.color(QPalette::Text));
  painter->drawText(
      nameArea, Qt::AlignVCenter | Qt::AlignLeft,
      QFontMetrics(nameFont).elidedText(index.data(ResultListModel::appNameRole).toString(),
                                        Qt::ElideRight, nameArea.width()));
  painter->setFont(momentFont);
  painter->setPen(palette.color(QPalette::PlaceholderText));
  painter->drawText(header, Qt::AlignVCenter | Qt::AlignRight, moment);

  const QRect snippet(inner.left(), header.bottom() + 1 + gap / 2, inner.width(),
                      inner.bottom() - header.bottom() - gap / 2);
  drawSnippet(painter, snippet, index.data(Qt::DisplayRole).toString(),
              index.data(ResultListModel::spansRole).value<QList<TextSpan>>(), option.font,
              palette.color(QPalette::Text));
  painter->restore();
}

}  // namespace vistrel
