#pragma once

#include <cstdint>
#include <string>
#include <vector>

class CRegistry;

// Everything a conversion run needs. One instance lives for the whole process
// (CurrentSettings()); the wizard pages write it when a run starts, the run reads it, and the
// persisted part is loaded at start-up and saved at exit. Tests and the command line may make
// their own instances.
class CConvertSettings {
 public:
  // Full paths of the drawings to convert, in conversion order, and the bookmark text of each
  // (same index). Not persisted.
  std::vector<std::string> SourceFiles;
  std::vector<std::string> BookmarkNames;
  // 0 model space only, 1 all layouts, 2 the last active layout, 3 all paper spaces; any
  // other value converts as 1.
  std::int32_t Layout = 1;
  // 0 the last saved view, 1 zoom extents, 2 the layout's area; any other value as 0.
  std::int32_t Area = 1;
  // Zoom factor for Area 1 and 2; at least 0.001.
  double Scale = 0.98;
  // 0 true colours, 1 gray, 2 black and white.
  std::int32_t Colors = 0;
  std::uint8_t UsePenSets = 0;
  std::uint8_t ExportRaster = 1;
  // Folders in which the drawing library looks for files that drawings refer to. Saved under a
  // key of its own.
  std::vector<std::string> SearchPaths;
  std::uint8_t ExportLayer = 1;
  // Page size and margin (not persisted) in Units: 0 inch, 1 millimetre.
  double PdfWidth = 297.0;
  double PdfHeight = 210.0;
  double Margin = 0.0;
  // Take the page size of a paper layout from its own page set-up.
  std::uint8_t UseLayoutPageSet = 1;
  std::int32_t Units = 1;
  // Output resolution in dots per inch.
  std::int32_t Quality = 200;
  // 0 one PDF per drawing, 1 one merged PDF, 2 one PDF per layout.
  std::int32_t PdfType = 1;
  // PdfType 1: the merged PDF file. 0 and 2: the output folder (empty: next to each drawing).
  std::string TargetPdf;
  // Document information texts; empty ones are left out. Not persisted.
  std::string Title;
  std::string Author;
  std::string Subject;
  std::string Keywords;

  // Reads the persisted fields from the store. What is missing, of another type or size, or (for
  // Scale) not above 0.001 keeps its present value; nothing is reported.
  void LoadSettings(CRegistry& store);
  void LoadSettings();
  // Writes the persisted fields into the store, and the search folders so that no entry of a
  // longer earlier list is left. Failures are not reported.
  void SaveSettings(CRegistry& store) const;
  void SaveSettings() const;
  // Hands the search folders, joined by ";", to the drawing library. An empty list makes no
  // call, so folders given by an earlier run stay in force.
  void ApplySearchPaths() const;
};

// The process-wide settings, constructed with their defaults at first use.
CConvertSettings& CurrentSettings();

// The store's keys of the settings and of the search folders ("SearhPath" is spelled as
// earlier versions stored it).
inline constexpr char kParameterKey[] = "Software\\KESTRIM\\tarnvelox\\Parameter";
inline constexpr char kSearchPathKey[] = "Software\\Kestrim\\Common\\SearhPath";
