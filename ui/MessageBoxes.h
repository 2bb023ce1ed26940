#pragma once

#include <QString>

class CMessageReporter;
class QWidget;

// Every message box of the wizard goes through this interface, so that tests can answer them.
// The texts are shown exactly as given, under the product's name.
class CMessageBoxes {
 public:
  virtual ~CMessageBoxes() = default;
  // A message with an OK button only.
  virtual void ShowMessage(QWidget* parent, const QString& text) = 0;
  // A question with Yes and No, No being the default button; true when the answer is Yes.
  virtual bool AskYesNo(QWidget* parent, const QString& text) = 0;
  // A question with OK and Cancel; true when the answer is OK. Answered like a Yes/No question
  // unless the boxes know better.
  virtual bool AskOkCancel(QWidget* parent, const QString& text) { return AskYesNo(parent, text); }
};

// The installed message boxes: Qt's own unless a test installed others.
CMessageBoxes& MessageBoxes();
// Installs boxes (not owned; null puts Qt's back) and returns the ones installed before.
CMessageBoxes* SetMessageBoxes(CMessageBoxes* boxes);

// Shows the engine's messages (ReportMessage) in the wizard's message boxes while it lives. A
// message from another thread is queued to the user-interface thread and shown there; the
// sender does not wait for it, so a worker never blocks on a user who is away.
class CWizardMessageReporter;

class CMessageReporterScope {
 public:
  CMessageReporterScope();
  ~CMessageReporterScope();
  CMessageReporterScope(const CMessageReporterScope&) = delete;
  CMessageReporterScope& operator=(const CMessageReporterScope&) = delete;

 private:
  CWizardMessageReporter* reporter;
  CMessageReporter* previous;
};
