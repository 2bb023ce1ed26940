#pragma once

#include <QColor>
#include <QImage>
#include <QWidget>

// The palette colour of a colour index as a Qt colour; black outside 0 … 255.
QColor PaletteColor(int index);

// The 16 × 16 image that stands for a colour index in the pen-set grid: on white, a 13 × 13
// square from (1, 1) with a one-pixel black frame around an 11 × 11 interior in the colour.
QImage PenSwatchImage(int index);

// A plain area painted in one colour, or left as its parent painted it while nothing is shown.
// A thin frame in the style's shadow colour keeps white and light grey visible on the light
// dialog background. A click on it, while it is enabled, emits clicked().
class CPenColorBox : public QWidget {
  Q_OBJECT

 public:
  explicit CPenColorBox(QWidget* parent = nullptr);

  // Shows the colour and repaints.
  void SetColor(const QColor& color);
  // Shows nothing and repaints.
  void Clear();
  bool IsShown() const { return shown; }
  QColor Color() const { return color; }

 Q_SIGNALS:
  void clicked();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  QColor color = Qt::white;
  bool shown = false;
};
