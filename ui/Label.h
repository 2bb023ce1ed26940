#pragma once

#include <QColor>
#include <QLabel>
#include <QPixmap>

// A one-line label with its own font, colours and an optional picture at its left: page
// headings, the welcome page's title lines and the About box's version line. The text is drawn
// vertically centred; unless transparent, the background is filled first.
class CLabel : public QLabel {
  Q_OBJECT

 public:
  explicit CLabel(const QString& text = QString(), QWidget* parent = nullptr);

  void SetTransparent(bool transparent);
  // The font's height in pixels.
  void SetFontHeight(int pixels);
  void SetBold(bool bold);
  void SetTextColor(const QColor& colour);
  void SetBackgroundColor(const QColor& colour);
  // A picture drawn at the left, or centred when there is no text. With a key colour, pixels of
  // that colour are left out.
  void SetBitmap(const QPixmap& bitmap, const QColor& keyColour = QColor());

  QColor TextColor() const { return textColour; }
  QSize sizeHint() const override;
  QSize minimumSizeHint() const override { return sizeHint(); }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  static constexpr int kGap = 2;

  bool transparent = false;
  QColor backgroundColour;
  QColor textColour;
  QPixmap bitmap;
};
