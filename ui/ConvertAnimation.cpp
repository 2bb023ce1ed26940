#include "ui/ConvertAnimation.h"

#include <QEvent>
#include <QPainter>

#include "ui/BannerPicture.h"

CConvertAnimation::CConvertAnimation(CBannerPicture* owner) : QWidget(owner), banner(owner) {
  for (int i = 1; i <= kFrameCount; ++i) {
    frames.append(QPixmap(QString(":/images/convert-%1.png").arg(i)));
  }
  timer.setInterval(kFrameInterval);
  connect(&timer, &QTimer::timeout, this, &CConvertAnimation::OnTick);
  // The banner's picture is only drawn, never focused or clicked: neither is the animation.
  setAttribute(Qt::WA_TransparentForMouseEvents);
  banner->installEventFilter(this);
  hide();
}

void CConvertAnimation::Start(std::function<bool()> running) {
  isRunning = std::move(running);
  frame = 0;
  Place();
  raise();
  show();
  update();
  timer.start();
}

void CConvertAnimation::Stop() {
  timer.stop();
  hide();
  banner->update();
}

void CConvertAnimation::OnTick() {
  if (!isRunning || !isRunning()) {
    Stop();
    return;
  }
  frame = (frame + 1) % kFrameCount;
  update();
}

QSize CConvertAnimation::sizeHint() const {
  return frames.isEmpty() ? QSize() : frames.first().deviceIndependentSize().toSize();
}

void CConvertAnimation::Place() {
  const QRect picture = banner->PictureRect();
  const QSize size = sizeHint();
  if (picture.isEmpty() || size.isEmpty()) {
    setGeometry(QRect());
    return;
  }
  const int height = picture.height();
  const int width = size.width() * height / size.height();
  setGeometry(picture.right() + 1 - width, picture.top(), width, height);
}

bool CConvertAnimation::eventFilter(QObject* watched, QEvent* event) {
  if (watched == banner && event->type() == QEvent::Resize) Place();
  return QWidget::eventFilter(watched, event);
}

void CConvertAnimation::paintEvent(QPaintEvent*) {
  if (frames.isEmpty()) return;
  QPainter painter(this);
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  painter.drawPixmap(rect(), frames[frame]);
}
