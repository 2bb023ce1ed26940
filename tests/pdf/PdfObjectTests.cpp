// Written forms of the object model's classes.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "pdf/PdfArray.h"
#include "pdf/PdfContentStream.h"
#include "pdf/PdfDictionary.h"
#include "pdf/PdfIndirectObject.h"
#include "pdf/PdfPrimitives.h"
#include "pdf/PdfXrefTable.h"

namespace {

// What object writes, through a memory file.
std::string Written(CPdfObject& object, CPdfXrefTable* xref = nullptr) {
  char* buffer = nullptr;
  std::size_t size = 0;
  std::FILE* file = open_memstream(&buffer, &size);
  object.Write(file, xref);
  std::fclose(file);
  std::string text(buffer, size);
  std::free(buffer);
  return text;
}

template <class T>
std::string Written(T&& object) {
  return Written(static_cast<CPdfObject&>(object));
}

}  // namespace

TEST(PdfObject, WritesScalarsAndEmptyContainers) {
  EXPECT_EQ(Written(CPdfInteger(-5)), "-5");
  EXPECT_EQ(Written(CPdfInteger(INT32_MIN)), "-2147483648");
  EXPECT_EQ(Written(CPdfName("Type")), "/Type");
  EXPECT_EQ(Written(CPdfArray()), "[]");
  EXPECT_EQ(Written(CPdfDictionary()), "<<>>");
  EXPECT_EQ(Written(CPdfReference(nullptr)), "null");
}

TEST(PdfString, EscapesParenthesesAndBackslashesOnly) {
  EXPECT_EQ(Written(CPdfString("a(b)\\c")), "(a\\(b\\)\\\\c)");
  EXPECT_EQ(Written(CPdfString("line\nbreak\ttab")), "(line\nbreak\ttab)")
      << "line breaks and tabs stay unescaped";
}

TEST(PdfString, WritesUtf8TextAsUtf16WithByteOrderMark) {
  // "Größe" and a character outside the basic plane, which needs a surrogate pair.
  EXPECT_EQ(Written(CPdfString("Gr\xC3\xB6\xC3\x9F"
                               "e")),
            std::string("(\xFE\xFF\0G\0r\0\xF6\0\xDF\0e)", 14));
  EXPECT_EQ(Written(CPdfString("\xF0\x9F\x98\x80")), std::string("(\xFE\xFF\xD8\x3D\xDE\x00)", 8));
  // U+0128 holds the byte 0x28, "(", and U+010D the byte 0x0D: both must survive a reader.
  EXPECT_EQ(Written(CPdfString("\xC4\xA8\xC4\x8D")), "(\xFE\xFF\x01\\(\x01\\r)");
}

TEST(PdfString, WritesBytesThatAreNotUtf8Unchanged) {
  EXPECT_EQ(Written(CPdfString("caf\xE9")), "(caf\xE9)") << "a Latin-1 byte";
  EXPECT_EQ(Written(CPdfString("\xC0\xAF")), "(\xC0\xAF)") << "an overlong form";
  EXPECT_EQ(Written(CPdfString("\xED\xA0\x80")), "(\xED\xA0\x80)") << "a lone surrogate";
  EXPECT_EQ(Written(CPdfString("ab\xE2\x82")), "(ab\xE2\x82)") << "a cut-off sequence";
}

TEST(PdfString, WritesNamesAndStringsLongerThan1023BytesWhole) {
  const std::string longText(5000, 'x');
  EXPECT_EQ(Written(CPdfString(longText)), "(" + longText + ")");
  EXPECT_EQ(Written(CPdfName(longText)), "/" + longText);
  const std::string parens(3000, '(');
  EXPECT_EQ(Written(CPdfString(parens)).size(), 6002u);
}

TEST(PdfArray, WritesElementsSeparatedBySpacesAndNullForMissingOnes) {
  CPdfArray array;
  array.Add(new CPdfInteger(3));
  array.Add("Name");
  array.Add(nullptr);  // ignored
  array.InsertFirst("First");
  EXPECT_EQ(Written(array), "[/First 3 /Name]");
  array.SetAt(1, nullptr);
  EXPECT_EQ(Written(array), "[/First null /Name]");
  array.RemoveAt(1);
  array.RemoveAt(7);  // out of range: ignored
  EXPECT_EQ(Written(array), "[/First /Name]");
  EXPECT_EQ(array.GetAt(2), nullptr);
}

TEST(PdfDictionary, SetKeepsThePositionAndAddAppendsDuplicates) {
  CPdfDictionary dict;
  dict.Add("Type", "Pages");
  dict.Add("Count", 2);
  dict.Set("Type", "text");  // Set with a text makes a literal string
  EXPECT_EQ(Written(dict), "<</Type (text)\n/Count 2>>");
  dict.Add("Count", 5);
  EXPECT_EQ(Written(dict), "<</Type (text)\n/Count 2\n/Count 5>>");
  EXPECT_EQ(static_cast<CPdfInteger*>(dict.Find("Count"))->Value(), 2) << "Find gives the first";
  dict.Remove("Count");
  EXPECT_EQ(Written(dict), "<</Type (text)>>");
  EXPECT_EQ(dict.Find("Count"), nullptr);
  EXPECT_EQ(dict.Find("type"), nullptr) << "keys are case-sensitive";
}

TEST(PdfDictionary, NestsWithoutLineBreaksAtTheDelimiters) {
  CPdfDictionary dict;
  dict.Add("Type", "Pages");
  auto* kids = new CPdfArray;
  int32_t counter = 3;
  CPdfIndirectObject three(&counter), four(&counter);
  kids->Add(new CPdfReference(&three));
  kids->Add(new CPdfReference(&four));
  dict.Add("Kids", kids);
  auto* inner = new CPdfDictionary;
  inner->Add("Order", new CPdfArray);
  dict.Add("D", inner);
  EXPECT_EQ(Written(dict), "<</Type /Pages\n/Kids [3 0 R 4 0 R]\n/D <</Order []>>>>");
}

TEST(PdfIndirectObject, TakesNumbersFromTheCounterAndRecordsItsOffset) {
  int32_t counter = 7;
  CPdfIndirectObject empty(&counter);
  CPdfIndirectObject full(&counter, new CPdfInteger(42));
  EXPECT_EQ(counter, 9);
  EXPECT_EQ(Written(empty), "7 0 obj\nnull\nendobj\n");
  CPdfXrefTable xref;
  EXPECT_EQ(Written(full, &xref), "8 0 obj\n42\nendobj\n");
  EXPECT_EQ(xref.Count(), 2) << "entry 0 and the object";
}

TEST(PdfXrefTable, SortsEntriesAndFillsNumbersNoObjectRecorded) {
  CPdfXrefTable xref;
  xref.AddEntry(2, 120, 0, true);
  xref.AddEntry(1, 9, 0, true);
  xref.SetSize(4);
  EXPECT_EQ(Written(xref),
            "xref\n0 4\n"
            "0000000000 65535 f \n"
            "0000000009 00000 n \n"
            "0000000120 00000 n \n"
            "0000000000 00000 f \n");
}

TEST(PdfXrefTable, WritesOffsetsBeyondTwoGigabytes) {
  CPdfXrefTable xref;
  xref.AddEntry(1, 5000000000LL, 0, true);
  EXPECT_EQ(Written(xref), "xref\n0 2\n0000000000 65535 f \n5000000000 00000 n \n");
}
