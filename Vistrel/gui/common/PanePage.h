#pragma once

#include <QScrollArea>
#include <QVBoxLayout>

namespace vistrel {

// Makes `pane` a frameless scrolling pane and answers the column its content goes into; the
// column's widget is the page the pane shows (set it with setWidget once filled).
QVBoxLayout* setUpPanePage(QScrollArea* pane, const QString& objectName);

}  // namespace vistrel
