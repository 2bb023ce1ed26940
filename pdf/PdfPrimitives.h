#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "pdf/PdfObject.h"

class CPdfIndirectObject;

// A signed 32-bit integer, written in decimal.
class CPdfInteger : public CPdfObject {
 public:
  explicit CPdfInteger(std::int32_t value) : value(value) {}
  std::int32_t Value() const { return value; }
  void SetValue(std::int32_t newValue) { value = newValue; }
  void Write(std::FILE* file, CPdfXrefTable* xref) override;

 private:
  std::int32_t value;
};

// true or false.
class CPdfBoolean : public CPdfObject {
 public:
  explicit CPdfBoolean(bool value) : value(value) {}
  bool Value() const { return value; }
  void Write(std::FILE* file, CPdfXrefTable* xref) override;

 private:
  bool value;
};

// A name, written as a slash and its text unchanged. Names are made by the program itself
// ("Type", "IMG1", "oc2"), never from user text.
class CPdfName : public CPdfObject {
 public:
  explicit CPdfName(std::string_view text) : text(text) {}
  const std::string& Text() const { return text; }
  void Write(std::FILE* file, CPdfXrefTable* xref) override;

 private:
  std::string text;
};

// A literal string holding text (titles, layer names, document information). Backslashes and
// parentheses are escaped; text of plain ASCII is written byte for byte, UTF-8 text with
// characters above 127 as UTF-16BE with a byte-order mark so that viewers show it, and bytes
// that are not UTF-8 unchanged.
class CPdfString : public CPdfObject {
 public:
  explicit CPdfString(std::string_view text) : text(text) {}
  const std::string& Text() const { return text; }
  void Write(std::FILE* file, CPdfXrefTable* xref) override;

 private:
  std::string text;
};

// A reference to a numbered object, written "N G R"; "null" without a target. The target is
// borrowed: its owner keeps it alive until the document is written.
class CPdfReference : public CPdfObject {
 public:
  explicit CPdfReference(CPdfIndirectObject* target) : target(target) {}
  CPdfIndirectObject* Target() const { return target; }
  // Points the reference at another object, as when what it names moves to another document.
  void Retarget(CPdfIndirectObject* newTarget) { target = newTarget; }
  void Write(std::FILE* file, CPdfXrefTable* xref) override;

 private:
  CPdfIndirectObject* target;
};
