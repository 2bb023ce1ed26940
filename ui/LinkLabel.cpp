#include "ui/LinkLabel.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyleOptionFocusRect>

namespace {
const QColor kLinkColour(128, 0, 64);
const QColor kHoverColour(250, 0, 0);
}  // namespace

CLinkLabel::CLinkLabel(const QString& text, QWidget* parent) : QLabel(text, parent) {
  setCursor(Qt::PointingHandCursor);
  setFocusPolicy(Qt::StrongFocus);
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
  FitToText();
}

void CLinkLabel::SetText(const QString& text) {
  setText(text);
  FitToText();
}

QSize CLinkLabel::sizeHint() const {
  const QFontMetrics metrics(font());
  // One pixel below the text for the underline, one at each side for the focus frame.
  return QSize(metrics.horizontalAdvance(text()) + 2, metrics.height() + 2);
}

void CLinkLabel::FitToText() {
  const QRect old = geometry();
  const QSize size = sizeHint();
  // Keep the lower-left corner where it was.
  setGeometry(old.left(), old.bottom() + 1 - size.height(), size.width(), size.height());
  updateGeometry();
}

void CLinkLabel::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const QFontMetrics metrics(font());
  const QColor colour = hover ? kHoverColour : kLinkColour;
  painter.setPen(colour);
  painter.setFont(font());
  const QRect textRect(1, 0, width() - 2, metrics.height());
  painter.drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text());
  const int underline = metrics.ascent() + metrics.underlinePos();
  painter.setPen(hover ? palette().color(QPalette::Button) : colour);
  painter.drawLine(1, underline, width() - 2, underline);
  if (hasFocus()) {
    QStyleOptionFocusRect option;
    option.initFrom(this);
    option.rect = rect();
    style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, this);
  }
}

void CLinkLabel::enterEvent(QEnterEvent* event) {
  QLabel::enterEvent(event);
  hover = true;
  update();
}

void CLinkLabel::leaveEvent(QEvent* event) {
  QLabel::leaveEvent(event);
  hover = false;
  update();
}

void CLinkLabel::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
    Q_EMIT Clicked();
    return;
  }
  QLabel::mouseReleaseEvent(event);
}

void CLinkLabel::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Space:
    case Qt::Key_Return:
    case Qt::Key_Enter:
      Q_EMIT Clicked();
      return;
    default:
      QLabel::keyPressEvent(event);
  }
}
