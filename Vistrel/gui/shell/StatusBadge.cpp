#include "Vistrel/gui/shell/StatusBadge.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QVBoxLayout>

#include "Vistrel/model/AppModel.h"

namespace vistrel {
namespace {

QPixmap dotPixmap(const QColor& colour) {
  QPixmap pixmap(10, 10);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(Qt::NoPen);
  painter.setBrush(colour);
  painter.drawEllipse(0, 0, 10, 10);
  return pixmap;
}

}  // namespace

StatusBadge::State StatusBadge::stateFor(const AppModel& model) {
  if (!model.config().captureEnabled)
    return {QColor(Qt::gray), QStringLiteral("Capture is off"),
            QStringLiteral("Nothing new is being saved")};
  QString detail = QString::fromStdString(model.statusLine());
  detail.remove(QStringLiteral("Recording \u00b7 "));
  if (model.isPaused())
    return {QColor(0xe8, 0x87, 0x0e), QStringLiteral("Paused"), detail};
  if (model.screenRecording())
    return {QColor(0xd9, 0x2d, 0x20), QStringLiteral("Recording"), detail};
  return {QColor(0xe6, 0xb8, 0x00), QStringLiteral("Needs permission"), detail};
}

StatusBadge::StatusBadge(AppModel& model, QWidget* parent)
    : QWidget(parent),
      model_(model),
      dot_(new QLabel(this)),
      title_(new QLabel(this)),
      subtitle_(new QLabel(this)) {
  QFont titleFont = title_->font();
  titleFont.setPointSizeF(titleFont.pointSizeF() * 0.92);
  titleFont.setWeight(QFont::DemiBold);
  title_->setFont(titleFont);
  QFont subtitleFont = subtitle_->font();
  subtitleFont.setPointSizeF(subtitleFont.pointSizeF() * 0.85);
  subtitle_->setFont(subtitleFont);
  subtitle_->setForegroundRole(QPalette::PlaceholderText);
  subtitle_->setWordWrap(true);
  dot_->setAccessibleName(QStringLiteral("Capture status colour"));

  auto* texts = new QVBoxLayout;
  texts->setSpacing(1);
  texts->addWidget(title_);
  texts->addWidget(subtitle_);
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(10, 10, 10, 10);
  row->addWidget(dot_, 0, Qt::AlignTop | Qt::AlignLeft);
  row->addLayout(texts, 1);

  for (const auto signal : {&AppModel::configChanged, &AppModel::statusLineChanged,
                            &AppModel::screenRecordingChanged, &AppModel::menuBarSymbolChanged})
    connect(&model_, signal, this, &StatusBadge::refresh);
  refresh();
}

void StatusBadge::refresh() {
  State next = stateFor(model_);
  if (next == state_ && !title_->text().isEmpty())
    return;
  state_ = std::move(next);
  dot_->setPixmap(dotPixmap(state_.dot));
  dot_->setAccessibleDescription(state_.dot.name());
  title_->setText(state_.title);
  subtitle_->setText(state_.subtitle);
  setAccessibleName(state_.title);
  setAccessibleDescription(state_.subtitle);
}

}  // namespace vistrel
