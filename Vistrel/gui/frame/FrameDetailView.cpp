#include "Vistrel/gui/frame/FrameDetailView.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

#include "Vistrel/gui/common/AppIcon.h"
#include "Vistrel/gui/common/Highlights.h"
#include "Vistrel/gui/common/MomentLabel.h"
#include "Vistrel/gui/common/QtImages.h"
#include "Vistrel/gui/frame/FrameCanvas.h"
#include "Vistrel/gui/shell/PaneCatalog.h"

namespace vistrel {
namespace {

constexpr int sideWidth = 300;
const char* const tintedProperty = "vistrelTinted";

QPushButton* actionButton(const QString& iconName, const QString& label, QWidget* parent) {
  auto* button = new QPushButton(themeIcon(iconName), label, parent);
  button->setAccessibleName(label);
  button->setAutoDefault(false);
  return button;
}

QFont scaled(QFont font, double factor, bool semibold = false) {
  font.setPointSizeF(font.pointSizeF() * factor);
  if (semibold)
    font.setWeight(QFont::DemiBold);
  return font;
}

}  // namespace

FrameDetailView::FrameDetailView(AppModel& model, OpenFrame open, std::function<void()> dismiss,
                                 QWidget* parent)
    : QWidget(parent),
      model_(model),
      open_(std::move(open)),
      dismiss_(std::move(dismiss)),
      canvas_(new FrameCanvas(this)),
      canvasScroll_(new QScrollArea(this)) {
  setAccessibleName(QStringLiteral("Frame"));
  canvasScroll_->setWidget(canvas_);
  canvasScroll_->setWidgetResizable(true);
  canvasScroll_->setFrameShape(QFrame::NoFrame);
  canvasScroll_->setAccessibleName(QStringLiteral("Frame image"));

  auto* separator = new QFrame(this);
  separator->setFrameShape(QFrame::HLine);
  separator->setFrameShadow(QFrame::Sunken);
  auto* body = new QHBoxLayout;
  body->setContentsMargins(0, 0, 0, 0);
  body->addWidget(canvasScroll_, 1);
  body->addWidget(buildSideColumn());
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(buildHeader());
  layout->addWidget(separator);
  layout->addLayout(body, 1);

  connect(actualSize_, &QPushButton::toggled, this, [this](bool on) {
    canvas_->setActualSize(on);
    canvasScroll_->setWidgetResizable(!on);
    if (on)
      canvas_->resize(canvas_->sizeHint());
  });
  connect(done_, &QPushButton::clicked, this, [this] { dismiss_(); });
  connect(copyText_, &QPushButton::clicked, this, [this] {
    if (summary_)
      model_.copyText(*summary_);
  });
  connect(copyImage_, &QPushButton::clicked, this, [this] {
    if (image_)
      model_.copyImage(*image_);
  });
  connect(timeline_, &QPushButton::clicked, this, [this] {
    if (summary_)
      model_.showInTimeline(*summary_);
  });
  connect(delete_, &QPushButton::clicked, this, &FrameDetailView::confirmDelete);
  load();
}

QWidget* FrameDetailView::buildHeader() {
  auto* header = new QWidget(this);
  icon_ = new QLabel(header);
  appName_ = new QLabel(header);
  appName_->setFont(scaled(appName_->font(), 1.15, true));
  title_ = new QLabel(header);
  title_->setFont(scaled(title_->font(), 0.85));
  title_->setForegroundRole(QPalette::PlaceholderText);
  date_ = new QLabel(header);
  date_->setForegroundRole(QPalette::PlaceholderText);
  actualSize_ = new QPushButton(QStringLiteral("Actual Size"), header);
  actualSize_->setCheckable(true);
  actualSize_->setAccessibleName(QStringLiteral("Actual Size"));
  actualSize_->setAutoDefault(false);
  done_ = new QPushButton(QStringLiteral("Done"), header);
  done_->setAccessibleName(QStringLiteral("Done"));
  done_->setAutoDefault(false);

  auto* names = new QVBoxLayout;
  names->setSpacing(0);
  names->addWidget(appName_);
  names->addWidget(title_);
  auto* layout = new QHBoxLayout(header);
  layout->setContentsMargins(16, 10, 16, 10);
  layout->addWidget(icon_);
  layout->addLayout(names, 1);
  layout->addWidget(date_);
  layout->addSpacing(12);
  layout->addWidget(actualSize_);
  layout->addWidget(done_);
  return header;
}

QWidget* FrameDetailView::buildSideColumn() {
  auto* column = new QWidget(this);
  column->setFixedWidth(sideWidth);

  auto* text = new QWidget;
  auto* heading = new QLabel(QStringLiteral("Text on this frame"), text);
  heading->setFont(scaled(heading->font(), 1.0, true));
  auto* busy = new QProgressBar(text);
  busy->setRange(0, 0);
  busy->setTextVisible(false);
  busy->setAccessibleName(QStringLiteral("Loading the text"));
  textBusy_ = busy;
  noText_ = new QLabel(QStringLiteral("No text was found on this frame."), text);
  noText_->setForegroundRole(QPalette::PlaceholderText);
  noText_->setWordWrap(true);
  rowsLayout_ = new QVBoxLayout;
  rowsLayout_->setSpacing(2);
  auto* textLayout = new QVBoxLayout(text);
  textLayout->addWidget(heading);
  textLayout->addWidget(textBusy_);
  textLayout->addWidget(noText_);
  textLayout->addLayout(rowsLayout_);
  textLayout->addStretch(1);
  auto* scroll = new QScrollArea(column);
  scroll->setWidget(text);
  scroll->setWidgetResizable(true);
  scroll->setFrameShape(QFrame::NoFrame);
  scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  scroll->setAccessibleName(QStringLiteral("Text on this frame"));

  copyText_ = actionButton(QStringLiteral("edit-copy"), QStringLiteral("Copy All Text"), column);
  copyImage_ =
      actionButton(QStringLiteral("image-x-generic"), QStringLiteral("Copy Image"), column);
  timeline_ =
      actionButton(QStringLiteral("x-office-calendar"), QStringLiteral("Show in Timeline"), column);
  delete_ =
      actionButton(QStringLiteral("user-trash"), QStringLiteral("Delete Frame\u2026"), column);

  auto* layout = new QVBoxLayout(column);
  layout->setContentsMargins(8, 8, 12, 12);
  layout->addWidget(scroll, 1);
  for (QPushButton* button : {copyText_, copyImage_, timeline_, delete_})
    layout->addWidget(button);
  return column;
}

void FrameDetailView::setOpenFrame(OpenFrame open) {
  if (open == open_)
    return;
  open_ = std::move(open);
  load();
}

void FrameDetailView::load() {
  summary_.reset();
  image_.reset();
  actualSize_->setChecked(false);
  canvas_->setImage({});
  canvas_->setLines({});
  canvas_->setQuery(open_.query);
  showSummary();
  // The model drops this view's older loads and answers nothing once the view is gone.
  model_.loadSummary(open_.id, open_.query, this, [this](std::optional<FrameSummary> summary) {
    if (!summary)
      return;
    summary_ = std::move(summary);
    showSummary();
    Q_EMIT summaryLoaded();
  });
  model_.loadImage(open_.id, this, [this](std::optional<Image> image) {
    if (!image || image->empty())
      return;
    image_ = std::move(image);
    canvas_->setImage(toQImage(*image_));
    Q_EMIT imageLoaded();
  });
}

void FrameDetailView::clearRows() {
  for (QLabel* row : rows_)
    row->deleteLater();
  rows_.clear();
}

void FrameDetailView::showSummary() {
  clearRows();
  textBusy_->setVisible(!summary_);
  noText_->setVisible(summary_ && summary_->meta.lines.empty());
  if (!summary_) {
    icon_->clear();
    appName_->clear();
    title_->clear();
    date_->clear();
    return;
  }
  const FrameMeta& meta = summary_->meta;
  icon_->setPixmap(
      appIcon(QString::fromStdString(meta.bundleID.value_or(std::string()))).pixmap(32, 32));
  appName_->setText(QString::fromStdString(meta.appName));
  icon_->setAccessibleName(appName_->text());
  title_->setText(QString::fromStdString(meta.title.value_or(std::string())));
  title_->setVisible(meta.title.has_value());
  date_->setText(fullDateTime(summary_->date));
  canvas_->setLines(meta.lines);

  const std::vector<int>& matching = summary_->matchingLines;
  for (std::size_t i = 0; i < meta.lines.size(); ++i) {
    const std::string& line = meta.lines[i].text;
    auto* row = new QLabel(highlightedHtml(line, open_.query));
    row->setTextFormat(Qt::RichText);
    row->setWordWrap(true);
    row->setTextInteractionFlags(Qt::TextSelectableByMouse);
    row->setAccessibleName(QString::fromStdString(line));
    row->setContentsMargins(4, 2, 4, 2);
    const bool tinted =
        !open_.query.isEmpty() && std::binary_search(matching.begin(), matching.end(), int(i));
    row->setProperty(tintedProperty, tinted);
    if (tinted) {
      row->setAutoFillBackground(true);
      QPalette palette = row->palette();
      palette.setColor(QPalette::Window, matchingRowColour());
      row->setPalette(palette);
    }
    rowsLayout_->addWidget(row);
    rows_.append(row);
  }
}

bool FrameDetailView::isTinted(const QLabel* row) {
  return row->property(tintedProperty).toBool();
}

void FrameDetailView::confirmDelete() {
  if (confirmation_)
    return;
  confirmation_ =
      new QMessageBox(QMessageBox::Warning, QStringLiteral("Delete this frame?"),
                      QStringLiteral("Delete this frame?"), QMessageBox::NoButton, this);
  confirmation_->setInformativeText(
      QStringLiteral("Its image and text are removed from the history for good."));
  confirmation_->setAccessibleName(QStringLiteral("Delete this frame?"));
  QPushButton* remove =
      confirmation_->addButton(QStringLiteral("Delete Frame"), QMessageBox::DestructiveRole);
  remove->setAccessibleName(QStringLiteral("Delete Frame"));
  QPushButton* cancel = confirmation_->addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
  cancel->setAccessibleName(QStringLiteral("Cancel"));
  confirmation_->setDefaultButton(cancel);
  confirmation_->setEscapeButton(cancel);
  confirmation_->setWindowModality(Qt::WindowModal);
  connect(confirmation_, &QMessageBox::finished, this, [this, remove] {
    const bool confirmed = confirmation_->clickedButton() == remove;
    confirmation_->deleteLater();
    confirmation_ = nullptr;
    if (confirmed)
      model_.deleteFrame(open_.id);
  });
  confirmation_->open();
}

}  // namespace vistrel
