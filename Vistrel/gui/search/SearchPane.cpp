#include "Vistrel/gui/search/SearchPane.h"

#include <QAction>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShortcut>
#include <QSignalBlocker>
#include <QStackedWidget>
#include <QVBoxLayout>

#include "Vistrel/gui/search/ResultGrid.h"
#include "Vistrel/gui/search/ResultListModel.h"
#include "Vistrel/gui/search/SearchTexts.h"
#include "Vistrel/gui/shell/PaneCatalog.h"
#include "VistrelKit/base/Texts.h"

namespace vistrel {
namespace {

constexpr DateRange ranges[] = {DateRange::today, DateRange::week, DateRange::month,
                                DateRange::all};

QLabel* secondaryLabel(const QString& text, QWidget* parent, double scale = 1.0) {
  auto* label = new QLabel(text, parent);
  label->setForegroundRole(QPalette::PlaceholderText);
  if (scale != 1.0) {
    QFont font = label->font();
    font.setPointSizeF(font.pointSizeF() * scale);
    label->setFont(font);
  }
  return label;
}

QComboBox* picker(const QString& name, QWidget* parent) {
  auto* box = new QComboBox(parent);
  box->setAccessibleName(name);
  box->setSizeAdjustPolicy(QComboBox::AdjustToContents);
  return box;
}

}  // namespace

SearchPane::SearchPane(AppModel& model, QWidget* parent)
    : QWidget(parent),
      model_(model),
      field_(new QLineEdit(this)),
      clear_(new QAction(themeIcon(QStringLiteral("edit-clear")), QStringLiteral("Clear search"),
                         this)),
      apps_(picker(QStringLiteral("App"), this)),
      range_(picker(QStringLiteral("When"), this)),
      summary_(secondaryLabel({}, this)),
      tip_(secondaryLabel(QStringLiteral("Tip: put words in quotes to match a phrase."), this,
                          0.85)),
      area_(new QStackedWidget(this)),
      messagePage_(buildMessagePage()),
      grid_(new ResultGrid(this)),
      results_(new ResultListModel(model, this)) {
  setAccessibleName(QStringLiteral("Search"));
  field_->setPlaceholderText(
      QStringLiteral("Search everything you've seen: words, numbers, names\u2026"));
  field_->setAccessibleName(QStringLiteral("Search your screen history"));
  auto* magnifier =
      new QAction(themeIcon(QStringLiteral("system-search")), QStringLiteral("Search now"), this);
  connect(magnifier, &QAction::triggered, this, [this] { model_.runSearch(true); });
  field_->addAction(magnifier, QLineEdit::LeadingPosition);
  field_->addAction(clear_, QLineEdit::TrailingPosition);
  field_->setMinimumWidth(260);
  tip_->setForegroundRole(QPalette::Mid);

  for (DateRange range : ranges)
    range_->addItem(dateRangeLabel(range), int(range));
  grid_->setModel(results_);
  area_->addWidget(messagePage_);
  area_->addWidget(grid_);

  auto* filters = new QHBoxLayout;
  filters->addWidget(field_, 1);
  auto* appLabel = new QLabel(QStringLiteral("App"), this);
  appLabel->setBuddy(apps_);
  filters->addWidget(appLabel);
  filters->addWidget(apps_);
  auto* rangeLabel = new QLabel(QStringLiteral("When"), this);
  rangeLabel->setBuddy(range_);
  filters->addWidget(rangeLabel);
  filters->addWidget(range_);

  auto* top = new QVBoxLayout;
  top->setContentsMargins(16, 16, 16, 4);
  top->addLayout(filters);
  top->addWidget(summary_);
  top->addWidget(tip_);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addLayout(top);
  layout->addWidget(area_, 1);
  setTabOrder(field_, apps_);
  setTabOrder(apps_, range_);
  setTabOrder(range_, grid_);

  connect(field_, &QLineEdit::textEdited, this, &SearchPane::typed);
  connect(field_, &QLineEdit::returnPressed, this, [this] { model_.runSearch(true); });
  connect(clear_, &QAction::triggered, this, [this] {
    model_.setSearchText({});
    model_.runSearch(false);
    field_->setFocus();
  });
  connect(apps_, &QComboBox::currentIndexChanged, this, [this](int index) {
    const QByteArray tag = apps_->itemData(index).toByteArray();
    model_.setAppFilter(tag.isEmpty() ? std::nullopt
                                      : std::optional(Bytes(tag.begin(), tag.end())));
    model_.runSearch(true);
  });
  connect(range_, &QComboBox::currentIndexChanged, this, [this](int index) {
    model_.setRange(DateRange(range_->itemData(index).toInt()));
    model_.runSearch(true);
  });
  connect(grid_, &ResultGrid::opened, this, &SearchPane::openCard);
  connect(messageButton_, &QPushButton::clicked, this, [this] { model_.setPane(messageTarget_); });

  connect(&model_, &AppModel::searchTextChanged, this, &SearchPane::refreshField);
  connect(&model_, &AppModel::appsChanged, this, &SearchPane::refreshApps);
  connect(&model_, &AppModel::appFilterChanged, this, &SearchPane::refreshApps);
  connect(&model_, &AppModel::rangeChanged, this, &SearchPane::refreshRange);
  for (auto signal :
       {&AppModel::hitsChanged, &AppModel::searchedQueryChanged, &AppModel::statsChanged,
        &AppModel::libraryChanged, &AppModel::libraryProblemChanged})
    connect(&model_, signal, this, &SearchPane::refreshResults);

  // Ctrl+F anywhere in the main window, whichever pane shows.
  auto* find = new QShortcut(QKeySequence::Find, parent ? parent->window() : this);
  find->setContext(Qt::WindowShortcut);
  connect(find, &QShortcut::activated, this, [this] {
    model_.setPane(Pane::search);
    focusField();
  });

  refreshField();
  refreshApps();
  refreshRange();
  refreshResults();
}

QWidget* SearchPane::buildMessagePage() {
  auto* page = new QWidget(this);
  messageIcon_ = new QLabel(page);
  messageIcon_->setAlignment(Qt::AlignCenter);
  messageTitle_ = new QLabel(page);
  messageTitle_->setAlignment(Qt::AlignCenter);
  QFont title = messageTitle_->font();
  title.setPointSizeF(title.pointSizeF() * 1.3);
  title.setWeight(QFont::DemiBold);
  messageTitle_->setFont(title);
  messageText_ = secondaryLabel({}, page);
  messageText_->setAlignment(Qt::AlignCenter);
  messageText_->setWordWrap(true);
  messageText_->setMaximumWidth(520);
  messageButton_ = new QPushButton(page);
  auto* layout = new QVBoxLayout(page);
  layout->addStretch(1);
  layout->addWidget(messageIcon_);
  layout->addWidget(messageTitle_);
  layout->addWidget(messageText_, 0, Qt::AlignHCenter);
  layout->addWidget(messageButton_, 0, Qt::AlignHCenter);
  layout->addStretch(2);
  return page;
}

QString SearchPane::messageTitle() const {
  return area_->currentWidget() == messagePage_ ? messageTitle_->text() : QString();
}

void SearchPane::typed(const QString& text) {
  model_.setSearchText(text.toStdString());
  model_.runSearch(false);
}

void SearchPane::refreshField() {
  const QString text = QString::fromStdString(model_.searchText());
  if (field_->text() != text)
    field_->setText(text);
  clear_->setVisible(!text.isEmpty());
}

void SearchPane::refreshApps() {
  QList<std::pair<QString, QByteArray>> entries{{QStringLiteral("All apps"), QByteArray()}};
  int selected = 0;
  for (const AppEntry& app : model_.apps()) {
    entries.append({appEntryLabel(app), QByteArray(reinterpret_cast<const char*>(app.tag.data()),
                                                   qsizetype(app.tag.size()))});
    if (model_.appFilter() && *model_.appFilter() == app.tag)
      selected = int(entries.size()) - 1;
  }
  const QSignalBlocker quiet(apps_);
  // The picker is rebuilt only when its entries changed, never while its own choice is being
  // handled.
  bool same = apps_->count() == entries.size();
  for (int i = 0; same && i < apps_->count(); ++i)
    same = apps_->itemText(i) == entries[i].first && apps_->itemData(i) == entries[i].second;
  if (!same) {
    apps_->clear();
    for (const auto& [label, tag] : entries)
      apps_->addItem(label, tag);
  }
  apps_->setCurrentIndex(selected);
}

void SearchPane::refreshRange() {
  const QSignalBlocker quiet(range_);
  range_->setCurrentIndex(range_->findData(int(model_.range())));
}

void SearchPane::refreshResults() {
  const bool open = model_.isLibraryOpen();
  const auto hits = std::int64_t(model_.hits().size());
  summary_->setText(searchSummary(open, model_.searchedQuery(), hits, model_.stats().frames));
  const bool emptyQuery = model_.searchedQuery().isEmpty();
  if (model_.libraryProblem()) {
    showMessage(QStringLiteral("dialog-warning"), QStringLiteral("The history can't be opened"),
                QString::fromStdString(*model_.libraryProblem()), QStringLiteral("Open Storage"),
                Pane::storage);
  } else if (!open) {
    showMessage(
        QStringLiteral("media-record"), QStringLiteral("Nothing saved yet"),
        QString::fromUtf8(texts::nothingSavedYet.data(), qsizetype(texts::nothingSavedYet.size())),
        QStringLiteral("Set Up Capture"), Pane::capture, true);
  } else if (hits == 0) {
    showMessage(
        QStringLiteral("edit-find"),
        emptyQuery ? QStringLiteral("No frames in this range") : QStringLiteral("No frames match"),
        emptyQuery ? QStringLiteral("Try \u201CAny time\u201D, or check that capture is on.")
                   : QStringLiteral("Words match from their start (\u201Cinvo\u201D finds "
                                    "\u201CInvoice\u201D). Try fewer words, another app or "
                                    "\u201CAny time\u201D."));
  } else {
    area_->setCurrentWidget(grid_);
  }
}

void SearchPane::showMessage(const QString& iconName, const QString& title, const QString& text,
                             const QString& button, Pane target, bool accent) {
  messageIcon_->setPixmap(themeIcon(iconName).pixmap(48, 48));
  messageIcon_->setAccessibleName(title);
  messageTitle_->setText(title);
  messageTitle_->setForegroundRole(accent ? QPalette::Highlight : QPalette::WindowText);
  messageText_->setText(text);
  messageButton_->setText(button);
  messageButton_->setAccessibleName(button);
  messageButton_->setVisible(!button.isEmpty());
  messageButton_->setDefault(accent);
  messageTarget_ = target;
  area_->setCurrentWidget(messagePage_);
}

void SearchPane::openCard(int row) {
  if (row < 0 || row >= results_->rowCount())
    return;
  model_.setOpenFrame(OpenFrame{results_->hit(row).id, model_.searchedQuery()});
}

void SearchPane::focusField() {
  field_->setFocus(Qt::ShortcutFocusReason);
  field_->selectAll();
}

void SearchPane::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  focusField();
  if (model_.hits().empty())
    model_.runSearch(true);
}

}  // namespace vistrel
