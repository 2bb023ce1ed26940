#include "platform/MessageReporter.h"

#include <atomic>
#include <cstdio>

namespace {
std::atomic<CMessageReporter*> installedReporter{nullptr};
}  // namespace

CMessageReporter* SetMessageReporter(CMessageReporter* reporter) {
  return installedReporter.exchange(reporter);
}

void ReportMessage(std::string_view text) {
  if (CMessageReporter* reporter = installedReporter.load()) {
    reporter->ShowMessage(text);
    return;
  }
  std::fprintf(stderr, "%.*s\n", static_cast<int>(text.size()), text.data());
}
