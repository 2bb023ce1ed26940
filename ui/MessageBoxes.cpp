#include "ui/MessageBoxes.h"

#include <QApplication>
#include <QMessageBox>
#include <QMetaObject>
#include <QThread>
#include <atomic>

#include "platform/MessageReporter.h"
#include "ui/Product.h"

namespace {

class CQtMessageBoxes : public CMessageBoxes {
 public:
  void ShowMessage(QWidget* parent, const QString& text) override {
    QMessageBox box(QMessageBox::Information, kDisplayName, text, QMessageBox::Ok, parent);
    box.exec();
  }
  bool AskYesNo(QWidget* parent, const QString& text) override {
    QMessageBox box(QMessageBox::Question, kDisplayName, text, QMessageBox::Yes | QMessageBox::No,
                    parent);
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
  }
  bool AskOkCancel(QWidget* parent, const QString& text) override {
    QMessageBox box(QMessageBox::Question, kDisplayName, text,
                    QMessageBox::Ok | QMessageBox::Cancel, parent);
    return box.exec() == QMessageBox::Ok;
  }
};

CQtMessageBoxes qtMessageBoxes;
std::atomic<CMessageBoxes*> installedBoxes{nullptr};

QWidget* ActiveWindow() {
  return QApplication::activeModalWidget() ? QApplication::activeModalWidget()
                                           : QApplication::activeWindow();
}

}  // namespace

CMessageBoxes& MessageBoxes() {
  CMessageBoxes* boxes = installedBoxes.load();
  return boxes ? *boxes : qtMessageBoxes;
}

CMessageBoxes* SetMessageBoxes(CMessageBoxes* boxes) {
  return installedBoxes.exchange(boxes);
}

class CWizardMessageReporter : public CMessageReporter {
 public:
  void ShowMessage(std::string_view text) override {
    const QString message = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    QCoreApplication* app = QCoreApplication::instance();
    if (!app) return;
    if (QThread::currentThread() == app->thread()) {
      MessageBoxes().ShowMessage(ActiveWindow(), message);
    } else {
      QMetaObject::invokeMethod(
          app, [message] { MessageBoxes().ShowMessage(ActiveWindow(), message); },
          Qt::QueuedConnection);
    }
  }
};

CMessageReporterScope::CMessageReporterScope()
    : reporter(new CWizardMessageReporter), previous(SetMessageReporter(reporter)) {}

CMessageReporterScope::~CMessageReporterScope() {
  SetMessageReporter(previous);
  delete reporter;
}
