#pragma once

#include <QImage>
#include <QList>
#include <QPixmap>
#include <QRectF>
#include <QWidget>
#include <vector>

#include "VistrelKit/search/Highlighter.h"
#include "VistrelKit/search/SearchQuery.h"
#include "VistrelKit/search/TextLine.h"

class QProgressBar;

namespace vistrel {

// The frame's image with the query's matches outlined. Fitted, the image is scaled into the
// widget keeping its aspect ratio and centred; at actual size it is drawn at its own size from
// the top left and the widget asks for that size, so a scroll area round it scrolls both ways.
// Each match box (normalized, top-left origin) becomes a rounded rectangle 6 pixels wider and
// taller than the box on the shown image, centred on it, so the outline keeps a 3-pixel margin
// round the matched characters wherever the image is drawn. A busy indicator shows until the
// image arrives.
class FrameCanvas : public QWidget {
  Q_OBJECT

 public:
  static constexpr double outlineMargin = 6;
  static constexpr double outlineRadius = 3;
  static constexpr double outlineWidth = 2;

  explicit FrameCanvas(QWidget* parent = nullptr);

  void setImage(QImage image);
  void setLines(std::vector<TextLine> lines);
  void setQuery(SearchQuery query);
  void setActualSize(bool actualSize);

  bool actualSize() const { return actualSize_; }
  const QImage& image() const { return image_; }
  // Where the image is drawn, in widget coordinates; empty without an image.
  QRectF imageRect() const;
  // The outlines as drawn, in widget coordinates.
  QList<QRectF> outlines() const;

  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void refreshBoxes();

  QImage image_;
  QPixmap scaled_;  // the image as last drawn fitted
  std::vector<TextLine> lines_;
  SearchQuery query_;
  std::vector<Highlighter::Box> boxes_;
  bool actualSize_ = false;
  QProgressBar* busy_;
};

}  // namespace vistrel
