#include "tests/ui/UiTestSupport.h"

namespace uitest {

CScriptedMessageBoxes::CScriptedMessageBoxes() : previous(SetMessageBoxes(this)) {}

CScriptedMessageBoxes::~CScriptedMessageBoxes() {
  SetMessageBoxes(previous);
}

void CScriptedMessageBoxes::ShowMessage(QWidget*, const QString& text) {
  messages.append(text);
}

bool CScriptedMessageBoxes::AskYesNo(QWidget*, const QString& text) {
  questions.append(text);
  if (answers.empty()) return false;
  const bool answer = answers.front();
  answers.pop_front();
  return answer;
}

}  // namespace uitest
