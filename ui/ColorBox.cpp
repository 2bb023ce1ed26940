#include "ui/ColorBox.h"

#include <QPainter>

CColorBox::CColorBox(QWidget* parent) : QWidget(parent) {
  setAutoFillBackground(false);
}

void CColorBox::SetColor(const QColor& value) {
  colour = value;
  update();
}

void CColorBox::SetShown(bool value) {
  shown = value;
  update();
}

void CColorBox::paintEvent(QPaintEvent*) {
  if (!shown) return;
  QPainter(this).fillRect(rect(), colour);
}
