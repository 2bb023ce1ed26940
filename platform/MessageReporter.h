#pragma once

#include <string_view>

// Where the engine's message boxes go. The engine never opens a window: the wizard installs
// a reporter that shows the text in a message box, the command line one that prints it, and
// tests one that records it. Without a reporter the text goes to standard error.
class CMessageReporter {
 public:
  virtual ~CMessageReporter() = default;
  // Shows one message with an OK button only. May be called from the conversion worker.
  virtual void ShowMessage(std::string_view text) = 0;
};

// Installs the process-wide reporter (not owned; null restores the standard-error default).
// Returns the one installed before, so that a caller can put it back.
CMessageReporter* SetMessageReporter(CMessageReporter* reporter);

// Shows text through the installed reporter.
void ReportMessage(std::string_view text);
