#pragma once

#include <string>
#include <string_view>

// Names of the PDF files a run writes. Paths use "/" between folders.

// The folder form of an output folder: "/" appended unless it is empty or ends with one.
std::string WithTrailingSeparator(std::string_view folder);

// The PDF of one drawing: its path with the extension replaced by ".pdf", in targetFolder
// (which ends with "/") when that is not empty, else next to the drawing.
std::string DrawingPdfName(std::string_view drawingPath, std::string_view targetFolder);

// The PDF of one layout: "-" and the layout's name put before the extension of the drawing's
// PDF name ("plan.pdf", "Layout1" → "plan-Layout1.pdf").
std::string LayoutPdfName(std::string_view drawingPdf, std::string_view layoutName);

// A layout name made fit to be part of a file name: "/", "\" and control characters become
// "_". It always follows "name-" in a file name, so "." and ".." stay as they are.
std::string SafeFileNamePart(std::string_view name);

// The merged PDF of a run: the target with ".pdf" in place of any other extension (compared
// without regard to case, so "all.PDF" stays) and appended when there is none.
std::string MergedPdfName(std::string_view target);

// Whether a name ends in ".pdf", in any case.
bool HasPdfExtension(std::string_view name);
