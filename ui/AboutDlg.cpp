#include "ui/AboutDlg.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/BannerPicture.h"
#include "ui/Label.h"
#include "ui/Product.h"

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle(tr("About %1").arg(kDisplayName));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 12);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  auto* banner = new CBannerPicture(QPixmap(":/images/about.png"), this);
  banner->setFixedSize(banner->sizeHint());
  layout->addWidget(banner);

  auto* body = new QVBoxLayout;
  body->setContentsMargins(20, 8, 20, 0);
  auto* version = new CLabel(kVersionText, this);
  version->SetTransparent(true);
  version->SetBold(true);
  body->addWidget(version);
  auto* what = new QLabel(tr("Converts engineering drawings into PDF files."), this);
  body->addWidget(what);
  auto* buttons = new QDialogButtonBox(this);
  QPushButton* ok = buttons->addButton(tr("OK"), QDialogButtonBox::AcceptRole);
  ok->setDefault(true);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  body->addWidget(buttons);
  layout->addLayout(body);
}
