#pragma once

#include <QString>
#include <QStringList>
#include <deque>

#include "ui/MessageBoxes.h"

namespace uitest {

// Answers the wizard's message boxes for the duration of a test: records every text and answers
// the questions from a list given in advance (No when the list has run out).
class CScriptedMessageBoxes : public CMessageBoxes {
 public:
  CScriptedMessageBoxes();
  ~CScriptedMessageBoxes() override;

  void ShowMessage(QWidget* parent, const QString& text) override;
  bool AskYesNo(QWidget* parent, const QString& text) override;

  std::deque<bool> answers;
  QStringList messages;
  QStringList questions;

 private:
  CMessageBoxes* previous;
};

}  // namespace uitest
