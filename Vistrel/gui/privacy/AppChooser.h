#pragma once

#include <QDialog>
#include <QString>
#include <optional>

class QListWidget;

namespace vistrel {

// The installed applications, as their desktop entries name them, to pick one that Vistrel
// should never record.
class AppChooser : public QDialog {
  Q_OBJECT

 public:
  struct Choice {
    QString id;    // the desktop entry's ID
    QString name;  // its Name
  };

  explicit AppChooser(QWidget* parent = nullptr);

  // Asks the user; none when they cancel.
  static std::optional<Choice> choose(QWidget* parent);

  std::optional<Choice> chosen() const;

 private:
  QListWidget* list_;
};

}  // namespace vistrel
