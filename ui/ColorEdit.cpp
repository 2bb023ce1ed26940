#include "ui/ColorEdit.h"

#include <QMouseEvent>
#include <QTextBlock>

namespace {
constexpr int kMaxLineText = 1023;
}  // namespace

CColorEdit::CColorEdit(QWidget* parent)
    : QPlainTextEdit(parent),
      backgroundColour(palette().color(QPalette::Base)),
      textColour(palette().color(QPalette::Text)) {
  ApplyColours();
}

void CColorEdit::SetBackgroundColor(const QColor& colour) {
  backgroundColour = colour;
  ApplyColours();
}

void CColorEdit::SetTextColor(const QColor& colour) {
  textColour = colour;
  ApplyColours();
}

void CColorEdit::SetTextBackgroundColor(const QColor& colour) {
  textBackgroundColour = colour;
  ApplyColours();
}

void CColorEdit::ApplyColours() {
  QPalette colours = palette();
  colours.setColor(QPalette::Base, backgroundColour);
  colours.setColor(QPalette::Text, textColour);
  setPalette(colours);
  QTextCharFormat format;
  format.setForeground(textColour);
  format.setBackground(textBackgroundColour.isValid() ? textBackgroundColour : backgroundColour);
  QTextCursor all(document());
  all.select(QTextCursor::Document);
  all.mergeCharFormat(format);
  mergeCurrentCharFormat(format);
  viewport()->update();
}

void CColorEdit::mouseDoubleClickEvent(QMouseEvent* event) {
  QPlainTextEdit::mouseDoubleClickEvent(event);
  const QTextBlock block = cursorForPosition(event->position().toPoint()).block();
  Q_EMIT LineDoubleClicked(block.blockNumber(), block.text().left(kMaxLineText));
}
