#include "Vistrel/gui/privacy/PrivacyPane.h"

#include <QCheckBox>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <functional>

#include "Vistrel/gui/common/AppIcon.h"
#include "Vistrel/gui/common/Card.h"
#include "Vistrel/gui/common/PaneHeader.h"
#include "Vistrel/gui/common/PanePage.h"
#include "Vistrel/gui/privacy/AppChooser.h"
#include "Vistrel/gui/privacy/FlowLayout.h"
#include "Vistrel/gui/shell/PaneCatalog.h"
#include "Vistrel/gui/shell/ShortcutText.h"
#include "Vistrel/model/AppModel.h"
#include "VistrelKit/base/Texts.h"
#include "VistrelKit/settings/VistrelConfig.h"

namespace vistrel {
namespace {

QString text(std::string_view linuxText) {
  return QString::fromUtf8(linuxText.data(), qsizetype(linuxText.size()));
}

QToolButton* removeButton(const QString& themeName, const QString& fallback,
                          const QString& accessibleName, QWidget* parent) {
  auto* button = new QToolButton(parent);
  button->setIcon(themeIcon(themeName));
  if (button->icon().isNull())
    button->setText(fallback);
  button->setAutoRaise(true);
  button->setAccessibleName(accessibleName);
  button->setToolTip(accessibleName);
  return button;
}

// Queued, so that a row or chip is never deleted inside its own button's click.
void later(QObject* context, std::function<void()> action) {
  QMetaObject::invokeMethod(context, std::move(action), Qt::QueuedConnection);
}

void clearLayout(QLayout* layout) {
  while (QLayoutItem* item = layout->takeAt(0)) {
    if (QWidget* widget = item->widget()) {
      widget->hide();
      widget->deleteLater();
    }
    delete item;
  }
}

}  // namespace

std::optional<std::vector<std::string>> withTitleWord(const std::vector<std::string>& words,
                                                      const QString& typed) {
  const QString word = typed.trimmed();
  if (word.isEmpty())
    return std::nullopt;
  const bool listed = std::any_of(words.begin(), words.end(), [&](const std::string& existing) {
    return QString::fromStdString(existing).compare(word, Qt::CaseInsensitive) == 0;
  });
  if (listed)
    return std::nullopt;
  std::vector<std::string> added = words;
  added.push_back(word.toStdString());
  return added;
}

PrivacyPane::PrivacyPane(AppModel& model, QWidget* parent) : QScrollArea(parent), model_(model) {
  QVBoxLayout* column = setUpPanePage(this, QStringLiteral("privacyPane"));
  QWidget* page = column->parentWidget();
  auto* header = new PaneHeader(
      QStringLiteral("Privacy"),
      QStringLiteral("What Vistrel never records. An excluded app's windows are blanked out of "
                     "every frame, even behind other windows; when one is in front, nothing is "
                     "saved at all."),
      page);
  column->addWidget(header);
  column->addWidget(buildAppsCard());
  column->addWidget(buildTitlesCard());
  column->addWidget(buildMomentsCard());
  column->addStretch(1);
  setWidget(page);

  connect(&model_, &AppModel::configChanged, this, &PrivacyPane::refresh);
  refresh();
}

QWidget* PrivacyPane::buildAppsCard() {
  auto* card = new Card(QStringLiteral("Apps never recorded"), QStringLiteral("security-high"),
                        palette().color(QPalette::Text));
  appRows_ = new QVBoxLayout;
  appRows_->setSpacing(4);
  card->content()->addLayout(appRows_);

  auto* addRunning = new QPushButton(QStringLiteral("Add a Running App"), card);
  runningApps_ = new QMenu(addRunning);
  runningApps_->setAccessibleName(addRunning->text());
  // Popped up rather than attached: an attached menu runs its own event loop inside the click,
  // which keeps a screen reader's "press" waiting until the menu closes.
  connect(addRunning, &QPushButton::clicked, this, [this, addRunning] {
    fillRunningApps();
    runningApps_->popup(addRunning->mapToGlobal(QPoint(0, addRunning->height())));
  });
  auto* choose = new QPushButton(QStringLiteral("Choose App\u2026"), card);
  connect(choose, &QPushButton::clicked, this, &PrivacyPane::chooseApp);
  auto* restore = new QPushButton(QStringLiteral("Restore Defaults"), card);
  connect(restore, &QPushButton::clicked, this, [this] {
    change([](VistrelConfig& config) { config.excludedApps = defaultExcludedApps(); });
  });
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(addRunning);
  buttons->addWidget(choose);
  buttons->addStretch(1);
  buttons->addWidget(restore);
  card->content()->addLayout(buttons);
  return card;
}

QWidget* PrivacyPane::buildTitlesCard() {
  auto* card = new Card(QStringLiteral("Window titles"), QStringLiteral("text-x-generic"),
                        palette().color(QPalette::Text));
  auto* explanation = Card::note(
      QStringLiteral("A window whose title contains one of these as whole words is never "
                     "recorded, in any app or web page. The defaults cover banking."),
      card);
  explanation->setAccessibleName(explanation->text());
  card->content()->addWidget(explanation);
  chipArea_ = new QWidget(card);
  chipArea_->setAccessibleName(QStringLiteral("Excluded title words"));
  chips_ = new FlowLayout(chipArea_);
  card->content()->addWidget(chipArea_);

  wordField_ = new QLineEdit(card);
  wordField_->setPlaceholderText(QStringLiteral("Add a word or phrase, e.g. \u201cmedical\u201d"));
  wordField_->setAccessibleName(QStringLiteral("Add a word or phrase"));
  connect(wordField_, &QLineEdit::returnPressed, this, &PrivacyPane::addWord);
  auto* restore = new QPushButton(QStringLiteral("Restore Defaults"), card);
  restore->setAccessibleDescription(QStringLiteral("Restores the default title words"));
  connect(restore, &QPushButton::clicked, this, [this] {
    change([](VistrelConfig& config) { config.excludedTitleWords = defaultExcludedTitleWords(); });
  });
  auto* row = new QHBoxLayout;
  row->addWidget(wordField_, 1);
  row->addWidget(restore);
  card->content()->addLayout(row);
  return card;
}

QWidget* PrivacyPane::buildMomentsCard() {
  auto* card = new Card(QStringLiteral("Private moments"), QStringLiteral("view-conceal"),
                        palette().color(QPalette::Text));
  skipPrivate_ = new QCheckBox(QStringLiteral("Skip private and incognito browser windows"), card);
  connect(skipPrivate_, &QCheckBox::toggled, this, [this](bool on) {
    change([on](VistrelConfig& config) { config.skipPrivateWindows = on; });
  });
  skipPrivateText_ = Card::note(QString(), card);
  skipSecureInput_ = new QCheckBox(QStringLiteral("Skip while a password field is active"), card);
  connect(skipSecureInput_, &QCheckBox::toggled, this, [this](bool on) {
    change([on](VistrelConfig& config) { config.skipSecureInput = on; });
  });
  auto* secureText = Card::note(text(texts::secureInputExplanation), card);
  secureText->setAccessibleName(secureText->text());
  card->content()->addWidget(skipPrivate_);
  card->content()->addWidget(skipPrivateText_);
  card->content()->addWidget(skipSecureInput_);
  card->content()->addWidget(secureText);
  return card;
}

template <typename Change>
void PrivacyPane::change(Change&& change) {
  VistrelConfig config = model_.config();
  change(config);
  model_.setConfig(std::move(config));
}

void PrivacyPane::refresh() {
  const VistrelConfig& config = model_.config();
  if (shownApps_ != config.excludedApps)
    rebuildAppRows();
  if (shownWords_ != config.excludedTitleWords)
    rebuildChips();
  const QSignalBlocker blockPrivate(skipPrivate_);
  skipPrivate_->setChecked(config.skipPrivateWindows);
  const QSignalBlocker blockSecure(skipSecureInput_);
  skipSecureInput_->setChecked(config.skipSecureInput);
  const QString privateText =
      text(texts::privateWindowsExplanation).arg(shortcutText(config.pauseShortcut));
  skipPrivateText_->setText(privateText);
  skipPrivateText_->setAccessibleName(privateText);
}

void PrivacyPane::rebuildAppRows() {
  shownApps_ = model_.config().excludedApps;
  clearLayout(appRows_);
  for (const ExcludedApp& app : *shownApps_) {
    const QString id = QString::fromStdString(app.bundleID);
    QString name = QString::fromStdString(app.name);
    if (name.isEmpty())
      name = appDisplayName(id).isEmpty() ? id : appDisplayName(id);
    auto* rowWidget = new QWidget(appRows_->parentWidget());
    rowWidget->setAccessibleName(name);
    auto* icon = new QLabel(rowWidget);
    icon->setPixmap(appIcon(id).pixmap(24, 24));
    auto* nameLabel = new QLabel(name, rowWidget);
    nameLabel->setAccessibleName(name);
    auto* idLabel = Card::note(id, rowWidget);
    idLabel->setWordWrap(false);
    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    mono.setPointSizeF(idLabel->font().pointSizeF());
    idLabel->setFont(mono);
    idLabel->setAccessibleName(id);
    auto* remove = removeButton(QStringLiteral("list-remove"), QStringLiteral("\u2212"),
                                QStringLiteral("Stop excluding ") + name, rowWidget);
    const std::string bundleID = app.bundleID;
    connect(remove, &QToolButton::clicked, this, [this, bundleID] {
      later(this, [this, bundleID] {
        change([&](VistrelConfig& config) {
          auto& apps = config.excludedApps;
          const auto found = std::find_if(apps.begin(), apps.end(), [&](const ExcludedApp& app) {
            return app.bundleID == bundleID;
          });
          if (found != apps.end())
            apps.erase(found);
        });
      });
    });
    auto* layout = new QHBoxLayout(rowWidget);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(icon);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(0);
    texts->addWidget(nameLabel);
    texts->addWidget(idLabel);
    layout->addLayout(texts, 1);
    layout->addWidget(remove);
    appRows_->addWidget(rowWidget);
  }
}

void PrivacyPane::rebuildChips() {
  shownWords_ = model_.config().excludedTitleWords;
  clearLayout(chips_);
  for (const std::string& word : *shownWords_) {
    const QString shown = QString::fromStdString(word);
    auto* chip = new QFrame(chipArea_);
    chip->setFrameShape(QFrame::StyledPanel);
    chip->setAccessibleName(shown);
    auto* label = new QLabel(shown, chip);
    label->setAccessibleName(shown);
    auto* remove = removeButton(QStringLiteral("window-close"), QStringLiteral("\u2715"),
                                QStringLiteral("Remove ") + shown, chip);
    connect(remove, &QToolButton::clicked, this, [this, word] {
      later(this, [this, word] {
        change([&](VistrelConfig& config) { std::erase(config.excludedTitleWords, word); });
      });
    });
    auto* layout = new QHBoxLayout(chip);
    layout->setContentsMargins(8, 2, 2, 2);
    layout->setSpacing(2);
    layout->addWidget(label);
    layout->addWidget(remove);
    chips_->addWidget(chip);
  }
  chipArea_->updateGeometry();
}

void PrivacyPane::fillRunningApps() {
  runningApps_->clear();
  const std::vector<RunningApp> apps = model_.appsToExclude();
  for (const RunningApp& app : apps) {
    const QString id = QString::fromStdString(app.bundleID);
    QAction* action = runningApps_->addAction(appIcon(id), QString::fromStdString(app.name));
    action->setToolTip(id);
    connect(action, &QAction::triggered, this,
            [this, app] { model_.excludeApp(app.bundleID, app.name); });
  }
  if (apps.empty())
    runningApps_->addAction(QStringLiteral("No other apps are running"))->setEnabled(false);
}

void PrivacyPane::chooseApp() {
  if (const auto choice = AppChooser::choose(window()))
    model_.excludeApp(choice->id.toStdString(), choice->name.toStdString());
}

void PrivacyPane::addWord() {
  const auto words = withTitleWord(model_.config().excludedTitleWords, wordField_->text());
  if (!words)
    return;
  change([&](VistrelConfig& config) { config.excludedTitleWords = *words; });
  wordField_->clear();
}

}  // namespace vistrel
