#pragma once

#include <QAbstractButton>
#include <QString>

#include "MoreAppsKit/MoreAppsConfig.h"
#include "MoreAppsKit/MoreAppsFeed.h"

namespace vistrel {

// One of the maker's apps in the other-apps window: its icon in its tint, its name and detail in
// the user's language. Pressing it opens the entry's link in the browser.
class MoreAppsRow : public QAbstractButton {
  Q_OBJECT

 public:
  MoreAppsRow(const MoreAppsEntry& entry, const MoreAppsConfig& config, const QString& language,
              QWidget* parent = nullptr);

  const QString& link() const { return link_; }

  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QString link_;
};

// The icon of a feed symbol: the theme's icon of that name, else a generic application icon.
QIcon moreAppsIcon(const QString& symbol);

}  // namespace vistrel
