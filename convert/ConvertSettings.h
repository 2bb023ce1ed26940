#pragma once

#include <cstdint>
#include <string>
#include <vector>

class CRegistry;

// The choices of the settings. Their numbers are those the store keeps; a value outside the
// named ones (a store edited by hand) is kept as it is and converts as each field says.
enum class LayoutChoice : std::int32_t {
  ModelSpace = 0,
  AllLayouts = 1,
  ActiveLayout = 2,
  PaperLayouts = 3
};
enum class AreaChoice : std::int32_t { SavedView = 0, Extents = 1, LayoutArea = 2 };
enum class ColorMode : std::int32_t { TrueColors = 0, Gray = 1, BlackAndWhite = 2 };
enum class PaperUnit : std::int32_t { Inch = 0, Millimetre = 1 };
enum class OutputType : std::int32_t { PerDrawing = 0, Merged = 1, PerLayout = 2 };

// Everything a conversion run needs. The wizard's instance lives for the whole process
// (CurrentSettings()); its pages write it when a run starts, the run takes a copy, and the
// persisted part is loaded at start-up and saved at exit. Tests and the command line make their
// own instances.
class CConvertSettings {
 public:
  // Full paths of the drawings to convert, in conversion order, and the bookmark text of each
  // (same index). Not persisted.
  std::vector<std::string> SourceFiles;
  std::vector<std::string> BookmarkNames;
  // Model space only, all layouts, the last active layout, or all paper spaces; any other
  // value converts as all layouts.
  LayoutChoice Layout = LayoutChoice::AllLayouts;
  // The last saved view, zoom extents, or the layout's area; any other value as the saved view.
  AreaChoice Area = AreaChoice::Extents;
  // Zoom factor for Area 1 and 2; at least 0.001.
  double Scale = 0.98;
  // Any other value draws true colours.
  ColorMode Colors = ColorMode::TrueColors;
  std::uint8_t UsePenSets = 0;
  std::uint8_t ExportRaster = 1;
  // Folders in which the drawing library looks for files that drawings refer to. Saved under a
  // key of its own.
  std::vector<std::string> SearchPaths;
  // Drawings read the files they name only inside their own folder and SearchPaths (for
  // servers that convert drawings from strangers).
  std::uint8_t RestrictReferences = 0;
  // Lineweights reach the page exactly (0.25 mm is 0.709 points); cleared, they are rounded to
  // whole points as earlier versions did. Saved in the Option key.
  std::uint8_t ExactLineWeights = 1;
  // How hard the PDF streams are deflated: 0 fast (larger files), 1 default, 2 small (slower).
  // Saved in the Option key.
  std::uint8_t Compression = 1;
  std::uint8_t ExportLayer = 1;
  // Page size and margin (not persisted) in Units: 0 inch, 1 millimetre.
  double PdfWidth = 297.0;
  double PdfHeight = 210.0;
  double Margin = 0.0;
  // Take the page size of a paper layout from its own page set-up.
  std::uint8_t UseLayoutPageSet = 1;
  PaperUnit Units = PaperUnit::Millimetre;
  // Output resolution in dots per inch.
  std::int32_t Quality = 200;
  // One PDF per drawing, one merged PDF, or one PDF per layout; any other value writes one PDF
  // per drawing.
  OutputType PdfType = OutputType::Merged;
  // Merged: the merged PDF file. Otherwise the output folder (empty: next to each drawing).
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
  // The search folders joined by ";", as the drawing library takes them.
  std::string JoinedSearchPaths() const;
};

// The process-wide settings, constructed with their defaults at first use.
CConvertSettings& CurrentSettings();

// The store's keys of the settings and of the search folders ("SearhPath" is spelled as
// earlier versions stored it).
inline constexpr char kParameterKey[] = "Software\\KESTRIM\\tarnvelox\\Parameter";
inline constexpr char kSearchPathKey[] = "Software\\Kestrim\\Common\\SearhPath";
// The key of the options that are not conversion parameters of earlier versions.
inline constexpr char kOptionKey[] = "Software\\KESTRIM\\tarnvelox\\Option";
