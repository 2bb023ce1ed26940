#pragma once

#include <QLabel>

// A text that acts as a link: drawn underlined in burgundy, bright red while the mouse is over
// it, with the hand cursor. It is exactly as large as its text and keeps its lower-left corner
// when the text changes. It can also be reached with Tab and activated with Space or Enter.
class CLinkLabel : public QLabel {
  Q_OBJECT

 public:
  explicit CLinkLabel(const QString& text = QString(), QWidget* parent = nullptr);

  // Changes the text and resizes the label to it.
  void SetText(const QString& text);
  bool IsHover() const { return hover; }

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override { return sizeHint(); }

 Q_SIGNALS:
  void Clicked();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void FitToText();

  bool hover = false;
};
