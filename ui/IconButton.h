#pragma once

#include <QIcon>
#include <QToolButton>

// A small button that shows an icon: the wizard's help button and the move buttons of the file
// page. A flat button shows no border until the mouse is over it and then a raised edge (the
// style's auto-raise); a disabled button shows its icon grayed (the icon's disabled mode).
class CIconButton : public QToolButton {
  Q_OBJECT

 public:
  explicit CIconButton(QWidget* parent = nullptr);

  // With one icon, it is shown in every state; with two, the first is shown while the mouse is
  // over the button and the second otherwise. The icon is drawn at its own size.
  void SetIcon(const QIcon& icon, const QIcon& second = QIcon());
  void SetFlat(bool flat, bool repaint = true);
  bool IsFlat() const { return autoRaise(); }
  // The tooltip; activate false keeps the text but shows no tooltip.
  void SetTooltipText(const QString& text, bool activate = true);

 protected:
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  bool event(QEvent* event) override;

 private:
  void ShowIcon(bool hover);

  QIcon first;
  QIcon second;
  QString tooltip;
  bool tooltipActive = false;
};
