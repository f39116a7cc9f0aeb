#include "Vistrel/gui/storage/FolderRow.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDesktopServices>
#include <QDir>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QPushButton>
#include <QUrl>

#include "Vistrel/gui/storage/StorageFormat.h"
#include "VistrelKit/base/DataFolder.h"

namespace vistrel {

MiddleElidedLabel::MiddleElidedLabel(const QString& fullText, QWidget* parent)
    : QLabel(parent), fullText_(fullText) {
  setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  setTextFormat(Qt::PlainText);
  setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  setAccessibleName(fullText_);
  setToolTip(fullText_);
  setText(fullText_);
}

QSize MiddleElidedLabel::minimumSizeHint() const {
  const QSize hint = QLabel::minimumSizeHint();
  return {fontMetrics().horizontalAdvance(QStringLiteral("~/…/W")), hint.height()};
}

QSize MiddleElidedLabel::sizeHint() const {
  return {fontMetrics().horizontalAdvance(fullText_) + 2, QLabel::sizeHint().height()};
}

void MiddleElidedLabel::resizeEvent(QResizeEvent* event) {
  QLabel::resizeEvent(event);
  elide();
}

void MiddleElidedLabel::elide() {
  const QString shown =
      fontMetrics().elidedText(fullText_, Qt::ElideMiddle, contentsRect().width());
  if (shown != text())
    setText(shown);
}

void revealInFileManager(const std::filesystem::path& folder, QObject* context) {
  const QUrl url = QUrl::fromLocalFile(QString::fromStdString(folder.string()));
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) {
    QDesktopServices::openUrl(url);
    return;
  }
  QDBusMessage call = QDBusMessage::createMethodCall(
      QStringLiteral("org.freedesktop.FileManager1"),
      QStringLiteral("/org/freedesktop/FileManager1"),
      QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
  call << QStringList{url.toString()} << QString();
  auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 5000), context);
  QObject::connect(watcher, &QDBusPendingCallWatcher::finished, context, [watcher, url] {
    if (watcher->isError())
      QDesktopServices::openUrl(url);
    watcher->deleteLater();
  });
}

FolderRow::FolderRow(const std::filesystem::path& folder, QWidget* parent)
    : QWidget(parent),
      path_(new MiddleElidedLabel(
          abbreviatedPath(folder, {QDir::homePath().toStdString(), homeFolder()}), this)) {
  auto* caption = new QLabel(QStringLiteral("Folder"), this);
  QFont semibold = caption->font();
  semibold.setWeight(QFont::DemiBold);
  caption->setFont(semibold);
  auto* show = new QPushButton(QStringLiteral("Show in File Manager"), this);
  show->setAccessibleName(show->text());
  connect(show, &QPushButton::clicked, this, [this, folder] { revealInFileManager(folder, this); });
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(0, 0, 0, 0);
  row->addWidget(caption);
  row->addWidget(path_, 1);
  row->addWidget(show);
}

}  // namespace vistrel
