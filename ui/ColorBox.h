#pragma once

#include <QColor>
#include <QWidget>

// A cell of the colour picker: when shown, its whole area in its colour; when not shown it
// paints nothing, so the dialog behind it stays visible.
class CColorBox : public QWidget {
  Q_OBJECT

 public:
  explicit CColorBox(QWidget* parent = nullptr);

  void SetColor(const QColor& colour);
  void SetShown(bool shown);
  QColor Color() const { return colour; }
  bool IsShown() const { return shown; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QColor colour = Qt::white;
  bool shown = false;
};
