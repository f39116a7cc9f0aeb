#include "Vistrel/gui/privacy/AppChooser.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

#include "Vistrel/gui/common/AppIcon.h"
#include "Vistrel/platform/linux/DesktopEntries.h"

namespace vistrel {

AppChooser::AppChooser(QWidget* parent) : QDialog(parent), list_(new QListWidget(this)) {
  setWindowTitle(QStringLiteral("Choose App"));
  setAccessibleName(windowTitle());
  auto* message = new QLabel(QStringLiteral("Choose an app Vistrel should never record."), this);
  message->setAccessibleName(message->text());
  list_->setAccessibleName(QStringLiteral("Applications"));
  list_->setIconSize(QSize(24, 24));

  DesktopEntries entries(DesktopEntries::standardFolders(), DesktopEntries::standardLocale());
  std::vector<DesktopEntry> all = entries.all();
  std::sort(all.begin(), all.end(), [](const DesktopEntry& a, const DesktopEntry& b) {
    return QString::fromStdString(a.name).compare(QString::fromStdString(b.name),
                                                  Qt::CaseInsensitive) < 0;
  });
  for (const DesktopEntry& entry : all) {
    const QString id = QString::fromStdString(entry.id);
    auto* item = new QListWidgetItem(appIcon(id), QString::fromStdString(entry.name), list_);
    item->setData(Qt::UserRole, id);
    item->setToolTip(id);
  }

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, this);
  QPushButton* exclude =
      buttons->addButton(QStringLiteral("Exclude"), QDialogButtonBox::AcceptRole);
  exclude->setEnabled(false);
  connect(list_, &QListWidget::currentItemChanged, this,
          [exclude](QListWidgetItem* current) { exclude->setEnabled(current != nullptr); });
  connect(list_, &QListWidget::itemDoubleClicked, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  auto* column = new QVBoxLayout(this);
  column->addWidget(message);
  column->addWidget(list_, 1);
  column->addWidget(buttons);
  resize(420, 480);
  list_->setFocus();
}

std::optional<AppChooser::Choice> AppChooser::chosen() const {
  const QListWidgetItem* item = list_->currentItem();
  if (!item)
    return std::nullopt;
  return Choice{item->data(Qt::UserRole).toString(), item->text()};
}

std::optional<AppChooser::Choice> AppChooser::choose(QWidget* parent) {
  AppChooser dialog(parent);
  if (dialog.exec() != QDialog::Accepted)
    return std::nullopt;
  return dialog.chosen();
}

}  // namespace vistrel
