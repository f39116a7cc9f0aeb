#pragma once

#include <QScrollArea>
#include <QString>
#include <optional>
#include <string>
#include <vector>

#include "VistrelKit/capture/ExclusionRules.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QVBoxLayout;

namespace vistrel {

class AppModel;
class FlowLayout;

// The excluded title words after the user entered `typed`: trimmed, and appended as typed unless
// the list already holds it ignoring letter case. None when nothing is to be added (then the
// field keeps its text).
std::optional<std::vector<std::string>> withTitleWord(const std::vector<std::string>& words,
                                                      const QString& typed);

// The Privacy pane: the applications never recorded, the title words that keep a window out,
// and the two switches for private browsing and password prompts. Every control writes straight
// into the model's settings; the lists are read back from the model whenever they change.
class PrivacyPane : public QScrollArea {
  Q_OBJECT

 public:
  explicit PrivacyPane(AppModel& model, QWidget* parent = nullptr);

  QLineEdit* wordField() const { return wordField_; }
  QMenu* runningAppsMenu() const { return runningApps_; }

 private:
  QWidget* buildAppsCard();
  QWidget* buildTitlesCard();
  QWidget* buildMomentsCard();
  template <typename Change>
  void change(Change&& change);
  void refresh();
  void rebuildAppRows();
  void rebuildChips();
  void fillRunningApps();
  void chooseApp();
  void addWord();

  AppModel& model_;
  QVBoxLayout* appRows_ = nullptr;
  QMenu* runningApps_ = nullptr;
  QWidget* chipArea_ = nullptr;
  FlowLayout* chips_ = nullptr;
  QLineEdit* wordField_ = nullptr;
  QCheckBox* skipPrivate_ = nullptr;
  QLabel* skipPrivateText_ = nullptr;
  QCheckBox* skipSecureInput_ = nullptr;
  // What the rows and chips show, so they are built again only when their list changed.
  std::optional<std::vector<ExcludedApp>> shownApps_;
  std::optional<std::vector<std::string>> shownWords_;
};

}  // namespace vistrel
