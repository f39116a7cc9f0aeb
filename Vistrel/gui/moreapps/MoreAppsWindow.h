#pragma once

#include <QMainWindow>
#include <memory>

#include "MoreAppsKit/MoreAppsList.h"

class QLabel;
class QVBoxLayout;

namespace vistrel {

// The small window that lists the maker's other apps. One per process (the desktop shell keeps
// it): created on first use, kept when closed, and brought to the front on every use. Each
// appearance asks the network for a newer list in the background, subject to the loader's
// one-day rule; the rows change only when one arrives.
class MoreAppsWindow : public QMainWindow {
  Q_OBJECT

 public:
  explicit MoreAppsWindow(MoreAppsList list, QWidget* parent = nullptr);
  // Vistrel's list: the build's configuration and loader.
  static std::unique_ptr<MoreAppsWindow> forVistrel();

  // Shows the window centred on first use, raises and activates it.
  void present();

  const MoreAppsList& list() const { return list_; }

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void refreshRows();

  MoreAppsList list_;
  QVBoxLayout* rows_;
  QLabel* empty_;
  bool placed_ = false;
  bool refreshing_ = false;
};

// The helper text under the list: where the rows lead.
QString moreAppsHelperText(bool isDirect);

}  // namespace vistrel
