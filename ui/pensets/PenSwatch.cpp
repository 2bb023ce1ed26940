#include "ui/pensets/PenSwatch.h"

#include <QMouseEvent>
#include <QPainter>

#include "platform/ColorPalette.h"

QColor PaletteColor(int index) {
  const std::uint32_t rgb = ColorRgb(index);
  return QColor(rgb & 0xFF, rgb >> 8 & 0xFF, rgb >> 16 & 0xFF);
}

QImage PenSwatchImage(int index) {
  QImage image(16, 16, QImage::Format_RGB888);
  image.fill(Qt::white);
  QPainter painter(&image);
  painter.fillRect(1, 1, 13, 13, Qt::black);
  painter.fillRect(2, 2, 11, 11, PaletteColor(index));
  return image;
}

CPenColorBox::CPenColorBox(QWidget* parent) : QWidget(parent) {}

void CPenColorBox::SetColor(const QColor& value) {
  color = value;
  shown = true;
  update();
}

void CPenColorBox::Clear() {
  shown = false;
  update();
}

void CPenColorBox::paintEvent(QPaintEvent*) {
  if (!shown) return;
  QPainter painter(this);
  painter.fillRect(rect(), color);
  painter.setPen(palette().color(QPalette::Mid));
  painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

void CPenColorBox::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
    Q_EMIT clicked();
  }
}
