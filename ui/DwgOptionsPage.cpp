#include "ui/DwgOptionsPage.h"

#include <QLabel>
#include <QVBoxLayout>

CDwgOptionsPage::CDwgOptionsPage(CConvertSettings& convertSettings, QWidget* parent)
    : CCommonPage(parent), settings(convertSettings) {
  QVBoxLayout* body = MakeStepLayout(tr("Set the parameters of drawing files  - [2 / 4]"));
  // Until the page has its controls, a run uses the options as they were loaded.
  auto* note = new QLabel(tr("These options keep their saved values in this version."), this);
  note->setWordWrap(true);
  body->addWidget(note);
  body->addStretch(1);
}
