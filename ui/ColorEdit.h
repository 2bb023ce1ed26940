#pragma once

#include <QColor>
#include <QPlainTextEdit>

// A multi-line text box with colours of its own: the convert page's log and a field of the
// pen-set editor. A double-click tells the owner which line was clicked.
class CColorEdit : public QPlainTextEdit {
  Q_OBJECT

 public:
  explicit CColorEdit(QWidget* parent = nullptr);

  void SetBackgroundColor(const QColor& colour);
  void SetTextColor(const QColor& colour);
  // The colour behind the text; an invalid colour means the background colour.
  void SetTextBackgroundColor(const QColor& colour);

 Q_SIGNALS:
  // The line under the mouse at a double-click: its number from 0 and its text (at most 1023
  // characters).
  void LineDoubleClicked(int line, const QString& text);

 protected:
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  void ApplyColours();

  QColor backgroundColour;
  QColor textColour;
  QColor textBackgroundColour;
};
