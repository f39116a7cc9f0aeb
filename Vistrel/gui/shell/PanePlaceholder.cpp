#include "Vistrel/gui/shell/PanePlaceholder.h"

#include "Vistrel/gui/shell/PaneCatalog.h"

namespace vistrel {

PanePlaceholder::PanePlaceholder(Pane pane, QWidget* parent) : QLabel(parent) {
  const QString title = paneInfo(pane).title;
  setText(QStringLiteral("%1 is not built yet.").arg(title));
  setAlignment(Qt::AlignCenter);
  setWordWrap(true);
  setForegroundRole(QPalette::PlaceholderText);
  setAccessibleName(text());
  setObjectName(QString::fromUtf8(rawValue(pane).data(), rawValue(pane).size()) +
                QStringLiteral("Pane"));
}

}  // namespace vistrel
