#include "ui/Application.h"

#include <memory>

#include "convert/ConvertSettings.h"
#include "pensets/PenSet.h"
#include "render/Drawing.h"
#include "ui/MessageBoxes.h"
#include "ui/WizardDlg.h"

void RunApplication(CConvertSettings& settings, CPenSet& penSet, CRegistry& store,
                    const std::function<void(CWizardDlg&)>& runWizard) {
  InitDLL();
  DWG_SetBackgroundColor(0xFFFFFF);
  LoadCurrentPenSet(penSet, store);
  settings.LoadSettings(store);

  // The engine's messages appear as the wizard's message boxes.
  CMessageReporterScope reporter;
  auto wizard = std::make_unique<CWizardDlg>(settings);
  if (runWizard) {
    runWizard(*wizard);
  } else {
    wizard->exec();
  }
  // A run asked to stop still reads the settings and the pen set until it ends.
  wizard->WaitForRun();

  settings.SaveSettings(store);
  SaveCurrentPenSet(penSet, store);
  UninitDLL();
  wizard.reset();
}
