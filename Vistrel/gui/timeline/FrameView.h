#pragma once

#include <QAbstractButton>
#include <QImage>
#include <QPixmap>
#include <QProgressBar>
#include <optional>

#include "VistrelKit/imaging/Image.h"

namespace vistrel {

// The timeline's current frame, scaled to fit with its aspect ratio kept, or a busy indicator
// while there is no image. The whole area is one button.
class FrameView : public QAbstractButton {
  Q_OBJECT

 public:
  explicit FrameView(QWidget* parent = nullptr);

  void setImage(const std::optional<Image>& image);
  bool hasImage() const { return !image_.isNull(); }
  const QImage& image() const { return image_; }
  QProgressBar* progress() const { return progress_; }

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

  // Shares the pixels of `image`, without a copy.
  static QImage toQImage(const Image& image);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  QRect imageRect() const;

  QImage image_;
  // The image at its shown size, made once per image and size rather than at every repaint.
  QPixmap scaled_;
  QProgressBar* progress_;
};

}  // namespace vistrel
