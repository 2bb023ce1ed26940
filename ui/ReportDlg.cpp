#include "ui/ReportDlg.h"

#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

#include "ui/MessageBoxes.h"

CReportDlg::CReportDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle(tr("Convert report"));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(14, 14, 14, 12);
  layout->setSpacing(8);

  headline = new QLabel(tr("Convert drawing files to raster PDF files completely!"), this);
  headline->setWordWrap(true);
  QFont bold = headline->font();
  bold.setBold(true);
  headline->setFont(bold);
  layout->addWidget(headline);

  list = new QListWidget(this);
  auto* hint = new QLabel(
      tr("The belows are all the result PDF files, you may doulbe click it to open"), this);
  hint->setWordWrap(true);
  hint->setBuddy(list);
  layout->addWidget(hint);
  list->setSelectionMode(QAbstractItemView::SingleSelection);
  list->setTextElideMode(Qt::ElideMiddle);
  list->setMinimumSize(520, 180);
  list->installEventFilter(this);
  layout->addWidget(list, 1);

  failureHint = new QLabel(tr("These drawings could not be converted:"), this);
  failureList = new QListWidget(this);
  failureList->setSelectionMode(QAbstractItemView::NoSelection);
  failureList->setTextElideMode(Qt::ElideMiddle);
  failureList->setMaximumHeight(120);
  failureHint->setBuddy(failureList);
  layout->addWidget(failureHint);
  layout->addWidget(failureList);
  failureHint->hide();
  failureList->hide();

  auto* buttons = new QDialogButtonBox(this);
  okButton = buttons->addButton(tr("O&K"), QDialogButtonBox::AcceptRole);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  layout->addWidget(buttons);

  connect(list, &QListWidget::itemDoubleClicked, this,
          [this](QListWidgetItem* item) { OpenFile(list->row(item)); });
}

void CReportDlg::SetResultFiles(const QStringList& paths) {
  files = paths;
  list->clear();
  for (const QString& path : files) {
    auto* item = new QListWidgetItem(QDir::toNativeSeparators(path), list);
    item->setToolTip(QDir::toNativeSeparators(path));
  }
  if (!files.isEmpty()) {
    list->setCurrentRow(0);
    // With a file to open, the list takes the keys: Enter opens, the arrows choose.
    list->setFocus();
  } else {
    okButton->setDefault(true);
    okButton->setFocus();
  }
}

void CReportDlg::SetFailures(const QStringList& lines) {
  failureList->clear();
  for (const QString& line : lines) {
    auto* item = new QListWidgetItem(line, failureList);
    item->setToolTip(line);
  }
  failureHint->setVisible(!lines.isEmpty());
  failureList->setVisible(!lines.isEmpty());
}

void CReportDlg::SetOutcome(RunResult result, int failedDrawings) {
  QString text;
  switch (result) {
    case RunResult::ParameterError:
      text =
          tr("Nothing was converted: the width or height of the PDF page is not greater "
             "than 0.");
      break;
    case RunResult::NoMemory:
      text =
          tr("The conversion ended early: there was not enough memory. The log shows how far "
             "it came.");
      break;
    default:
      text = failedDrawings > 0
                 ? tr("%n drawing file(s) could not be converted; the log names them.", nullptr,
                      failedDrawings)
                 : tr("Convert drawing files to raster PDF files completely!");
  }
  headline->setText(text);
}

bool CReportDlg::OpenFile(int row) {
  if (row < 0 || row >= files.size()) return false;
  // The desktop starts its PDF program detached and cannot tell whether it found the file, so a
  // file deleted since the run is caught here.
  const QString path = files[row];
  if (QFileInfo(path).isFile() && QDesktopServices::openUrl(QUrl::fromLocalFile(path))) {
    return true;
  }
  MessageBoxes().ShowMessage(this, tr("Can not open the PDF file! You should download Adobe "
                                      "Reader from Adobe website to open PDF file."));
  return false;
}

bool CReportDlg::eventFilter(QObject* watched, QEvent* event) {
  // Enter on the list opens the selected file; without this it would reach the default button
  // and close the report.
  if (watched == list && event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if ((key == Qt::Key_Return || key == Qt::Key_Enter) && list->currentRow() >= 0) {
      OpenFile(list->currentRow());
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}
