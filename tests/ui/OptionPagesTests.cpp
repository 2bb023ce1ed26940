// The drawing and PDF option pages and the document information dialog: unit conversion, the
// predefined sizes, the quality and target checks with their questions and the folder they
// make, the scale limit, search paths, and what reaches the settings when a run starts.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include "convert/ConvertSettings.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/DwgOptionsPage.h"
#include "ui/PDFInfoDlg.h"
#include "ui/PdfOptionsPage.h"

using uitest::CScriptedMessageBoxes;

class OptionPagesTests : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void PredefinedSizesSetTheNumbersAndTheirUnit() {
    CConvertSettings settings;
    settings.Units = PaperUnit::Inch;
    settings.PdfWidth = 8.5;
    settings.PdfHeight = 11;
    CPdfOptionsPage page(settings);
    QCOMPARE(page.PredefinedBox()->count(), 32);
    // 8.5 × 11 inches is Letter, the first of the sizes that have it.
    QCOMPARE(page.PredefinedBox()->currentIndex(), 0);
    QCOMPARE(page.PredefinedBox()->itemText(22), QString("ISO B5 (182.00 x 237.00 MM)"));
    QCOMPARE(kPredefinedPaperSizes[22].height, 237.0);
    QCOMPARE(page.PredefinedBox()->itemText(30), QString("ISO C5 (229.00 x 162.00 MM)"));
    QVERIFY(kPredefinedPaperSizes[32].name == nullptr);

    // A3 landscape while the unit is inch: the numbers are the row's, not converted.
    page.ChoosePredefined(15);
    QCOMPARE(page.Width(), 420.0);
    QCOMPARE(page.Height(), 297.0);
    QCOMPARE(page.Units(), 1);
    QCOMPARE(page.UnitsBox()->currentText(), QString("mm"));
    QCOMPARE(page.WidthEdit()->text(), QString("420"));
    QCOMPARE(page.MarginUnitLabel()->text(), QString("mm"));
    QCOMPARE(page.PredefinedBox()->currentIndex(), 15);
    // Typing a size of one's own leaves the predefined list.
    page.WidthEdit()->setText("400");
    QCOMPARE(page.PredefinedBox()->currentIndex(), -1);
    page.SwapWidthAndHeight();
    QCOMPARE(page.Width(), 297.0);
    QCOMPARE(page.Height(), 400.0);
    QCOMPARE(page.PredefinedBox()->currentIndex(), -1);
  }

  void ThePaperListShowsThePaperOfTheSize() {
    CConvertSettings settings;
    settings.Units = PaperUnit::Millimetre;
    settings.PdfWidth = 210;
    settings.PdfHeight = 297;
    CPdfOptionsPage page(settings);
    QCOMPARE(page.PredefinedBox()->currentText(), QString("ISO A4 (210.00 x 297.00 MM)"));
    page.SwapWidthAndHeight();
    QCOMPARE(page.PredefinedBox()->currentText(), QString("ISO A4 (297.00 x 210.00 MM)"));
    // Shown in inches it is still A4.
    page.UnitsBox()->setCurrentIndex(0);
    QCOMPARE(page.PredefinedBox()->currentText(), QString("ISO A4 (297.00 x 210.00 MM)"));
    settings.PdfWidth = 211;
    CPdfOptionsPage other(settings);
    QCOMPARE(other.PredefinedBox()->currentIndex(), -1);
  }

  void SwitchingUnitsConvertsSizeAndMarginAndBack() {
    CConvertSettings settings;
    settings.Units = PaperUnit::Millimetre;
    settings.PdfWidth = 297;
    settings.PdfHeight = 210;
    CPdfOptionsPage page(settings);
    page.MarginEdit()->setText("10");
    page.UnitsBox()->setCurrentIndex(0);
    QVERIFY(page.WidthEdit()->text().startsWith("11.69"));
    QVERIFY(page.HeightEdit()->text().startsWith("8.26"));
    QVERIFY(page.MarginEdit()->text().startsWith("0.39"));
    QCOMPARE(page.MarginUnitLabel()->text(), QString("Inch"));
    page.UnitsBox()->setCurrentIndex(1);
    QVERIFY(qAbs(page.Width() - 297) < 1e-9);
    QVERIFY(qAbs(page.Height() - 210) < 1e-9);
    QVERIFY(qAbs(page.Margin() - 10) < 1e-9);
    QCOMPARE(page.WidthEdit()->text(), QString("297"));

    // A unit change is refused with the rest while a number is wrong.
    CScriptedMessageBoxes boxes;
    page.HeightEdit()->setText("-2");
    page.UnitsBox()->setCurrentIndex(0);
    QCOMPARE(boxes.messages.size(), 1);
    QCOMPARE(page.Units(), 1);
    QCOMPARE(page.UnitsBox()->currentIndex(), 1);
  }

  void QualityMustBeAWholeNumberAboveTen() {
    CConvertSettings settings;
    settings.PdfType = OutputType::PerDrawing;
    CPdfOptionsPage page(settings);
    QCOMPARE(page.QualityBox()->currentText(), QString("200"));
    for (const char* refused : {"150dpi", "10", "", "2.5e2", "-300"}) {
      CScriptedMessageBoxes boxes;
      page.QualityBox()->setCurrentText(refused);
      QVERIFY2(!page.CanLeave(), refused);
      QCOMPARE(boxes.messages, QStringList{"The DPI must be greater than 10!"});
    }
    CScriptedMessageBoxes boxes;
    page.QualityBox()->setCurrentText("11");
    QVERIFY(page.CanLeave());
    page.QualityBox()->setCurrentText("250");
    page.WidthEdit()->setText("0");
    QVERIFY(!page.CanLeave());
    QCOMPARE(boxes.messages, QStringList{"The PDF width must be greater than 0.0!"});
    QCOMPARE(settings.Quality, 200);  // nothing reaches the settings before a run
    page.WidthEdit()->setText("100,5");
    page.StoreSettings();
    QCOMPARE(settings.Quality, 250);
    QCOMPARE(settings.PdfWidth, 100.5);
  }

  void MergeTargetMustBeNamedAndLookLikeAPdf() {
    QTemporaryDir dir;
    CConvertSettings settings;
    settings.PdfType = OutputType::Merged;
    CPdfOptionsPage page(settings);
    QCOMPARE(page.TargetLabel()->text(), QString("Output PDF filename"));
    CScriptedMessageBoxes boxes;
    QVERIFY(!page.CanLeave());
    QCOMPARE(boxes.messages, QStringList{"You must input a PDF filename first!"});

    const QString text = dir.filePath("result.txt");
    page.TargetEdit()->setText(text);
    boxes.answers = {false, true};
    QVERIFY(!page.CanLeave());
    QVERIFY(page.CanLeave());
    QCOMPARE(boxes.questions.size(), 2);
    QCOMPARE(
        boxes.questions[0],
        "The target PDF file name is not like a PDF filename, do you want to continue?\n" + text);
    page.TargetEdit()->setText(dir.filePath("Result.PDF"));
    QVERIFY(page.CanLeave());
    QCOMPARE(boxes.questions.size(), 2);  // a .PDF name asks nothing
    page.StoreSettings();
    QCOMPARE(QString::fromStdString(settings.TargetPdf), dir.filePath("Result.PDF"));
    QCOMPARE(settings.PdfType, OutputType::Merged);
  }

  void MergeTargetStartsAsTheFirstDrawingsNameSoTheFirstNextGoesThrough() {
    CConvertSettings settings;
    settings.PdfType = OutputType::Merged;
    CPdfOptionsPage page(settings);
    page.SuggestTarget("/plans/site/House plan.dxf");
    QCOMPARE(page.TargetEdit()->text(), QString("/plans/site/House plan.pdf"));
    page.SuggestTarget("/plans/other.dxf");
    // A target the page holds is kept.
    QCOMPARE(page.TargetEdit()->text(), QString("/plans/site/House plan.pdf"));
    page.TargetEdit()->clear();
    page.OutputBox()->setCurrentIndex(0);
    page.SuggestTarget("/plans/other.dxf");
    QVERIFY2(page.TargetEdit()->text().isEmpty(), "one PDF per drawing: empty means beside each");
  }

  void FolderTargetIsMadeWhenTheUserAgrees() {
    QTemporaryDir dir;
    CConvertSettings settings;
    settings.PdfType = OutputType::PerDrawing;
    CPdfOptionsPage page(settings);
    QCOMPARE(page.TargetLabel()->text(), QString("Output PDF files folder"));
    CScriptedMessageBoxes boxes;
    QVERIFY2(page.CanLeave(), "an empty folder writes next to each drawing");
    QVERIFY(boxes.questions.isEmpty());

    const QString nested = dir.filePath("a/b");
    page.TargetEdit()->setText(nested);
    boxes.answers = {false};
    QVERIFY(!page.CanLeave());
    QCOMPARE(boxes.questions.last(),
             "The target path \"" + nested + "\" does not exist, do you want to create it?");
    QVERIFY(!QFileInfo::exists(dir.filePath("a")));
    boxes.answers = {true};
    QVERIFY(page.CanLeave());
    QVERIFY(QFileInfo(nested).isDir());
    QCOMPARE(page.TargetEdit()->text(), nested + "/");
    QVERIFY2(page.CanLeave(), "an existing folder asks nothing");
    QCOMPARE(boxes.questions.size(), 2);

    // A folder that looks like a PDF file asks first.
    page.TargetEdit()->setText(dir.filePath("maps.pdf"));
    boxes.answers = {false};
    QVERIFY(!page.CanLeave());
    QVERIFY(boxes.questions.last().startsWith("The target folder name is not like a folder name"));

    // A folder below a file cannot be made; one too long for the system is refused at once.
    QFile file(dir.filePath("plain"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    page.TargetEdit()->setText(dir.filePath("plain/sub"));
    boxes.answers = {true};
    QVERIFY(!page.CanLeave());
    QCOMPARE(boxes.messages.last(),
             QString("Can not create the target path!\nPlease select another folder."));
    page.TargetEdit()->setText(dir.filePath(QString(5000, 'x')));
    QVERIFY(!page.CanLeave());
    QVERIFY(boxes.messages.last().startsWith("The target path is too long"));
  }

  void CreatesEveryMissingFolderOfAPath() {
    QTemporaryDir dir;
    QVERIFY(CreateFolderPath(dir.filePath("x/y/z/").toStdString()));
    QVERIFY(QFileInfo(dir.filePath("x/y/z")).isDir());
    QVERIFY2(CreateFolderPath(dir.filePath("x/y").toStdString()), "existing folders are fine");
    QVERIFY(!CreateFolderPath(""));
  }

  void DocumentInformationIsKeptOnlyWithOk() {
    CConvertSettings settings;
    {
      CPDFInfoDlg dialog(settings);
      QCOMPARE(dialog.windowTitle(), QString("PDF file information"));
      dialog.TitleEdit()->setText("Harbour wall");
      dialog.KeywordsEdit()->setText("sheet piles; anchors");
      dialog.accept();
    }
    QCOMPARE(settings.Title, std::string("Harbour wall"));
    {
      CPDFInfoDlg dialog(settings);
      QCOMPARE(dialog.TitleEdit()->text(), QString("Harbour wall"));
      QCOMPARE(dialog.KeywordsEdit()->text(), QString("sheet piles; anchors"));
      dialog.AuthorEdit()->setText("Nobody");
      dialog.reject();
    }
    QVERIFY(settings.Author.empty());
  }

  void ScaleHasALowerLimitAndSearchPathsKeepTheirOrder() {
    CConvertSettings settings;
    settings.SearchPaths = {"/fonts", "/xrefs"};
    CDwgOptionsPage page(settings);
    QCOMPARE(page.PathList()->count(), 2);
    QVERIFY(!page.RemoveButton()->isEnabled());

    CScriptedMessageBoxes boxes;
    page.ScaleEdit()->setText("0.0005");
    QVERIFY(!page.CanLeave());
    QCOMPARE(boxes.messages.size(), 1);
    page.ScaleEdit()->setText("0.001");
    QVERIFY(page.CanLeave());

    page.AddSearchPath("/images");
    page.AddSearchPath("/images");
    page.PathList()->item(0)->setSelected(true);
    QVERIFY(page.RemoveButton()->isEnabled());
    page.RemoveSelectedPaths();
    QVERIFY(!page.RemoveButton()->isEnabled());
    page.LayoutBox()->setCurrentIndex(3);
    page.PenSetsBox()->setChecked(true);
    page.RasterBox()->setChecked(false);
    QCOMPARE(settings.SearchPaths.size(), 2u);  // nothing reaches the settings before a run
    page.StoreSettings();
    QCOMPARE(settings.SearchPaths, (std::vector<std::string>{"/xrefs", "/images", "/images"}));
    QCOMPARE(settings.Scale, 0.001);
    QCOMPARE(settings.Layout, LayoutChoice::PaperLayouts);
    QCOMPARE(settings.UsePenSets, std::uint8_t{1});
    QCOMPARE(settings.ExportRaster, std::uint8_t{0});

    page.PathList()->selectAll();
    page.RemoveSelectedPaths();
    page.StoreSettings();
    QVERIFY(settings.SearchPaths.empty());
  }

  void PenSetButtonOpensTheEditor() {
    CConvertSettings settings;
    CDwgOptionsPage page(settings);
    int opened = 0;
    CDwgOptionsPage::SetPenSetEditor([&](QWidget* parent) {
      ++opened;
      QCOMPARE(parent, static_cast<QWidget*>(&page));
    });
    page.PenSetButton()->click();
    QCOMPARE(opened, 1);
    CDwgOptionsPage::SetPenSetEditor(nullptr);
  }
};

QTEST_MAIN(OptionPagesTests)
#include "OptionPagesTests.moc"
