#include "ui/CommonPage.h"

#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QVBoxLayout>

#include "ui/BannerPicture.h"
#include "ui/Label.h"

CCommonPage::CCommonPage(QWidget* parent) : QWidget(parent) {}

void CCommonPage::UpdateParentButtons() {
  Q_EMIT NavigationChanged();
}

QString CCommonPage::Heading() const {
  return headingLabel ? headingLabel->text() : QString();
}

QVBoxLayout* CCommonPage::MakeStepLayout(const QString& heading) {
  auto* page = new QVBoxLayout(this);
  page->setContentsMargins(0, 0, 0, 0);
  page->setSpacing(0);

  banner = new CBannerPicture(QPixmap(":/images/banner.png"), this);
  headingLabel = new CLabel(heading, banner);
  headingLabel->SetTransparent(true);
  headingLabel->SetBold(true);
  headingLabel->SetFontHeight(16);
  headingLabel->SetTextColor(QColor(0x1e, 0x30, 0x48));
  banner->SetCaption(headingLabel, QMargins(16, 0, 16, 4));
  page->addWidget(banner);

  auto* body = new QVBoxLayout;
  body->setContentsMargins(16, 12, 16, 8);
  body->setSpacing(8);
  page->addLayout(body, 1);
  return body;
}

QLabel* CCommonPage::BuddyLabel(const QString& text, QWidget* buddy) {
  auto* label = new QLabel(text, this);
  label->setBuddy(buddy);
  return label;
}

QGridLayout* CCommonPage::MakeOptionGrid() {
  auto* grid = new QGridLayout;
  grid->setHorizontalSpacing(8);
  grid->setVerticalSpacing(10);
  return grid;
}

void CCommonPage::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape:
      event->accept();
      return;
    default:
      QWidget::keyPressEvent(event);
  }
}
