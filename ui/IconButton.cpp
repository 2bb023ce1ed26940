#include "ui/IconButton.h"

#include <QEvent>
#include <QToolTip>

CIconButton::CIconButton(QWidget* parent) : QToolButton(parent) {
  setAutoRaise(true);
  setToolButtonStyle(Qt::ToolButtonIconOnly);
  // Reachable with Tab and pressed with Space, like the wizard's other buttons.
  setFocusPolicy(Qt::StrongFocus);
}

void CIconButton::SetIcon(const QIcon& icon, const QIcon& hoverless) {
  first = icon;
  second = hoverless;
  const QList<QSize> sizes = icon.availableSizes();
  if (!sizes.isEmpty()) setIconSize(sizes.first());
  ShowIcon(underMouse());
}

void CIconButton::SetFlat(bool flat, bool repaint) {
  setAutoRaise(flat);
  if (repaint) update();
}

void CIconButton::SetTooltipText(const QString& text, bool activate) {
  tooltip = text;
  tooltipActive = activate;
  setToolTip(activate ? text : QString());
  // Screen readers name the button by its tooltip even when the tooltip is off.
  setAccessibleName(text);
}

void CIconButton::enterEvent(QEnterEvent* event) {
  QToolButton::enterEvent(event);
  ShowIcon(true);
}

void CIconButton::leaveEvent(QEvent* event) {
  QToolButton::leaveEvent(event);
  ShowIcon(false);
}

bool CIconButton::event(QEvent* event) {
  // A window that is not active shows no hover, as the wizard's other buttons do.
  if (event->type() == QEvent::WindowDeactivate) ShowIcon(false);
  return QToolButton::event(event);
}

void CIconButton::ShowIcon(bool hover) {
  setIcon(second.isNull() || hover ? first : second);
}
