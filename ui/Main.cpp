// tarnvelox: the desktop wizard.
#include <QApplication>
#include <QIcon>
#include <clocale>

#include "convert/ConvertSettings.h"
#include "pensets/PenSet.h"
#include "platform/Registry.h"
#include "ui/Application.h"

int main(int argc, char** argv) {
  // The process-wide objects in their order: the settings with their defaults, the
  // application, the current pen set.
  CConvertSettings& settings = CurrentSettings();
  QApplication app(argc, argv);
  QApplication::setApplicationName("tarnvelox");
  QApplication::setApplicationVersion(TARNVELOX_VERSION);
  // Qt takes the user's locale for the C library too; numbers in PDF files and in the settings
  // store must not get a decimal comma from it.
  std::setlocale(LC_NUMERIC, "C");
  QIcon icon;
  for (const int size : {16, 24, 32, 48, 64, 128, 256}) {
    icon.addFile(QString(":/images/tarnvelox-%1.png").arg(size), QSize(size, size));
  }
  QApplication::setWindowIcon(icon);
  // The desktop finds the program's icon and name through its desktop file.
  QGuiApplication::setDesktopFileName("tarnvelox");

  CPenSet& penSet = CurrentPenSet();
  RunApplication(settings, penSet, CRegistry::User());
  return 0;
}
