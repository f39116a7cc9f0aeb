#include "Vistrel/gui/storage/StoragePane.h"

#include <QComboBox>
#include <QDir>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>
#include <cmath>

#include "Vistrel/gui/common/Card.h"
#include "Vistrel/gui/common/NetworkUse.h"
#include "Vistrel/gui/common/PaneHeader.h"
#include "Vistrel/gui/common/PanePage.h"
#include "Vistrel/gui/common/Tint.h"
#include "Vistrel/gui/shell/PaneCatalog.h"
#include "Vistrel/gui/storage/FolderRow.h"
#include "Vistrel/gui/storage/StorageFormat.h"
#include "Vistrel/model/AppModel.h"
#include "VistrelKit/base/DataFolder.h"

namespace vistrel {
namespace {

const QColor orange = tintColor("orange");
const QColor red = tintColor("red");
const QColor green = tintColor("green");

// One figure over its caption. A screen reader reads the caption as the name and the figure as
// its description.
QWidget* figure(const QString& caption, QWidget* parent) {
  auto* box = new QWidget(parent);
  auto* value = new QLabel(box);
  value->setObjectName(QStringLiteral("value"));
  QFont large = value->font();
  large.setPointSizeF(large.pointSizeF() * 1.6);
  large.setBold(true);
  value->setFont(large);
  value->setAlignment(Qt::AlignHCenter);
  auto* captionLabel = new QLabel(caption, box);
  captionLabel->setForegroundRole(QPalette::PlaceholderText);
  captionLabel->setAlignment(Qt::AlignHCenter);
  box->setAccessibleName(caption);
  auto* column = new QVBoxLayout(box);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(2);
  column->addWidget(value);
  column->addWidget(captionLabel);
  return box;
}

void setFigure(QWidget* box, const QString& value) {
  box->findChild<QLabel*>(QStringLiteral("value"))->setText(value);
  box->setAccessibleDescription(value);
}

QPushButton* button(const QString& title, QWidget* parent) {
  auto* pushButton = new QPushButton(title, parent);
  pushButton->setAccessibleName(title);
  return pushButton;
}

void setLabelText(QLabel* label, const QString& text) {
  label->setText(text);
  label->setAccessibleName(text);
}

QWidget* lockedLine(const QString& text, QWidget* parent, QLabel** labelOut = nullptr) {
  auto* row = new QWidget(parent);
  auto* lock = new QLabel(row);
  lock->setPixmap(tintedPixmap(themeIcon(QStringLiteral("changes-prevent")), green, 14));
  lock->setAlignment(Qt::AlignTop);
  auto* label = new QLabel(row);
  label->setWordWrap(true);
  setLabelText(label, text);
  auto* line = new QHBoxLayout(row);
  line->setContentsMargins(0, 0, 0, 0);
  line->addWidget(lock, 0, Qt::AlignTop);
  line->addWidget(label, 1);
  if (labelOut != nullptr)
    *labelOut = label;
  return row;
}

// Shows the choice that equals the stored value; a stored value that is no choice (45 days
// written in the settings file) shows none and stays as it is until the user picks one.
template <typename Value>
void selectStored(QComboBox* picker, const std::vector<Value>& choices, Value stored) {
  const QSignalBlocker quiet(picker);
  int index = -1;
  for (std::size_t i = 0; i < choices.size(); ++i) {
    if (std::abs(static_cast<double>(choices[i]) - static_cast<double>(stored)) < 1e-9)
      index = static_cast<int>(i);
  }
  picker->setCurrentIndex(index);
}

}  // namespace

StoragePane::StoragePane(AppModel& model, QWidget* parent) : QScrollArea(parent), model_(model) {
  QVBoxLayout* column = setUpPanePage(this, QStringLiteral("storagePane"));
  QWidget* page = column->parentWidget();

  column->addWidget(new PaneHeader(
      QStringLiteral("Storage"),
      QStringLiteral("Frames older than the limit, or past the disk cap, are deleted oldest first, "
                     "automatically."),
      page));

  problemCard_ = new Card(QStringLiteral("The history can\u2019t be opened"),
                          QStringLiteral("dialog-warning"), orange, page);
  problemText_ = new QLabel(problemCard_);
  problemText_->setWordWrap(true);
  problemText_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  problemCard_->content()->addWidget(problemText_);
  column->addWidget(problemCard_);

  column->addWidget(buildFigures(page));
  column->addWidget(buildLimits(page));
  column->addWidget(buildDelete(page));
  column->addWidget(buildKept(page));
  column->addStretch(1);
  setWidget(page);

  connect(&model_, &AppModel::libraryProblemChanged, this, &StoragePane::refreshProblem);
  connect(&model_, &AppModel::statsChanged, this, &StoragePane::refreshFigures);
  connect(&model_, &AppModel::configChanged, this, &StoragePane::refreshLimits);
  // Where the key is kept is settled when a library is created or the history deleted.
  connect(&model_, &AppModel::libraryChanged, this, &StoragePane::refreshKeyPlace);
  refreshKeyPlace();
  refreshProblem();
  refreshFigures();
  refreshLimits();
}

QWidget* StoragePane::buildFigures(QWidget* parent) {
  auto* row = new QWidget(parent);
  auto* figures = new QHBoxLayout(row);
  figures->setContentsMargins(0, 4, 0, 4);
  framesFigure_ = figure(QStringLiteral("frames saved"), row);
  bytesFigure_ = figure(QStringLiteral("on disk"), row);
  todayFigure_ = figure(QStringLiteral("today"), row);
  oldestFigure_ = figure(QStringLiteral("oldest frame"), row);
  for (QWidget* box : {framesFigure_, bytesFigure_, todayFigure_, oldestFigure_})
    figures->addWidget(box, 1);
  return row;
}

Card* StoragePane::buildLimits(QWidget* parent) {
  auto* card = new Card(QStringLiteral("Limits"), QStringLiteral("preferences-system"),
                        palette().color(QPalette::Highlight), parent);
  retention_ = new QComboBox(card);
  retention_->setObjectName(QStringLiteral("retentionPicker"));
  retention_->setAccessibleName(QStringLiteral("Keep frames for"));
  for (int days : dayChoices)
    retention_->addItem(dayChoiceText(days), days);
  cap_ = new QComboBox(card);
  cap_->setObjectName(QStringLiteral("capPicker"));
  cap_->setAccessibleName(QStringLiteral("Use at most"));
  for (double gigabytes : capChoices)
    cap_->addItem(capChoiceText(gigabytes), gigabytes);
  // activated: only the user's choice writes the settings, never the redraw of a stored value.
  connect(retention_, &QComboBox::activated, this, [this](int index) {
    VistrelConfig config = model_.config();
    config.retentionDays = dayChoices.at(static_cast<std::size_t>(index));
    model_.setConfig(std::move(config));
  });
  connect(cap_, &QComboBox::activated, this, [this](int index) {
    VistrelConfig config = model_.config();
    config.capGB = capChoices.at(static_cast<std::size_t>(index));
    model_.setConfig(std::move(config));
  });
  auto* form = new QFormLayout;
  form->addRow(QStringLiteral("Keep frames for"), retention_);
  form->addRow(QStringLiteral("Use at most"), cap_);
  card->content()->addLayout(form);
  card->content()->addWidget(Card::note(
      QStringLiteral(
          "Roughly 50 to 150 KB per kept frame; a busy day of work is a few hundred MB."),
      card));
  auto* cleanUp = button(QStringLiteral("Clean Up Now"), card);
  connect(cleanUp, &QPushButton::clicked, &model_, &AppModel::cleanUpNow);
  card->content()->addWidget(cleanUp, 0, Qt::AlignLeft);
  return card;
}

Card* StoragePane::buildDelete(QWidget* parent) {
  auto* card = new Card(QStringLiteral("Delete"), QStringLiteral("user-trash"), red, parent);
  deleteText_ = new QLabel(card);
  deleteText_->setWordWrap(true);
  card->content()->addWidget(deleteText_);
  auto* buttons = new QHBoxLayout;
  auto* quarter = button(QStringLiteral("Last 15 Minutes"), card);
  auto* hour = button(QStringLiteral("Last Hour"), card);
  auto* today = button(QStringLiteral("Today"), card);
  auto* everything = button(QStringLiteral("Delete Everything\u2026"), card);
  QPalette destructive = everything->palette();
  destructive.setColor(QPalette::ButtonText, red);
  everything->setPalette(destructive);
  connect(quarter, &QPushButton::clicked, this, [this] { model_.deleteRecent(15); });
  connect(hour, &QPushButton::clicked, this, [this] { model_.deleteRecent(60); });
  connect(today, &QPushButton::clicked, this, [this] { model_.deleteRecent(std::nullopt); });
  connect(everything, &QPushButton::clicked, this, &StoragePane::askToDeleteEverything);
  for (QPushButton* each : {quarter, hour, today, everything})
    buttons->addWidget(each);
  buttons->addStretch(1);
  card->content()->addLayout(buttons);
  return card;
}

Card* StoragePane::buildKept(QWidget* parent) {
  auto* card = new Card(QStringLiteral("Where and how it\u2019s kept"),
                        QStringLiteral("security-high"), green, parent);
  card->content()->addWidget(new FolderRow(model_.dataFolder(), card));
  card->content()->addWidget(lockedLine(QString(), card, &keptText_));
  const QString lines[] = {
      QStringLiteral("Search uses an index of keyed hashes (HMAC-SHA256) of word beginnings, never "
                     "the words themselves. Results are checked against the decrypted text, so "
                     "they\u2019re exact."),
      QStringLiteral("Not hidden: when frames were taken and how big they are."),
      QStringLiteral(
          "Frames, their text and your searches are never uploaded, synced or shared. ") +
          networkRequestsText(),
  };
  for (const QString& line : lines)
    card->content()->addWidget(lockedLine(line, card));
  return card;
}

void StoragePane::refreshKeyPlace() {
  const std::optional<std::filesystem::path> keyFile = model_.keyFile();
  const QString keyFileShown =
      keyFile ? abbreviatedPath(*keyFile, {QDir::homePath().toStdString(), homeFolder()})
              : QString();
  setLabelText(keptText_, QString::fromStdString(
                              texts::keptKeyText(model_.keyPlace(), keyFileShown.toStdString())));
  setLabelText(deleteText_, QString::fromStdString(texts::deleteCardText(model_.keyPlace())));
}

void StoragePane::refreshProblem() {
  const auto& problem = model_.libraryProblem();
  problemText_->setText(problem ? QString::fromStdString(*problem) : QString());
  problemText_->setAccessibleName(problemText_->text());
  problemCard_->setVisible(problem.has_value());
}

void StoragePane::refreshFigures() {
  const LibraryStats& stats = model_.stats();
  setFigure(framesFigure_, groupedNumber(stats.frames));
  setFigure(bytesFigure_, byteCount(stats.bytes));
  setFigure(todayFigure_, groupedNumber(stats.today));
  setFigure(oldestFigure_, monthAndDay(stats.oldest));
  if (confirmation_)
    confirmation_->setInformativeText(deleteEverythingMessage(stats.frames));
}

void StoragePane::refreshLimits() {
  selectStored(retention_, dayChoices, model_.config().retentionDays);
  selectStored(cap_, capChoices, model_.config().capGB);
}

void StoragePane::askToDeleteEverything() {
  if (confirmation_) {
    confirmation_->raise();
    return;
  }
  confirmAll_ = true;
  auto* dialog =
      new QMessageBox(QMessageBox::Warning, QStringLiteral("Delete the whole history?"),
                      QStringLiteral("Delete the whole history?"), QMessageBox::NoButton, window());
  dialog->setInformativeText(deleteEverythingMessage(model_.stats().frames));
  QPushButton* destroy =
      dialog->addButton(QStringLiteral("Delete Everything"), QMessageBox::DestructiveRole);
  destroy->setAccessibleName(destroy->text());
  QPushButton* cancel = dialog->addButton(QMessageBox::Cancel);
  cancel->setAccessibleName(QStringLiteral("Cancel"));
  dialog->setDefaultButton(cancel);
  dialog->setEscapeButton(cancel);
  dialog->setWindowModality(Qt::WindowModal);
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  confirmation_ = dialog;
  connect(dialog, &QMessageBox::finished, this, [this, dialog, destroy] {
    const bool confirmed = dialog->clickedButton() == destroy;
    confirmAll_ = false;
    if (confirmed)
      model_.deleteEverything();
  });
  dialog->open();
}

}  // namespace vistrel
