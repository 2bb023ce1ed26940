#include "ui/PDFInfoDlg.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QVBoxLayout>

#include "convert/ConvertSettings.h"

namespace {

QString FromUtf8(const std::string& text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

CPDFInfoDlg::CPDFInfoDlg(CConvertSettings& convertSettings, QWidget* parent)
    : QDialog(parent), settings(convertSettings) {
  setWindowTitle(tr("PDF file information"));
  auto* form = new QFormLayout;
  title = new QLineEdit(FromUtf8(settings.Title), this);
  author = new QLineEdit(FromUtf8(settings.Author), this);
  subject = new QLineEdit(FromUtf8(settings.Subject), this);
  keywords = new QLineEdit(FromUtf8(settings.Keywords), this);
  form->addRow(tr("Title"), title);
  form->addRow(tr("Author"), author);
  form->addRow(tr("Subject"), subject);
  form->addRow(tr("Key Words"), keywords);
  for (QLineEdit* edit : {title, author, subject, keywords}) edit->setMinimumWidth(320);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(buttons);
}

void CPDFInfoDlg::accept() {
  settings.Title = title->text().toStdString();
  settings.Author = author->text().toStdString();
  settings.Subject = subject->text().toStdString();
  settings.Keywords = keywords->text().toStdString();
  QDialog::accept();
}
