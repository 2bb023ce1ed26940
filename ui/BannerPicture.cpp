#include "ui/BannerPicture.h"

#include <QPainter>
#include <QResizeEvent>
#include <algorithm>

CBannerPicture::CBannerPicture(const QPixmap& image, QWidget* parent)
    : QWidget(parent), picture(image) {
  QSizePolicy policy(QSizePolicy::Expanding, QSizePolicy::Preferred);
  policy.setHeightForWidth(true);
  setSizePolicy(policy);
}

QRect CBannerPicture::PictureRect() const {
  const QSize size = picture.deviceIndependentSize().toSize();
  if (size.isEmpty()) return QRect();
  const double s = std::min(static_cast<double>(width()) / size.width(),
                            static_cast<double>(height()) / size.height());
  return QRect(0, 0, static_cast<int>(size.width() * s), static_cast<int>(size.height() * s));
}

QSize CBannerPicture::sizeHint() const {
  return picture.deviceIndependentSize().toSize();
}

QSize CBannerPicture::minimumSizeHint() const {
  return QSize(0, 0);
}

int CBannerPicture::heightForWidth(int width) const {
  const QSize size = picture.deviceIndependentSize().toSize();
  if (size.isEmpty()) return 0;
  return static_cast<int>(static_cast<double>(width) * size.height() / size.width());
}

void CBannerPicture::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  painter.drawPixmap(PictureRect(), picture);
}

void CBannerPicture::SetCaption(QWidget* widget, const QMargins& margins) {
  caption = widget;
  captionMargins = margins;
  if (caption) caption->setGeometry(PictureRect().marginsRemoved(captionMargins));
}

void CBannerPicture::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  if (caption) caption->setGeometry(PictureRect().marginsRemoved(captionMargins));
}
