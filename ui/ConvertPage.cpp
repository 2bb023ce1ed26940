#include "ui/ConvertPage.h"

#include <QLabel>
#include <QVBoxLayout>

CConvertPage::CConvertPage(CConvertSettings& convertSettings, CWizardDlg& owner, QWidget* parent)
    : CCommonPage(parent), settings(convertSettings), wizard(owner) {
  QVBoxLayout* body = MakeStepLayout(tr("Convert drawing files to PDF file(s)  - [4 / 4]"));
  auto* note = new QLabel(
      tr("Converting from the wizard comes with the next version; until then tarnvelox-cli "
         "converts the drawings."),
      this);
  note->setWordWrap(true);
  body->addWidget(note);
  body->addStretch(1);
}
