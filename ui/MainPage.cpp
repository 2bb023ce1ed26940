#include "ui/MainPage.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "ui/Label.h"
#include "ui/LinkLabel.h"
#include "ui/Product.h"

namespace {
const QColor kTitleColour(128, 0, 64);
constexpr int kTitleHeight = 22;
}  // namespace

CMainPage::CMainPage(QWidget* parent) : CCommonPage(parent) {
  QPalette white = palette();
  white.setColor(QPalette::Window, Qt::white);
  white.setColor(QPalette::Base, Qt::white);
  setPalette(white);
  setAutoFillBackground(true);

  auto* page = new QHBoxLayout(this);
  page->setContentsMargins(0, 0, 0, 0);
  page->setSpacing(0);

  auto* picture = new QLabel(this);
  picture->setPixmap(QPixmap(":/images/welcome.png"));
  picture->setAlignment(Qt::AlignTop | Qt::AlignLeft);
  page->addWidget(picture);

  auto* text = new QVBoxLayout;
  text->setContentsMargins(28, 36, 24, 20);
  text->setSpacing(6);
  page->addLayout(text, 1);

  auto* welcome = new CLabel(tr("Welcome to use"), this);
  welcome->SetTransparent(true);
  welcome->SetFontHeight(kTitleHeight);
  welcome->SetTextColor(kTitleColour);
  text->addWidget(welcome);
  auto* title = new CLabel(kDisplayName, this);
  title->SetTransparent(true);
  title->SetFontHeight(kTitleHeight);
  title->SetBold(true);
  title->SetTextColor(kTitleColour);
  text->addWidget(title);
  text->addSpacing(24);

  const QStringList lines = {
      tr("Converts engineering drawings into PDF files: every layout a page, drawn as lines, "
         "with a bookmark for each drawing and layout."),
      tr("Can export LAYER and RASTER image now."),
      tr("Please click \"Next\" button to continue..."),
  };
  for (const QString& line : lines) {
    auto* label = new QLabel(line, this);
    label->setWordWrap(true);
    text->addWidget(label);
    text->addSpacing(8);
  }
  text->addStretch(1);

  aboutLink = new CLinkLabel(tr("About ..."), this);
  text->addWidget(aboutLink, 0, Qt::AlignLeft);
  connect(aboutLink, &CLinkLabel::Clicked, this, &CMainPage::AboutRequested);
}
