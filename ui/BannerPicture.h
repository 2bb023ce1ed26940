#pragma once

#include <QPixmap>
#include <QWidget>

// A picture across the top of a page or dialog that keeps its proportions: it is as wide as
// the space it gets and as high as that width asks for, growing from its top-left corner.
// A caption widget (a page's heading) can be laid over the picture.
class CBannerPicture : public QWidget {
  Q_OBJECT

 public:
  explicit CBannerPicture(const QPixmap& picture, QWidget* parent = nullptr);

  // The rectangle the picture takes in the widget: its own proportions, fitted to the width or,
  // when that is tighter, the height.
  QRect PictureRect() const;
  // Keeps widget (a child of the banner) over the picture, inside margins.
  void SetCaption(QWidget* widget, const QMargins& margins);

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;
  bool hasHeightForWidth() const override { return true; }
  int heightForWidth(int width) const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  QPixmap picture;
  QWidget* caption = nullptr;
  QMargins captionMargins;
};
