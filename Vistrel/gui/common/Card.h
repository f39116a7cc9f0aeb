#pragma once

#include <QColor>
#include <QFrame>
#include <QString>

class QLabel;
class QVBoxLayout;

namespace vistrel {

// A titled, rounded group of controls in a settings pane; its symbol (a freedesktop icon name,
// may be empty) is drawn in the tint. Controls go into content().
class Card : public QFrame {
  Q_OBJECT

 public:
  Card(const QString& title, const QString& iconName, const QColor& tint,
       QWidget* parent = nullptr);

  QVBoxLayout* content() const { return content_; }
  // Draws the symbol in another tint, for cards whose colour follows a state.
  void setTint(const QColor& tint);
  // A row of a card: a title in semibold type over a text in secondary type, read as one element.
  static QWidget* titledRow(const QString& title, const QString& text, QWidget* parent);
  // A wrapped text in small secondary type.
  static QLabel* note(const QString& text, QWidget* parent);

 private:
  QString iconName_;
  QLabel* symbol_ = nullptr;
  QVBoxLayout* content_;
};

}  // namespace vistrel
