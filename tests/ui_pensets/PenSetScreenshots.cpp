// Writes pictures of the pen-set editor, the colour picker and the selection dialog, for a
// person to look at: pensets_screenshots OUTPUT_FOLDER (run with QT_QPA_PLATFORM=offscreen).
#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>

#include "pensets/PenSet.h"
#include "platform/Registry.h"
#include "tests/ui_pensets/PenSetTestFiles.h"
#include "tests/ui_pensets/ScriptedPrompts.h"
#include "ui/pensets/ColorPickerDlg.h"
#include "ui/pensets/PenSetDlg.h"
#include "ui/pensets/PenSetSelectDlg.h"

namespace {

void Save(QWidget& widget, const QString& folder, const QString& name) {
  widget.show();
  QApplication::processEvents();
  widget.grab().save(folder + u'/' + name);
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::currentPath();
  QTemporaryDir dir;
  CRegistry store((dir.path() + QStringLiteral("/registry.reg")).toStdString());
  for (int mark : {3, 5, 8}) {
    const CPenSet set = MarkedSet("Plotter " + std::to_string(mark), mark);
    StorePenSetTable(set.name, set.entries, store);
  }
  CPenSet current = MarkedSet("Plotter 5", 5);
  SavePenSet(current, current.name, store);
  CScriptedPrompts prompts;

  {
    CPenSetDlg editor(current, store, prompts);
    Save(editor, folder, QStringLiteral("editor-open.png"));
    auto* grid = editor.findChild<QTreeWidget*>(QStringLiteral("grid"));
    grid->topLevelItem(12)->setSelected(true);
    grid->scrollToItem(grid->topLevelItem(12));
    editor.findChild<QRadioButton*>(QStringLiteral("mmButton"))->setChecked(true);
    Save(editor, folder, QStringLiteral("editor-row.png"));
    for (int row = 13; row < 17; ++row) grid->topLevelItem(row)->setSelected(true);
    Save(editor, folder, QStringLiteral("editor-rows.png"));
  }
  {
    CColorPickerDlg picker(249);
    Save(picker, folder, QStringLiteral("picker.png"));
  }
  {
    CPenSetSelectDlg exporting(PenSetTransferMode::Export, store, prompts);
    Save(exporting, folder, QStringLiteral("select-export.png"));
    const QString file = dir.path() + QStringLiteral("/sets.cps");
    WritePenSetFile(file, {MarkedSet("Office A3", 1), MarkedSet("Office A4", 2)});
    CPenSetSelectDlg importing(PenSetTransferMode::Import, store, prompts);
    importing.TakeChosenFile(file);
    Save(importing, folder, QStringLiteral("select-import.png"));
  }
  {
    // The question of an import, taken from the screen while it waits for an answer.
    CQtPenSetPrompts qtPrompts(store);
    QTimer::singleShot(100, [&] {
      if (QWidget* box = QApplication::activeModalWidget()) {
        box->grab().save(folder + QStringLiteral("/overwrite.png"));
        box->close();
      }
    });
    qtPrompts.AskOverwrite(nullptr, QStringLiteral("Plotter 5"));
  }
  return 0;
}
