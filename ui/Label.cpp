#include "ui/Label.h"

#include <QBitmap>
#include <QPainter>

CLabel::CLabel(const QString& text, QWidget* parent)
    : QLabel(text, parent),
      backgroundColour(palette().color(QPalette::Base)),
      textColour(palette().color(QPalette::ButtonText)) {
  QFont labelFont = font();
  labelFont.setPixelSize(15);
  setFont(labelFont);
}

void CLabel::SetTransparent(bool value) {
  transparent = value;
  update();
}

void CLabel::SetFontHeight(int pixels) {
  QFont labelFont = font();
  labelFont.setPixelSize(pixels);
  setFont(labelFont);
  updateGeometry();
}

void CLabel::SetBold(bool bold) {
  QFont labelFont = font();
  labelFont.setBold(bold);
  setFont(labelFont);
  updateGeometry();
}

void CLabel::SetTextColor(const QColor& colour) {
  textColour = colour;
  update();
}

void CLabel::SetBackgroundColor(const QColor& colour) {
  backgroundColour = colour;
  update();
}

void CLabel::SetBitmap(const QPixmap& picture, const QColor& keyColour) {
  bitmap = picture;
  if (keyColour.isValid() && !bitmap.isNull()) {
    bitmap.setMask(bitmap.createMaskFromColor(keyColour, Qt::MaskInColor));
  }
  updateGeometry();
  update();
}

QSize CLabel::sizeHint() const {
  const QFontMetrics metrics(font());
  int width = text().isEmpty() ? 0 : metrics.horizontalAdvance(text());
  int height = metrics.height();
  if (!bitmap.isNull()) {
    const QSize picture = bitmap.deviceIndependentSize().toSize();
    width += picture.width() + (text().isEmpty() ? 0 : kGap);
    height = std::max(height, picture.height());
  }
  return QSize(width, height) + QSize(contentsMargins().left() + contentsMargins().right(),
                                      contentsMargins().top() + contentsMargins().bottom());
}

void CLabel::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  if (!transparent) painter.fillRect(rect(), backgroundColour);
  QRect area = contentsRect();
  if (!bitmap.isNull()) {
    const QSize picture = bitmap.deviceIndependentSize().toSize();
    const int x =
        text().isEmpty() ? area.left() + (area.width() - picture.width()) / 2 : area.left();
    painter.drawPixmap(x, area.top() + (area.height() - picture.height()) / 2, bitmap);
    area.setLeft(x + picture.width() + kGap);
  }
  if (text().isEmpty()) return;
  painter.setFont(font());
  painter.setPen(textColour);
  const QString shown = fontMetrics().elidedText(text(), Qt::ElideRight, area.width());
  painter.drawText(area, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, shown);
}
