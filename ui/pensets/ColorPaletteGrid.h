#pragma once

#include <QWidget>

// One of the two 5 × 24 grids of the colour picker's full palette. Column c (1 … 24) and row r
// (0 … 4) hold a 16 × 16 cell whose left edge is at 3 + 18·(c − 1). The upper grid's cells
// start at y = 4 + 18·r and show the full-colour shades 10·c + 8 − 2·r, darkest at the top;
// the lower grid's start at y = 2 + 18·r and show the half-saturated shades 10·c + 1 + 2·r,
// brightest at the top.
//
// A click inside a cell, its right and bottom edges at left + 16 and top + 16 included,
// chooses its index. With the keyboard focus, the arrow keys move through the cells and choose
// as they go; the cell in hand is then framed, otherwise nothing marks a choice.
class CColorPaletteGrid : public QWidget {
  Q_OBJECT

 public:
  enum class Half { Upper, Lower };

  static constexpr int kColumns = 24;
  static constexpr int kRows = 5;
  static constexpr int kCellSize = 16;
  static constexpr int kPitch = 18;

  explicit CColorPaletteGrid(Half half, QWidget* parent = nullptr);

  // The colour index of column 1 … 24 and row 0 … 4; -1 outside.
  int IndexAt(int column, int row) const;
  // The top-left pixel of a cell.
  QPoint CellOrigin(int column, int row) const;
  // The colour index of the cell under a pixel, edges included; -1 between and beside cells.
  int IndexAtPoint(const QPoint& point) const;

  QSize sizeHint() const override;

 Q_SIGNALS:
  void colorChosen(int index);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  bool CellAtPoint(const QPoint& point, int* column, int* row) const;

  Half half;
  // The cell the arrow keys start from.
  int cursorColumn = 1;
  int cursorRow = 0;
};
