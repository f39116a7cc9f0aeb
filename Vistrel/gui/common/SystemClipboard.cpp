#include "Vistrel/gui/common/SystemClipboard.h"

#include <QClipboard>
#include <QGuiApplication>

#include "Vistrel/gui/common/QtImages.h"

namespace vistrel {
namespace {

QClipboard& clipboard() {
  QClipboard* board = QGuiApplication::clipboard();
  if (!board)
    throw ClipboardError("there is no clipboard in this session");
  return *board;
}

}  // namespace

void SystemClipboard::setText(const std::string& text) {
  clipboard().setText(QString::fromStdString(text));
}

void SystemClipboard::setImage(const Image& image) {
  const QImage picture = toQImage(image);
  if (picture.isNull())
    throw ClipboardError("the image is empty");
  // A deep copy: the clipboard may outlive every other holder of the pixels.
  clipboard().setImage(picture.copy());
}

}  // namespace vistrel
