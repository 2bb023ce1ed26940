#include "ui/PdfOptionsPage.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QRegularExpression>
#include <climits>
#include <cmath>
#include <filesystem>
#include <system_error>

#include "convert/ConvertSettings.h"
#include "ui/IconButton.h"
#include "ui/MessageBoxes.h"
#include "ui/PDFInfoDlg.h"

namespace fs = std::filesystem;

const PaperSize kPredefinedPaperSizes[] = {
    {"Letter (8.50 x 11.00 Inches)", 8.5, 11, 0},
    {"Legal (8.50 x 14.00 Inches)", 8.5, 14, 0},
    {"ANSI A (8.50 x 11.00 Inches)", 8.5, 11, 0},
    {"ANSI A (11.00 x 8.50 Inches)", 11, 8.5, 0},
    {"ANSI B (11.00 x 17.00 Inches)", 11, 17, 0},
    {"ANSI B (17.00 x 11.00 Inches)", 17, 11, 0},
    {"ANSI C (17.00 x 22.00 Inches)", 17, 22, 0},
    {"ANSI C (22.00 x 17.00 Inches)", 22, 17, 0},
    {"ANSI D (22.00 x 34.00 Inches)", 22, 34, 0},
    {"ANSI D (34.00 x 22.00 Inches)", 34, 22, 0},
    {"ANSI E (34.00 x 44.00 Inches)", 34, 44, 0},
    {"ANSI E (44.00 x 34.00 Inches)", 44, 34, 0},
    {"ISO A4 (210.00 x 297.00 MM)", 210, 297, 1},
    {"ISO A4 (297.00 x 210.00 MM)", 297, 210, 1},
    {"ISO A3 (297.00 x 420.00 MM)", 297, 420, 1},
    {"ISO A3 (420.00 x 297.00 MM)", 420, 297, 1},
    {"ISO A2 (420.00 x 594.00 MM)", 420, 594, 1},
    {"ISO A2 (594.00 x 420.00 MM)", 594, 420, 1},
    {"ISO A1 (594.00 x 841.00 MM)", 594, 841, 1},
    {"ISO A1 (841.00 x 594.00 MM)", 841, 594, 1},
    {"ISO A0 (841.00 x 1189.00 MM)", 841, 1189, 1},
    {"ISO A0 (1189.00 x 841.00 MM)", 1189, 841, 1},
    {"ISO B5 (182.00 x 237.00 MM)", 182, 237, 1},
    {"ISO B5 (237.00 x 182.00 MM)", 237, 182, 1},
    {"ISO B4 (250.00 x 354.00 MM)", 250, 354, 1},
    {"ISO B4 (354.00 x 250.00 MM)", 354, 250, 1},
    {"ISO B2 (500.00 x 707.00 MM)", 500, 707, 1},
    {"ISO B2 (707.00 x 500.00 MM)", 707, 500, 1},
    {"ISO B1 (707.00 x 1000.00 MM)", 707, 1000, 1},
    {"ISO B1 (1000.00 x 707.00 MM)", 1000, 707, 1},
    {"ISO C5 (229.00 x 162.00 MM)", 229, 162, 1},
    {"700mm (700.00 x 1000.00 MM)", 700, 1000, 1},
    {nullptr, 0, 0, 0},
};

namespace {

constexpr double kMillimetresToInches = 0.03937007874015748;

QString Number(double value) {
  return QString::number(value, 'g', 10);
}

// A number as the user typed it: a decimal point or comma, blanks around it allowed.
bool ParseNumber(const QString& text, double* value) {
  QString plain = text.trimmed();
  plain.replace(',', '.');
  bool ok = false;
  const double parsed = plain.toDouble(&ok);
  if (ok) *value = parsed;
  return ok;
}

bool HasPdfExtension(const QString& path) {
  return QFileInfo(path).suffix().compare("pdf", Qt::CaseInsensitive) == 0 &&
         !QFileInfo(path).completeBaseName().isEmpty();
}

// Two arrows turning into each other: width becomes height.
QIcon SwapIcon() {
  QPixmap pixmap(20, 20);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  QPen pen(QColor(0x1e, 0x30, 0x48), 1.6);
  painter.setPen(pen);
  painter.drawLine(QPointF(4, 7), QPointF(16, 7));
  painter.drawLine(QPointF(16, 7), QPointF(12.5, 3.5));
  painter.drawLine(QPointF(4, 13), QPointF(16, 13));
  painter.drawLine(QPointF(4, 13), QPointF(7.5, 16.5));
  painter.end();
  return QIcon(pixmap);
}

}  // namespace

bool CreateFolderPath(const std::string& path) {
  if (path.empty()) return false;
  std::error_code error;
  fs::path made;
  for (const fs::path& part : fs::path(path)) {
    if (part.empty()) continue;  // the empty name after a trailing separator
    made /= part;
    if (fs::is_directory(made, error)) continue;
    if (!fs::create_directory(made, error) && !fs::is_directory(made, error)) return false;
  }
  return fs::is_directory(made, error);
}

CPdfOptionsPage::CPdfOptionsPage(CConvertSettings& convertSettings, QWidget* parent)
    : CCommonPage(parent),
      settings(convertSettings),
      width(settings.PdfWidth),
      height(settings.PdfHeight),
      units(settings.Units == PaperUnit::Inch ? 0 : 1),
      quality(QString::number(settings.Quality)),
      outputType(settings.PdfType == OutputType::Merged || settings.PdfType == OutputType::PerLayout
                     ? static_cast<int>(settings.PdfType)
                     : 0),
      target(QString::fromStdString(settings.TargetPdf)),
      useLayoutPaper(settings.UseLayoutPageSet != 0) {
  QVBoxLayout* body = MakeStepLayout(tr("Set the parameters of PDF file  - [3 / 4]"));

  widthEdit = new QLineEdit(this);
  heightEdit = new QLineEdit(this);
  for (QLineEdit* edit : {widthEdit, heightEdit}) edit->setMaximumWidth(110);
  swapButton = new CIconButton(this);
  swapButton->SetIcon(SwapIcon());
  swapButton->SetTooltipText(tr("Exchange the width and height."));
  swapButton->setFixedSize(28, 28);
  unitsBox = new QComboBox(this);
  unitsBox->addItems({tr("Inch"), tr("mm")});
  predefinedBox = new QComboBox(this);
  for (const PaperSize* size = kPredefinedPaperSizes; size->name; ++size) {
    predefinedBox->addItem(QString::fromLatin1(size->name));
  }
  predefinedBox->setCurrentIndex(-1);
  marginEdit = new QLineEdit(this);
  marginEdit->setMaximumWidth(110);
  marginUnitLabel = new QLabel(this);
  qualityBox = new QComboBox(this);
  qualityBox->setEditable(true);
  qualityBox->addItems({"72", "96", "120", "150", "300", "600", "1200"});
  qualityBox->setInsertPolicy(QComboBox::NoInsert);
  qualityBox->setMinimumWidth(96);
  outputBox = new QComboBox(this);
  outputBox->addItems(
      {tr("A PDF file per drawing"), tr("Merge into single PDF"), tr("A PDF file per layout")});
  targetLabel = new QLabel(this);
  targetEdit = new QLineEdit(this);
  browseButton = new QPushButton(tr("..."), this);
  browseButton->setFixedWidth(32);
  layoutPaperBox = new QCheckBox(tr("Use layout page size if possible."), this);
  infoButton = new QPushButton(tr("PDF &Document Info..."), this);

  auto label = [this](const QString& text, QWidget* buddy) { return BuddyLabel(text, buddy); };
  QGridLayout* grid = MakeOptionGrid();
  grid->addWidget(label(tr("&Width"), widthEdit), 0, 0);
  grid->addWidget(widthEdit, 0, 1);
  grid->addWidget(swapButton, 0, 2, 2, 1, Qt::AlignCenter);
  grid->addWidget(label(tr("&Units"), unitsBox), 0, 3);
  grid->addWidget(unitsBox, 0, 4);
  grid->addWidget(label(tr("&Height"), heightEdit), 1, 0);
  grid->addWidget(heightEdit, 1, 1);
  grid->addWidget(label(tr("&Margin"), marginEdit), 1, 3);
  auto* marginRow = new QHBoxLayout;
  marginRow->addWidget(marginEdit);
  marginRow->addWidget(marginUnitLabel);
  grid->addLayout(marginRow, 1, 4);
  grid->addWidget(label(tr("&Predefined"), predefinedBox), 2, 0);
  grid->addWidget(predefinedBox, 2, 1, 1, 4);
  grid->addWidget(label(tr("&Quality"), qualityBox), 3, 0);
  auto* qualityRow = new QHBoxLayout;
  qualityRow->addWidget(qualityBox);
  qualityRow->addWidget(new QLabel(tr("DPI"), this));
  qualityRow->addStretch(1);
  grid->addLayout(qualityRow, 3, 1);
  grid->addWidget(label(tr("&Output"), outputBox), 4, 0);
  grid->addWidget(outputBox, 4, 1, 1, 4);
  grid->setColumnStretch(1, 1);
  grid->setColumnStretch(4, 1);
  body->addLayout(grid);

  body->addSpacing(4);
  body->addWidget(targetLabel);
  targetLabel->setBuddy(targetEdit);
  auto* targetRow = new QHBoxLayout;
  targetRow->addWidget(targetEdit, 1);
  targetRow->addWidget(browseButton);
  body->addLayout(targetRow);
  body->addWidget(layoutPaperBox);
  auto* infoRow = new QHBoxLayout;
  infoRow->addWidget(infoButton);
  infoRow->addStretch(1);
  body->addLayout(infoRow);
  body->addStretch(1);

  setTabOrder(widthEdit, heightEdit);
  setTabOrder(heightEdit, swapButton);
  setTabOrder(swapButton, unitsBox);
  setTabOrder(unitsBox, marginEdit);
  setTabOrder(marginEdit, predefinedBox);
  setTabOrder(predefinedBox, qualityBox);
  setTabOrder(qualityBox, outputBox);
  setTabOrder(outputBox, targetEdit);
  setTabOrder(targetEdit, browseButton);
  setTabOrder(browseButton, layoutPaperBox);
  setTabOrder(layoutPaperBox, infoButton);

  WriteControls();
  UpdateTargetLabel();

  connect(widthEdit, &QLineEdit::textChanged, this, &CPdfOptionsPage::OnSizeTextEdited);
  connect(heightEdit, &QLineEdit::textChanged, this, &CPdfOptionsPage::OnSizeTextEdited);
  connect(unitsBox, &QComboBox::currentIndexChanged, this, &CPdfOptionsPage::OnUnitsChanged);
  connect(predefinedBox, &QComboBox::activated, this, &CPdfOptionsPage::ChoosePredefined);
  connect(outputBox, &QComboBox::currentIndexChanged, this, &CPdfOptionsPage::OnOutputTypeChanged);
  connect(swapButton, &QToolButton::clicked, this, &CPdfOptionsPage::SwapWidthAndHeight);
  connect(browseButton, &QPushButton::clicked, this, &CPdfOptionsPage::Browse);
  connect(infoButton, &QPushButton::clicked, this, &CPdfOptionsPage::ShowDocumentInfo);
}

void CPdfOptionsPage::WriteControls() {
  writing = true;
  shownWidth = Number(width);
  shownHeight = Number(height);
  shownMargin = Number(margin);
  widthEdit->setText(shownWidth);
  heightEdit->setText(shownHeight);
  marginEdit->setText(shownMargin);
  unitsBox->setCurrentIndex(units);
  marginUnitLabel->setText(units == 1 ? tr("mm") : tr("Inch"));
  qualityBox->setCurrentText(quality);
  outputBox->setCurrentIndex(outputType);
  targetEdit->setText(target);
  layoutPaperBox->setChecked(useLayoutPaper);
  // The list shows the paper of this size, in either unit (the first of equal ones).
  predefinedBox->setCurrentIndex(MatchingPaper());
  writing = false;
}

int CPdfOptionsPage::MatchingPaper() const {
  const double toMm = units == 1 ? 1.0 : 25.4;
  for (int row = 0; kPredefinedPaperSizes[row].name; ++row) {
    const PaperSize& size = kPredefinedPaperSizes[row];
    const double sizeToMm = size.units == 1 ? 1.0 : 25.4;
    if (std::fabs(size.width * sizeToMm - width * toMm) < 0.05 &&
        std::fabs(size.height * sizeToMm - height * toMm) < 0.05) {
      return row;
    }
  }
  return -1;
}

bool CPdfOptionsPage::ReadControls(bool tell) {
  // A number the user did not change keeps the value behind it, not its rounded text.
  auto readNumber = [](QLineEdit* edit, const QString& shown, double* value) {
    if (edit->text() == shown) return true;
    return ParseNumber(edit->text(), value);
  };
  double newWidth = width;
  if (!readNumber(widthEdit, shownWidth, &newWidth) || !(newWidth > 0.0)) {
    if (tell) MessageBoxes().ShowMessage(this, tr("The PDF width must be greater than 0.0!"));
    widthEdit->setFocus();
    widthEdit->selectAll();
    return false;
  }
  double newHeight = height;
  if (!readNumber(heightEdit, shownHeight, &newHeight) || !(newHeight > 0.0)) {
    if (tell) MessageBoxes().ShowMessage(this, tr("The PDF height must be greater than 0.0!"));
    heightEdit->setFocus();
    heightEdit->selectAll();
    return false;
  }
  const QString qualityText = qualityBox->currentText();
  static const QRegularExpression wholeNumber("^\\s*\\d+$");
  bool ok = wholeNumber.match(qualityText).hasMatch();
  const int dpi = ok ? qualityText.trimmed().toInt(&ok) : 0;
  if (!ok || dpi <= 10) {
    if (tell) MessageBoxes().ShowMessage(this, tr("The DPI must be greater than 10!"));
    qualityBox->setFocus();
    return false;
  }
  double newMargin = margin;
  if (!readNumber(marginEdit, shownMargin, &newMargin)) newMargin = 0.0;
  width = newWidth;
  height = newHeight;
  units = unitsBox->currentIndex() == 0 ? 0 : 1;
  quality = qualityText.trimmed();
  margin = newMargin;
  outputType = outputBox->currentIndex();
  target = targetEdit->text();
  useLayoutPaper = layoutPaperBox->isChecked();
  shownWidth = widthEdit->text();
  shownHeight = heightEdit->text();
  shownMargin = marginEdit->text();
  return true;
}

void CPdfOptionsPage::OnSizeTextEdited() {
  // A size typed or written by hand is no longer the chosen paper.
  predefinedBox->setCurrentIndex(-1);
}

void CPdfOptionsPage::ChoosePredefined(int row) {
  const int count = static_cast<int>(std::size(kPredefinedPaperSizes)) - 1;
  if (row < 0 || row >= count) return;
  if (!ReadControls()) return;
  const PaperSize& size = kPredefinedPaperSizes[row];
  width = size.width;
  height = size.height;
  units = size.units;
  WriteControls();
  // Writing the numbers cleared the list; the row chosen stays shown.
  predefinedBox->setCurrentIndex(row);
}

void CPdfOptionsPage::OnUnitsChanged(int index) {
  if (writing) return;
  const int previous = units;
  // The numbers are read with the unit they were typed in.
  unitsBox->blockSignals(true);
  unitsBox->setCurrentIndex(previous);
  unitsBox->blockSignals(false);
  if (!ReadControls()) return;
  const int wanted = index == 0 ? 0 : 1;
  if (wanted != previous) {
    const double factor = wanted == 0 ? kMillimetresToInches : 25.4;
    width *= factor;
    height *= factor;
    margin *= factor;
    units = wanted;
  }
  WriteControls();
}

void CPdfOptionsPage::SwapWidthAndHeight() {
  if (!ReadControls()) return;
  std::swap(width, height);
  WriteControls();
}

void CPdfOptionsPage::OnOutputTypeChanged(int index) {
  outputType = index;
  UpdateTargetLabel();
}

void CPdfOptionsPage::SuggestTarget(const QString& firstDrawing) {
  if (outputBox->currentIndex() != 1 || !targetEdit->text().trimmed().isEmpty() ||
      firstDrawing.isEmpty()) {
    return;
  }
  const QFileInfo drawing(firstDrawing);
  target = drawing.absolutePath() + '/' + drawing.completeBaseName() + ".pdf";
  targetEdit->setText(target);
}

void CPdfOptionsPage::UpdateTargetLabel() {
  targetLabel->setText(outputBox->currentIndex() == 1 ? tr("Output PDF filename")
                                                      : tr("Output PDF files folder"));
}

void CPdfOptionsPage::Browse() {
  if (outputBox->currentIndex() == 1) {
    QFileDialog dialog(this, tr("Input PDF filename"), targetEdit->text(), tr("PDF file(*.pdf)"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix("pdf");
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
      targetEdit->setText(dialog.selectedFiles().first());
    }
  } else {
    const QString folder =
        QFileDialog::getExistingDirectory(this, tr("Select the output folder"), targetEdit->text());
    if (!folder.isEmpty()) targetEdit->setText(folder);
  }
}

void CPdfOptionsPage::ShowDocumentInfo() {
  CPDFInfoDlg dialog(settings, this);
  dialog.exec();
}

bool CPdfOptionsPage::CanLeave() {
  return ReadControls() && CheckTarget();
}

bool CPdfOptionsPage::CheckTarget() {
  if (outputType == 1) {
    if (target.isEmpty()) {
      MessageBoxes().ShowMessage(this, tr("You must input a PDF filename first!"));
      targetEdit->setFocus();
      return false;
    }
    if (!HasPdfExtension(target) &&
        !MessageBoxes().AskYesNo(
            this, tr("The target PDF file name is not like a PDF filename, do you want to "
                     "continue?\n%1")
                      .arg(target))) {
      return false;
    }
    return true;
  }
  if (target.isEmpty()) return true;
  if (HasPdfExtension(target) &&
      !MessageBoxes().AskYesNo(
          this, tr("The target folder name is not like a folder name, do you want to "
                   "continue?\n%1")
                    .arg(target))) {
    return false;
  }
  const std::string folder = target.toStdString();
  // Longer paths cannot be made or opened by the system.
  if (folder.size() >= PATH_MAX) {
    MessageBoxes().ShowMessage(
        this, tr("The target path is too long (at most %1 characters).\nPlease select another "
                 "folder.")
                  .arg(PATH_MAX - 1));
    return false;
  }
  std::error_code error;
  if (!fs::is_directory(folder, error)) {
    if (!MessageBoxes().AskOkCancel(
            this,
            tr("The target path \"%1\" does not exist, do you want to create it?").arg(target))) {
      return false;
    }
    if (!CreateFolderPath(folder)) {
      MessageBoxes().ShowMessage(
          this, tr("Can not create the target path!\nPlease select another folder."));
      return false;
    }
  }
  if (!target.endsWith('/')) {
    target += '/';
    targetEdit->setText(target);
  }
  return true;
}

void CPdfOptionsPage::StoreSettings() {
  // The wizard checked the page when the user left it; a value that is still refused (only
  // possible when the page was never left) keeps what the settings hold, and the run reports
  // a page it cannot make.
  if (!ReadControls(false)) return;
  settings.PdfWidth = width;
  settings.PdfHeight = height;
  settings.Margin = margin;
  settings.Units = static_cast<PaperUnit>(units);
  settings.PdfType = static_cast<OutputType>(outputType);
  settings.TargetPdf = target.toStdString();
  settings.Quality = quality.toInt();
  settings.UseLayoutPageSet = useLayoutPaper ? 1 : 0;
}
