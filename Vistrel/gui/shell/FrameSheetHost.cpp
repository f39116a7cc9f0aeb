#include "Vistrel/gui/shell/FrameSheetHost.h"

#include <QDialog>
#include <QGuiApplication>
#include <QScreen>
#include <QVBoxLayout>

#include "Vistrel/gui/frame/FrameDetailView.h"
#include "Vistrel/model/AppModel.h"

namespace vistrel {
namespace {

const QSize minimumSheet(1000, 680);
const QSize idealSheet(1180, 780);

}  // namespace

FrameSheetHost::FrameSheetHost(AppModel& model, QWidget* window)
    : QObject(window), model_(model), window_(window) {
  connect(&model_, &AppModel::openFrameChanged, this, &FrameSheetHost::refresh);
  refresh();
}

void FrameSheetHost::refresh() {
  const auto& frame = model_.openFrame();
  if (!frame) {
    if (sheet_) {
      // Closed by the model: the sheet goes without clearing the open frame again.
      disconnect(sheet_, nullptr, this, nullptr);
      sheet_->hide();
      sheet_->deleteLater();
    }
    sheet_ = nullptr;
    view_ = nullptr;
    return;
  }
  if (sheet_) {
    view_->setOpenFrame(*frame);
    return;
  }
  sheet_ = new QDialog(window_);
  sheet_->setWindowModality(Qt::WindowModal);
  sheet_->setWindowTitle(QStringLiteral("Frame"));
  sheet_->setAccessibleName(QStringLiteral("Frame"));
  sheet_->setMinimumSize(minimumSheet);
  QSize size = idealSheet;
  if (const QScreen* screen = window_ ? window_->screen() : QGuiApplication::primaryScreen())
    size = size.boundedTo(screen->availableSize()).expandedTo(minimumSheet);
  sheet_->resize(size);
  view_ = new FrameDetailView(
      model_, *frame, [sheet = sheet_] { sheet->reject(); }, sheet_);
  auto* layout = new QVBoxLayout(sheet_);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(view_);
  connect(sheet_, &QDialog::finished, this, [this] { model_.setOpenFrame(std::nullopt); });
  sheet_->open();
}

}  // namespace vistrel
