#include "Vistrel/gui/help/HelpPane.h"

#include <QLabel>
#include <QVBoxLayout>

#include "Vistrel/gui/common/Card.h"
#include "Vistrel/gui/common/NetworkUse.h"
#include "Vistrel/gui/common/PaneHeader.h"
#include "Vistrel/gui/common/PanePage.h"
#include "Vistrel/gui/help/MoreAppsFooter.h"
#include "Vistrel/gui/shell/ShortcutText.h"
#include "Vistrel/model/AppModel.h"

namespace vistrel {
namespace {

struct Row {
  QString title;
  QString text;
};

Card* helpCard(const QString& title, const QString& iconName, const QColor& tint,
               std::initializer_list<Row> rows, QWidget* parent) {
  auto* card = new Card(title, iconName, tint, parent);
  for (const Row& row : rows)
    card->content()->addWidget(Card::titledRow(row.title, row.text, card));
  return card;
}

}  // namespace

HelpPane::HelpPane(AppModel& model, QWidget* parent) : QScrollArea(parent), model_(model) {
  QVBoxLayout* column = setUpPanePage(this, QStringLiteral("helpPane"));
  QWidget* page = column->parentWidget();
  const QColor accent = palette().color(QPalette::Highlight);
  const QColor secondary = palette().color(QPalette::PlaceholderText);

  column->addWidget(new PaneHeader(
      QStringLiteral("How to Use"),
      QStringLiteral("Turn capture on, work as usual, and search when you need something you saw."),
      page));
  column->addWidget(helpCard(
      QStringLiteral("Find something you saw"), QStringLiteral("system-search"), accent,
      {{QStringLiteral("Type a few words"),
        QStringLiteral(
            "Each word matches from its start, in any order: \u201cinvo 4471\u201d finds "
            "\u201cInvoice #4471\u201d.")},
       {QStringLiteral("Quotes for a phrase"),
        QStringLiteral("\u201c\"smoked paprika\"\u201d needs the words together, in that order.")},
       {QStringLiteral("Narrow it down"),
        QStringLiteral("Pick an app or a time range next to the search field.")},
       {QStringLiteral("Open a result"),
        QStringLiteral("The frame opens full size with the matches outlined; select text, Copy All "
                       "Text or Copy Image.")}},
      page));
  column->addWidget(helpCard(
      QStringLiteral("Go back in time"), QStringLiteral("x-office-calendar"), accent,
      {{QStringLiteral("Timeline"),
        QStringLiteral("Pick a day; the strip shows when you were busy. Click an hour, drag the "
                       "scrubber, or press \u2190 and \u2192.")},
       {QStringLiteral("Open Full Size"),
        QStringLiteral("Or click the frame. Show in Timeline from a search result jumps to its "
                       "moment.")}},
      page));
  auto* control = helpCard(
      QStringLiteral("Stay in control"), QStringLiteral("security-high"), accent,
      {{QStringLiteral("Tray"),
        QStringLiteral("The icon is a filled dot while recording, a pause sign while paused and a "
                       "rewind circle while off. Its menu pauses for 15 minutes, an hour or until "
                       "tomorrow, and deletes the last 15 minutes, hour or day.")},
       {QStringLiteral("Privacy"),
        QStringLiteral("Add apps and title words that are never recorded. Password managers, "
                       "Messages, private browser windows, banking titles and password fields are "
                       "skipped from the start.")},
       {QStringLiteral("Storage"),
        QStringLiteral("Set how many days to keep and a disk cap; old frames go first. Delete "
                       "Everything also removes the key.")}},
      page);
  shortcutRow_ = Card::titledRow(QStringLiteral("Pause or resume anywhere"), QString(), control);
  control->content()->addWidget(shortcutRow_);
  column->addWidget(control);
  column->addWidget(helpCard(
      QStringLiteral("Good to know"), QStringLiteral("dialog-information"), secondary,
      {{QStringLiteral("Battery and disk"),
        QStringLiteral(
            "A look every 5 seconds costs little; a frame is saved and read only when the "
            "screen changed. Expect a few hundred MB on a busy day.")},
       {QStringLiteral("Several displays"),
        QStringLiteral("Vistrel saves the display with the window you\u2019re using.")},
       {QStringLiteral("Text it can\u2019t read"),
        QStringLiteral("Very small or stylised text may be missed; the frame is still there in the "
                       "timeline.")},
       {QStringLiteral("What goes online"),
        QStringLiteral("Frames, their text and your searches never go online. ") +
            networkRequestsText()}},
      page));
  auto* footer = new MoreAppsFooter(page);
  connect(footer, &MoreAppsFooter::moreAppsRequested, this, &HelpPane::moreAppsRequested);
  column->addWidget(footer);
  column->addStretch(1);
  setWidget(page);

  connect(&model_, &AppModel::configChanged, this, &HelpPane::refreshShortcut);
  refreshShortcut();
}

void HelpPane::refreshShortcut() {
  const QString shown = shortcutText(model_.config().pauseShortcut);
  // The row's second label holds the text.
  const auto labels = shortcutRow_->findChildren<QLabel*>();
  labels.at(1)->setText(shown);
  labels.at(1)->setAccessibleName(shown);
  shortcutRow_->setAccessibleDescription(shown);
}

}  // namespace vistrel
