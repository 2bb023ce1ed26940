#pragma once

#include <functional>

class CConvertSettings;
class CPenSet;
class CRegistry;
class CWizardDlg;

// The program's life around the wizard, in this order: start the drawing library with a white
// background, read the current pen set and then the settings from store, run the wizard until
// it closes, wait for a run that is still stopping, write the settings and then the pen set,
// and shut the library down. Settings and pen set are read once and written once; what is
// written is their state when the wizard has closed (pages hand their values over only when a
// run starts).
//
// runWizard runs the wizard in place of its modal exec() (tests). Needs a QApplication.
void RunApplication(CConvertSettings& settings, CPenSet& penSet, CRegistry& store,
                    const std::function<void(CWizardDlg&)>& runWizard = {});
