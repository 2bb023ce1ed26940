// The custom controls: link label, icon button, colour edit and colour box.
#include <QSignalSpy>
#include <QTextBlock>
#include <QtTest>

#include "ui/ColorBox.h"
#include "ui/ColorEdit.h"
#include "ui/IconButton.h"
#include "ui/LinkLabel.h"

namespace {

QIcon SolidIcon(const QColor& colour) {
  QPixmap pixmap(16, 16);
  pixmap.fill(colour);
  return QIcon(pixmap);
}

// Whether any pixel of the image is clearly coloured (not a shade of gray).
bool HasColouredPixel(const QImage& image) {
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      const QColor c = image.pixelColor(x, y);
      if (std::max({c.red(), c.green(), c.blue()}) - std::min({c.red(), c.green(), c.blue()}) > 60)
        return true;
    }
  }
  return false;
}

}  // namespace

class ControlsTests : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void LinkLabelFitsItsTextAndKeepsItsLowerLeftCorner() {
    QWidget dialog;
    CLinkLabel link("About ...", &dialog);
    link.move(20, 100);
    const QPoint lowerLeft = link.geometry().bottomLeft();
    const int shortWidth = link.width();
    QCOMPARE(shortWidth, link.fontMetrics().horizontalAdvance("About ...") + 2);

    link.SetText("About tarnvelox and its licence ...");
    QVERIFY(link.width() > shortWidth);
    QCOMPARE(link.geometry().bottomLeft(), lowerLeft);
    link.SetText("A");
    QVERIFY(link.width() < shortWidth);
    QCOMPARE(link.geometry().bottomLeft(), lowerLeft);
  }

  void LinkLabelIsActivatedByMouseAndKeyboard() {
    CLinkLabel link("About ...");
    link.show();
    QSignalSpy clicked(&link, &CLinkLabel::Clicked);
    QTest::mouseClick(&link, Qt::LeftButton);
    QTest::keyClick(&link, Qt::Key_Space);
    QTest::keyClick(&link, Qt::Key_Return);
    QCOMPARE(clicked.count(), 3);
    QTest::mouseClick(&link, Qt::RightButton);
    QCOMPARE(clicked.count(), 3);
    QCOMPARE(link.cursor().shape(), Qt::PointingHandCursor);

    QEnterEvent enter(QPointF(2, 2), QPointF(2, 2), QPointF(2, 2));
    QApplication::sendEvent(&link, &enter);
    QVERIFY(link.IsHover());
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(&link, &leave);
    QVERIFY(!link.IsHover());
  }

  void IconButtonSwapsItsTwoIconsOnHoverAndGraysWhenDisabled() {
    CIconButton button;
    const QIcon hoverIcon = SolidIcon(Qt::red);
    const QIcon restIcon = SolidIcon(Qt::blue);
    button.SetIcon(hoverIcon, restIcon);
    button.SetTooltipText("Move up the selected files");
    QCOMPARE(button.toolTip(), QString("Move up the selected files"));
    QVERIFY(button.IsFlat());
    QCOMPARE(button.icon().cacheKey(), restIcon.cacheKey());
    QEnterEvent enter(QPointF(2, 2), QPointF(2, 2), QPointF(2, 2));
    QApplication::sendEvent(&button, &enter);
    QCOMPARE(button.icon().cacheKey(), hoverIcon.cacheKey());
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(&button, &leave);
    QCOMPARE(button.icon().cacheKey(), restIcon.cacheKey());

    button.SetIcon(hoverIcon);
    button.resize(28, 28);
    button.show();
    QVERIFY(HasColouredPixel(button.grab().toImage()));
    button.setEnabled(false);
    QVERIFY2(!HasColouredPixel(button.grab().toImage()), "a disabled button shows a coloured icon");
  }

  void ColorEditReportsTheDoubleClickedLine() {
    CColorEdit edit;
    const QString longLine(1500, 'x');
    edit.setPlainText("Starting converting...\nConverting: plan.dxf\n" + longLine);
    edit.resize(400, 200);
    edit.show();
    QVERIFY(QTest::qWaitForWindowExposed(&edit));
    QSignalSpy clicked(&edit, &CColorEdit::LineDoubleClicked);
    for (const int line : {1, 2}) {
      QTextCursor cursor(edit.document()->findBlockByNumber(line));
      const QPoint at = edit.cursorRect(cursor).center() + QPoint(4, 0);
      QTest::mouseDClick(edit.viewport(), Qt::LeftButton, Qt::NoModifier, at);
    }
    QCOMPARE(clicked.count(), 2);
    QCOMPARE(clicked.at(0).at(0).toInt(), 1);
    QCOMPARE(clicked.at(0).at(1).toString(), QString("Converting: plan.dxf"));
    QCOMPARE(clicked.at(1).at(0).toInt(), 2);
    QCOMPARE(clicked.at(1).at(1).toString(), longLine.left(1023));
  }

  void ColorBoxPaintsOnlyWhenShown() {
    QWidget dialog;
    dialog.setAutoFillBackground(true);
    QPalette background = dialog.palette();
    background.setColor(QPalette::Window, Qt::green);
    dialog.setPalette(background);
    CColorBox box(&dialog);
    box.setGeometry(10, 10, 20, 20);
    box.SetColor(Qt::blue);
    dialog.resize(40, 40);
    dialog.show();
    QCOMPARE(dialog.grab().toImage().pixelColor(20, 20), QColor(Qt::green));
    box.SetShown(true);
    QCOMPARE(dialog.grab().toImage().pixelColor(20, 20), QColor(Qt::blue));
  }
};

QTEST_MAIN(ControlsTests)
#include "ControlsTests.moc"
