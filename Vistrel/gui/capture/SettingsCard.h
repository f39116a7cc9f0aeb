#pragma once

#include <QColor>
#include <QFrame>
#include <QString>

class QLabel;
class QVBoxLayout;

namespace vistrel {

// The large title and secondary line at the top of a settings pane, with an optional icon.
class SettingsHeader : public QWidget {
  Q_OBJECT

 public:
  SettingsHeader(const QString& title, const QString& subtitle, QWidget* parent = nullptr);

  void setTitle(const QString& title);
  void setIcon(const QIcon& icon);
  QLabel* titleLabel() const { return title_; }

 private:
  QLabel* icon_;
  QLabel* title_;
  QLabel* subtitle_;
};

// A titled, rounded group of controls; its symbol is drawn in the tint. Controls go into
// content().
class SettingsCard : public QFrame {
  Q_OBJECT

 public:
  // `symbol` is a freedesktop icon name; empty for none.
  SettingsCard(const QString& title, const QString& symbol, QColor tint, QWidget* parent = nullptr);

  QVBoxLayout* content() const { return content_; }
  void setTint(QColor tint);

 private:
  QString symbol_;
  QLabel* symbolLabel_;
  QVBoxLayout* content_;
};

// A label in small secondary type that wraps.
QLabel* secondaryLabel(const QString& text, QWidget* parent = nullptr);

}  // namespace vistrel
