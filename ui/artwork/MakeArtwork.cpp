// Draws the wizard's pictures and icons into PNG files: `tarnvelox_artwork DIR` writes them
// into DIR (ui/images in the source tree, where they are checked in). The pictures are kept as
// code so that a change of colour or size is one edit and one run, not a trip to an editor.
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <cmath>
#include <cstdio>
#include <numbers>

namespace {

// The palette: a calm slate blue with the wizard's burgundy as the one accent.
const QColor kSlate(0x2f, 0x4a, 0x6b);
const QColor kSlateDark(0x1e, 0x30, 0x48);
const QColor kSlateLight(0x7a, 0x93, 0xb0);
const QColor kLine(0x2e, 0x6d, 0xa4);
const QColor kAccent(128, 0, 64);
const QColor kPaper(0xff, 0xff, 0xff);

QImage NewImage(int width, int height) {
  QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  return image;
}

bool Save(const QImage& image, const QString& dir, const QString& name) {
  const QString path = QDir(dir).filePath(name);
  if (!image.save(path, "PNG")) {
    std::fprintf(stderr, "tarnvelox_artwork: cannot write %s\n", qPrintable(path));
    return false;
  }
  return true;
}

// A sheet of paper with its top-right corner folded, in a unit box of 100 × 100.
QPainterPath SheetOutline(double fold) {
  QPainterPath sheet;
  sheet.moveTo(16, 6);
  sheet.lineTo(84 - fold, 6);
  sheet.lineTo(84, 6 + fold);
  sheet.lineTo(84, 94);
  sheet.lineTo(16, 94);
  sheet.closeSubpath();
  return sheet;
}

// The program icon: a drawing sheet with a small machine part on it and a burgundy PDF band.
QImage ProgramIcon(int size) {
  QImage image = NewImage(size, size);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(size / 100.0, size / 100.0);

  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0, 0, 0, 40));
  p.drawPath(SheetOutline(20).translated(1.5, 2));
  p.setBrush(kPaper);
  p.setPen(QPen(kSlate, 2.5, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
  p.drawPath(SheetOutline(20));
  QPainterPath fold;
  fold.moveTo(64, 6);
  fold.lineTo(64, 26);
  fold.lineTo(84, 26);
  p.setBrush(QColor(0xdd, 0xe5, 0xee));
  p.drawPath(fold);

  // The part: a flange with a bore and centre lines.
  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(kLine, 3));
  p.drawEllipse(QPointF(46, 46), 18, 18);
  p.setPen(QPen(kLine, 2.2));
  p.drawEllipse(QPointF(46, 46), 7, 7);
  p.setPen(QPen(kSlateLight, 1.4, Qt::DashDotLine));
  p.drawLine(QPointF(22, 46), QPointF(70, 46));
  p.drawLine(QPointF(46, 22), QPointF(46, 70));

  // The band.
  p.setPen(Qt::NoPen);
  p.setBrush(kAccent);
  p.drawRect(QRectF(16, 74, 68, 20));
  if (size >= 32) {
    QFont font("DejaVu Sans");
    font.setBold(true);
    font.setPixelSize(15);
    p.setFont(font);
    p.setPen(kPaper);
    p.drawText(QRectF(16, 74, 68, 20), Qt::AlignCenter, "PDF");
  }
  return image;
}

// A faint drafting grid over a rectangle.
void Grid(QPainter& p, const QRectF& area, double step, const QColor& colour) {
  p.setPen(QPen(colour, 1));
  for (double x = area.left(); x <= area.right(); x += step) {
    p.drawLine(QPointF(x, area.top()), QPointF(x, area.bottom()));
  }
  for (double y = area.top(); y <= area.bottom(); y += step) {
    p.drawLine(QPointF(area.left(), y), QPointF(area.right(), y));
  }
}

// The drawing sheet of the banner's motif: a part with its centre lines, in motif units.
void DrawPartSheet(QPainter& p) {
  p.setPen(QPen(kSlateLight, 1.5));
  p.setBrush(kPaper);
  p.drawRect(QRectF(10, 12, 48, 36));
  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(kLine, 1.6));
  p.drawEllipse(QPointF(34, 30), 11, 11);
  p.drawEllipse(QPointF(34, 30), 4, 4);
  p.setPen(QPen(kSlateLight, 1, Qt::DashDotLine));
  p.drawLine(QPointF(18, 30), QPointF(50, 30));
  p.drawLine(QPointF(34, 15), QPointF(34, 45));
}

// The band across the top of each step page: light, with a drafting motif at the right and a
// thin burgundy rule at the bottom. The heading is drawn over its left part by the page.
QImage Banner(int width, int height, bool motif = true) {
  QImage image = NewImage(width, height);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient background(0, 0, width, 0);
  background.setColorAt(0.0, QColor(0xff, 0xff, 0xff));
  background.setColorAt(0.55, QColor(0xf4, 0xf7, 0xfa));
  background.setColorAt(1.0, QColor(0xdf, 0xe7, 0xf0));
  p.fillRect(image.rect(), background);

  // The grid fades in towards the right.
  const QRectF gridArea(width * 0.55, 0, width * 0.45, height);
  QLinearGradient fade(gridArea.left(), 0, gridArea.right(), 0);
  fade.setColorAt(0.0, QColor(0xd3, 0xdd, 0xe8, 0));
  fade.setColorAt(1.0, QColor(0xd3, 0xdd, 0xe8, 255));
  p.save();
  p.setClipRect(gridArea);
  QImage gridLayer = NewImage(width, height);
  {
    QPainter g(&gridLayer);
    Grid(g, QRectF(0, 0, width, height), 8, QColor(0xc9, 0xd5, 0xe2));
    g.setCompositionMode(QPainter::CompositionMode_DestinationIn);
    g.fillRect(gridArea, fade);
  }
  p.drawImage(0, 0, gridLayer);
  p.restore();

  // A sheet with a part drawing, an arrow and a PDF sheet.
  if (motif) {
    const double s = height / 64.0;
    p.translate(width - 150 * s, 0);
    p.scale(s, s);
    DrawPartSheet(p);
    p.setPen(QPen(kSlate, 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawLine(QPointF(66, 30), QPointF(86, 30));
    p.drawLine(QPointF(80, 24), QPointF(86, 30));
    p.drawLine(QPointF(80, 36), QPointF(86, 30));
    p.save();
    p.translate(88, 4);
    p.scale(0.56, 0.56);
    p.setPen(QPen(kSlate, 2.5));
    p.setBrush(kPaper);
    p.drawPath(SheetOutline(20));
    p.setPen(Qt::NoPen);
    p.setBrush(kAccent);
    p.drawRect(QRectF(16, 74, 68, 20));
    p.restore();
    p.resetTransform();
  }

  // The rule at the bottom.
  QLinearGradient rule(0, 0, width, 0);
  rule.setColorAt(0.0, kAccent);
  rule.setColorAt(1.0, QColor(kAccent.red(), kAccent.green(), kAccent.blue(), 60));
  p.fillRect(QRectF(0, height - 2, width, 2), rule);
  return image;
}

// One frame of the convert page's header animation, drawn over the right end of the banner in
// place of its motif: the drawing sheet, the arrow and the PDF sheet, with the arrow's pulse
// moving and the PDF sheet filling in from frame 0 to frame 4. Same size and scale as the
// banner's motif, on the banner's own background, so the frames cover it seamlessly.
QImage ConvertFrame(int frame, int bannerWidth, int height) {
  constexpr int kMotifWidth = 150;
  const double s = height / 64.0;
  const int width = static_cast<int>(kMotifWidth * s);
  const QImage background = Banner(bannerWidth, height, false);
  QImage image = background.copy(bannerWidth - width, 0, width, height);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(s, s);

  // The drawing sheet, as in the banner.
  DrawPartSheet(p);

  // The arrow, faint, with a bright pulse that travels along it.
  p.setPen(QPen(kSlateLight, 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.drawLine(QPointF(64, 30), QPointF(86, 30));
  p.drawLine(QPointF(80, 24), QPointF(86, 30));
  p.drawLine(QPointF(80, 36), QPointF(86, 30));
  const double pulse = 62 + frame * 5.5;
  p.setPen(Qt::NoPen);
  p.setBrush(kAccent);
  p.drawEllipse(QPointF(pulse, 30), 3.2, 3.2);

  // The PDF sheet: its part drawing grows with the frames, the burgundy band comes last.
  p.translate(88, 4);
  p.scale(0.56, 0.56);
  p.setPen(QPen(kSlate, 2.5));
  p.setBrush(kPaper);
  p.drawPath(SheetOutline(20));
  p.setBrush(Qt::NoBrush);
  if (frame >= 1) {
    p.setPen(QPen(kLine, 2.8));
    p.drawArc(QRectF(28, 22, 36, 36), 90 * 16, frame >= 2 ? 360 * 16 : 180 * 16);
  }
  if (frame >= 3) {
    p.setPen(QPen(kLine, 2.4));
    p.drawEllipse(QPointF(46, 40), 7, 7);
    p.setPen(QPen(kSlateLight, 1.6, Qt::DashDotLine));
    p.drawLine(QPointF(22, 40), QPointF(70, 40));
  }
  p.setPen(Qt::NoPen);
  p.setBrush(frame >= 4 ? kAccent : QColor(kAccent.red(), kAccent.green(), kAccent.blue(), 60));
  p.drawRect(QRectF(16, 74, 68, 20));
  return image;
}

// The picture down the left side of the welcome page: a blueprint with a part and a sheet.
QImage WelcomePicture(int width, int height) {
  QImage image = NewImage(width, height);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient background(0, 0, 0, height);
  background.setColorAt(0.0, kSlate);
  background.setColorAt(1.0, kSlateDark);
  p.fillRect(image.rect(), background);
  Grid(p, QRectF(0, 0, width, height), 12, QColor(255, 255, 255, 18));
  Grid(p, QRectF(0, 0, width, height), 60, QColor(255, 255, 255, 30));

  const QColor ink(0xcf, 0xe0, 0xf2);
  const double cx = width / 2.0;
  // A flange: outer rim, bore and a bolt circle of six holes, with centre lines.
  const QPointF centre(cx, height * 0.3);
  const double r = width * 0.32;
  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(ink, 2));
  p.drawEllipse(centre, r, r);
  p.drawEllipse(centre, r * 0.38, r * 0.38);
  p.setPen(QPen(ink, 1.4));
  for (int i = 0; i < 6; ++i) {
    const double a = i * std::numbers::pi / 3;
    p.drawEllipse(centre + QPointF(std::cos(a) * r * 0.7, std::sin(a) * r * 0.7), r * 0.09,
                  r * 0.09);
  }
  p.setPen(QPen(QColor(ink.red(), ink.green(), ink.blue(), 150), 1, Qt::DashDotLine));
  p.drawLine(centre - QPointF(r + 12, 0), centre + QPointF(r + 12, 0));
  p.drawLine(centre - QPointF(0, r + 12), centre + QPointF(0, r + 12));
  p.drawEllipse(centre, r * 0.7, r * 0.7);
  // A dimension line under it.
  p.setPen(QPen(ink, 1));
  const double dy = centre.y() + r + 22;
  p.drawLine(QPointF(cx - r, dy), QPointF(cx + r, dy));
  p.drawLine(QPointF(cx - r, dy - 5), QPointF(cx - r, dy + 5));
  p.drawLine(QPointF(cx + r, dy - 5), QPointF(cx + r, dy + 5));

  // An arrow down to a PDF sheet.
  p.setPen(QPen(ink, 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  const double top = height * 0.6;
  p.drawLine(QPointF(cx, top), QPointF(cx, top + 26));
  p.drawLine(QPointF(cx - 7, top + 19), QPointF(cx, top + 26));
  p.drawLine(QPointF(cx + 7, top + 19), QPointF(cx, top + 26));
  p.save();
  const double sheet = width * 0.5;
  p.translate(cx - sheet / 2, top + 36);
  p.scale(sheet / 100, sheet / 100);
  p.setPen(QPen(ink, 2.5));
  p.setBrush(kPaper);
  p.drawPath(SheetOutline(20));
  p.setPen(QPen(kLine, 2));
  for (int i = 0; i < 4; ++i) p.drawLine(QPointF(26, 34 + i * 9), QPointF(74 - i * 6, 34 + i * 9));
  p.setPen(Qt::NoPen);
  p.setBrush(kAccent);
  p.drawRect(QRectF(16, 74, 68, 20));
  QFont font("DejaVu Sans");
  font.setBold(true);
  font.setPixelSize(15);
  p.setFont(font);
  p.setPen(kPaper);
  p.drawText(QRectF(16, 74, 68, 20), Qt::AlignCenter, "PDF");
  p.restore();
  return image;
}

// The About box's banner: the program icon and the display name on the page banner.
QImage AboutBanner(int width, int height) {
  QImage image = Banner(width, height, false);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  const int icon = height - 24;
  p.drawImage(QRect(14, 10, icon, icon), ProgramIcon(icon * 2));
  QFont font("DejaVu Sans");
  font.setBold(true);
  font.setPixelSize(22);
  p.setFont(font);
  p.setPen(kAccent);
  p.drawText(QRectF(14 + icon + 14, 0, width, height - 2), Qt::AlignVCenter | Qt::AlignLeft,
             "tarnvelox");
  return image;
}

// The help button's icon: a question mark in a slate circle.
QImage HelpIcon(int size) {
  QImage image = NewImage(size, size);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(size / 24.0, size / 24.0);
  QRadialGradient ball(QPointF(9, 8), 14);
  ball.setColorAt(0.0, QColor(0x4a, 0x6d, 0x96));
  ball.setColorAt(1.0, kSlate);
  p.setPen(Qt::NoPen);
  p.setBrush(ball);
  p.drawEllipse(QRectF(1, 1, 22, 22));
  QFont font("DejaVu Sans");
  font.setBold(true);
  font.setPixelSize(16);
  p.setFont(font);
  p.setPen(kPaper);
  p.drawText(QRectF(1, 1, 22, 22), Qt::AlignCenter, "?");
  return image;
}

// The move buttons' icons: a filled arrow, pointing up or down.
QImage ArrowIcon(int size, bool up) {
  QImage image = NewImage(size, size);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(size / 24.0, size / 24.0);
  if (!up) {
    p.translate(0, 24);
    p.scale(1, -1);
  }
  QPainterPath arrow;
  arrow.moveTo(12, 3);
  arrow.lineTo(21, 13);
  arrow.lineTo(15.5, 13);
  arrow.lineTo(15.5, 21);
  arrow.lineTo(8.5, 21);
  arrow.lineTo(8.5, 13);
  arrow.lineTo(3, 13);
  arrow.closeSubpath();
  p.setPen(QPen(kSlateDark, 1.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.setBrush(kSlate);
  p.drawPath(arrow);
  return image;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: tarnvelox_artwork DIR\n");
    return 64;
  }
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  const QString dir = QString::fromLocal8Bit(argv[1]);
  QDir().mkpath(dir);
  bool ok = true;
  for (const int size : {16, 24, 32, 48, 64, 128, 256}) {
    ok &= Save(ProgramIcon(size), dir, QString("tarnvelox-%1.png").arg(size));
  }
  ok &= Save(Banner(640, 64), dir, "banner.png");
  for (int frame = 0; frame < 5; ++frame) {
    ok &= Save(ConvertFrame(frame, 640, 64), dir, QString("convert-%1.png").arg(frame + 1));
  }
  ok &= Save(WelcomePicture(180, 400), dir, "welcome.png");
  ok &= Save(AboutBanner(420, 90), dir, "about.png");
  ok &= Save(HelpIcon(24), dir, "help.png");
  ok &= Save(HelpIcon(48), dir, "help@2x.png");
  ok &= Save(ArrowIcon(16, true), dir, "up.png");
  ok &= Save(ArrowIcon(32, true), dir, "up@2x.png");
  ok &= Save(ArrowIcon(16, false), dir, "down.png");
  ok &= Save(ArrowIcon(32, false), dir, "down@2x.png");
  return ok ? 0 : 1;
}
