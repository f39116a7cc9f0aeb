#pragma once

#include <QLabel>
#include <QString>
#include <QWidget>
#include <filesystem>

namespace vistrel {

// A path in monospaced type that the user can select, shortened in the middle when the row is
// too narrow for it; its accessible name and tool tip always hold the whole path.
class MiddleElidedLabel : public QLabel {
  Q_OBJECT

 public:
  explicit MiddleElidedLabel(const QString& fullText, QWidget* parent = nullptr);

  const QString& fullText() const { return fullText_; }
  QSize minimumSizeHint() const override;
  QSize sizeHint() const override;

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  void elide();

  QString fullText_;
};

// Shows the folder in the desktop's file manager with the folder selected
// (org.freedesktop.FileManager1 ShowItems on the session bus); where no file manager answers,
// opens the folder itself. Never waits for the answer.
void revealInFileManager(const std::filesystem::path& folder, QObject* context);

// The Storage pane's "Folder" row: the data folder with the home written "~", and the button
// that shows it in the file manager.
class FolderRow : public QWidget {
  Q_OBJECT

 public:
  FolderRow(const std::filesystem::path& folder, QWidget* parent = nullptr);

  QString shownPath() const { return path_->fullText(); }

 private:
  MiddleElidedLabel* path_;
};

}  // namespace vistrel
