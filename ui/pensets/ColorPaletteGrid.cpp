#include "ui/pensets/ColorPaletteGrid.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyleOptionFocusRect>

#include "ui/pensets/PenSwatch.h"

namespace {

// The size each grid is given when the picker opens.
constexpr QSize kGridSize(450, 95);

}  // namespace

CColorPaletteGrid::CColorPaletteGrid(Half which, QWidget* parent) : QWidget(parent), half(which) {
  setFixedSize(kGridSize);
  setFocusPolicy(Qt::StrongFocus);
}

int CColorPaletteGrid::IndexAt(int column, int row) const {
  if (column < 1 || column > kColumns || row < 0 || row >= kRows) return -1;
  return half == Half::Upper ? 10 * column + 8 - 2 * row : 10 * column + 1 + 2 * row;
}

QPoint CColorPaletteGrid::CellOrigin(int column, int row) const {
  return QPoint(3 + kPitch * (column - 1), (half == Half::Upper ? 4 : 2) + kPitch * row);
}

int CColorPaletteGrid::IndexAtPoint(const QPoint& point) const {
  int column = 0;
  int row = 0;
  return CellAtPoint(point, &column, &row) ? IndexAt(column, row) : -1;
}

bool CColorPaletteGrid::CellAtPoint(const QPoint& point, int* column, int* row) const {
  for (int r = 0; r < kRows; ++r) {
    for (int c = 1; c <= kColumns; ++c) {
      const QPoint origin = CellOrigin(c, r);
      if (point.x() >= origin.x() && point.x() <= origin.x() + kCellSize &&
          point.y() >= origin.y() && point.y() <= origin.y() + kCellSize) {
        *column = c;
        *row = r;
        return true;
      }
    }
  }
  return false;
}

QSize CColorPaletteGrid::sizeHint() const {
  return kGridSize;
}

void CColorPaletteGrid::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), palette().color(QPalette::Button));
  painter.setPen(Qt::black);
  for (int row = 0; row < kRows; ++row) {
    for (int column = 1; column <= kColumns; ++column) {
      const QPoint origin = CellOrigin(column, row);
      // The outline covers the cell's first and last pixel: 16 × 16 in all.
      painter.setBrush(PaletteColor(IndexAt(column, row)));
      painter.drawRect(origin.x(), origin.y(), kCellSize - 1, kCellSize - 1);
    }
  }
  if (hasFocus()) {
    QStyleOptionFocusRect option;
    option.initFrom(this);
    const QPoint origin = CellOrigin(cursorColumn, cursorRow);
    option.rect = QRect(origin - QPoint(1, 1), QSize(kCellSize + 2, kCellSize + 2));
    style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, this);
  }
}

void CColorPaletteGrid::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  int column = 0;
  int row = 0;
  if (!CellAtPoint(event->position().toPoint(), &column, &row)) return;
  cursorColumn = column;
  cursorRow = row;
  update();
  Q_EMIT colorChosen(IndexAt(column, row));
}

void CColorPaletteGrid::keyPressEvent(QKeyEvent* event) {
  int column = cursorColumn;
  int row = cursorRow;
  switch (event->key()) {
    case Qt::Key_Left:
      --column;
      break;
    case Qt::Key_Right:
      ++column;
      break;
    case Qt::Key_Up:
      --row;
      break;
    case Qt::Key_Down:
      ++row;
      break;
    case Qt::Key_Home:
      column = 1;
      break;
    case Qt::Key_End:
      column = kColumns;
      break;
    case Qt::Key_Space:
      Q_EMIT colorChosen(IndexAt(column, row));
      return;
    default:
      QWidget::keyPressEvent(event);
      return;
  }
  if (IndexAt(column, row) < 0) return;
  cursorColumn = column;
  cursorRow = row;
  update();
  Q_EMIT colorChosen(IndexAt(column, row));
}
