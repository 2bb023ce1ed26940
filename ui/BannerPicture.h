#pragma once

#include <QPixmap>
#include <QWidget>

// A picture across the top of a page or dialog that keeps its proportions: it is as wide as
// the space it gets and as high as that width asks for, growing from its top-left corner.
// Widgets laid out on it (a page's heading) are drawn over the picture.
class CBannerPicture : public QWidget {
  Q_OBJECT

 public:
  explicit CBannerPicture(const QPixmap& picture, QWidget* parent = nullptr);

  // The rectangle the picture takes in the widget: its own proportions, fitted to the width or,
  // when that is tighter, the height.
  QRect PictureRect() const;

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;
  bool hasHeightForWidth() const override { return true; }
  int heightForWidth(int width) const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QPixmap picture;
};
