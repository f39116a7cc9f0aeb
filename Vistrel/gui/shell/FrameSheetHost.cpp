#include "Vistrel/gui/shell/FrameSheetHost.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QVBoxLayout>

#include "Vistrel/model/AppModel.h"

namespace vistrel {

FrameSheetHost::FrameSheetHost(AppModel& model, QWidget* window)
    : QObject(window), model_(model), window_(window) {
  connect(&model_, &AppModel::openFrameChanged, this, &FrameSheetHost::refresh);
  refresh();
}

void FrameSheetHost::refresh() {
  const auto& frame = model_.openFrame();
  if (!frame) {
    if (sheet_)
      sheet_->deleteLater();
    sheet_ = nullptr;
    return;
  }
  if (sheet_)
    return;
  sheet_ = new QDialog(window_);
  sheet_->setWindowModality(Qt::WindowModal);
  sheet_->setWindowTitle(QStringLiteral("Frame"));
  sheet_->setAccessibleName(QStringLiteral("Frame"));
  auto* note = new QLabel(QStringLiteral("The frame view is not built yet."), sheet_);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, sheet_);
  auto* layout = new QVBoxLayout(sheet_);
  layout->addWidget(note);
  layout->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::rejected, sheet_, &QDialog::reject);
  connect(sheet_, &QDialog::finished, this, [this] { model_.setOpenFrame(std::nullopt); });
  sheet_->open();
}

}  // namespace vistrel
