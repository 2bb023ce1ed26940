#pragma once

#include <QPixmap>
#include <QTimer>
#include <QVector>
#include <QWidget>
#include <functional>

class CBannerPicture;

// The small animation at the right end of the convert page's banner while a run is in progress:
// five frames, one every 250 ms, drawn over the banner's own motif. It runs on a timer of the
// user-interface thread and ends by itself at the first tick after the run's running test turns
// false; the banner's motif shows again when it has ended.
class CConvertAnimation : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kFrameCount = 5;
  static constexpr int kFrameInterval = 250;

  explicit CConvertAnimation(CBannerPicture* banner);

  // Shows the first frame and starts the timer; running is asked at every tick.
  void Start(std::function<bool()> running);
  // Ends the animation at once and uncovers the banner's motif.
  void Stop();
  bool IsRunning() const { return timer.isActive(); }
  // The frame shown, 0 to kFrameCount - 1.
  int Frame() const { return frame; }

  QSize sizeHint() const override;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  void OnTick();
  // Flush with the right edge of the banner's picture, as high as it, in the frames' proportions.
  void Place();

  CBannerPicture* banner;
  QVector<QPixmap> frames;
  QTimer timer;
  std::function<bool()> isRunning;
  int frame = 0;
};
